#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "beacons/http/KSInputStream.h"
#include "platform/core/Clock.h"

namespace velmora::kestrine {

inline constexpr std::uint64_t kKSUploadStream3GSuggestedPacketSize = 16384;
inline constexpr double kKSUploadStream3GSuggestedDelay = 0.2;

// One part of a multipart body: its boundary line, headers, body and, for the last part,
// the closing boundary. The body is read from memory, a file (opened when the part is
// read) or a stream, and exactly bodyContentLength bytes of it are sent: that count went
// into the request's Content-Length, so a body that ends early fails the read instead of
// sending a short request, and one that runs on is cut there.
class KSHTTPBodyPart {
 public:
  using Body = std::variant<std::string, std::filesystem::path, std::shared_ptr<KSInputStream>>;
  using Headers = std::vector<std::pair<std::string, std::string>>;

  KSHTTPBodyPart(Headers headers, std::string boundary, Body body, std::uint64_t bodyContentLength);
  ~KSHTTPBodyPart();

  const Headers& headers() const { return headers_; }
  const std::string& boundary() const { return boundary_; }
  const Body& body() const { return body_; }
  std::uint64_t bodyContentLength() const { return bodyContentLength_; }
  bool hasInitialBoundary = false;
  bool hasFinalBoundary = false;

  // The bytes this part adds to the body.
  std::uint64_t contentLength() const;
  bool hasBytesAvailable() const;
  // Fills up to maxLength bytes across the part's phases; 0 once the part is done, -1 on a
  // body failure (see streamError()).
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength);
  std::optional<platform::Error> streamError() const { return error_; }

  // A fresh copy at its first phase. A stream body is shared, not duplicated.
  std::unique_ptr<KSHTTPBodyPart> copy() const;

 private:
  enum class Phase { Boundary = 1, Headers = 2, Body = 3, FinalBoundary = 4, Done = 5 };
  std::string phaseBytes(Phase phase) const;
  void transition();
  KSInputStream& inputStream();

  Headers headers_;
  std::string boundary_;
  Body body_;
  std::uint64_t bodyContentLength_;
  Phase phase_ = Phase::Boundary;
  std::string currentBytes_;
  std::size_t phaseReadOffset_ = 0;
  std::uint64_t bodyBytesRead_ = 0;
  std::shared_ptr<KSInputStream> inputStream_;
  std::optional<platform::Error> error_;
};

// The body of a multipart request, read part after part while it is sent. Throttling
// (throttleBandwidthWithPacketSize) bounds each read to the packet size and, after each
// part read, pauses the stream for the delay: read() then answers kPaused until the delay
// has passed on the stream's clock, so the reader's thread is never put to sleep.
class KSMultipartBodyStream final : public KSInputStream {
 public:
  explicit KSMultipartBodyStream(std::uint64_t stringEncoding,
                                   std::shared_ptr<platform::Clock> clock = platform::Clock::system());

  void setClock(std::shared_ptr<platform::Clock> clock);
  std::uint64_t numberOfBytesInPacket() const;
  double delay() const;
  void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay);
  std::uint64_t stringEncoding() const { return stringEncoding_; }

  void appendHTTPBodyPart(std::unique_ptr<KSHTTPBodyPart> part);
  // Marks the first part with the opening boundary and the last with the closing one.
  void setInitialAndFinalBoundaries();
  std::uint64_t contentLength() const;
  bool empty() const;
  std::size_t partCount() const;

  void open() override;
  void close() override;
  std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) override;
  bool hasBytesAvailable() const override;
  Status streamStatus() const override;
  std::optional<platform::Error> streamError() const override;
  std::chrono::microseconds resumeDelay() const override;

  // A new, unopened stream with a copy of every part.
  std::shared_ptr<KSMultipartBodyStream> copy() const;

 private:
  void setBoundariesLocked();

  mutable std::mutex mutex_;
  const std::uint64_t stringEncoding_;
  std::shared_ptr<platform::Clock> clock_;
  std::uint64_t numberOfBytesInPacket_ = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  double delay_ = 0;
  std::vector<std::unique_ptr<KSHTTPBodyPart>> HTTPBodyParts_;
  std::size_t currentPart_ = 0;
  Status status_ = Status::NotOpen;
  std::optional<platform::Error> error_;
  std::chrono::microseconds resumeAt_{0};
};

}  // namespace velmora::kestrine
