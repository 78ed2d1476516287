#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"

namespace velmora::kestrine {

inline constexpr std::string_view KSStreamErrorDomain = "platform.posix";

// A source of bytes read in pieces, as a request body is sent. read() answers the number
// of bytes copied (more than 0), 0 at the end, -1 on failure (see streamError()), or
// kPaused when the stream is throttled: nothing is read now, ask again after resumeDelay().
// A reader on an I/O thread pauses its transfer rather than wait.
class KSInputStream {
 public:
  enum class Status { NotOpen, Opening, Open, Reading, Writing, AtEnd, Closed, Error };
  static constexpr std::int64_t kPaused = -2;

  virtual ~KSInputStream() = default;
  virtual void open() = 0;
  virtual void close() = 0;
  virtual std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const = 0;
  virtual Status streamStatus() const = 0;
  virtual std::optional<platform::Error> streamError() const = 0;
  // How long a paused stream wants the reader to wait; zero when it is not paused.
  virtual std::chrono::microseconds resumeDelay() const { return std::chrono::microseconds(0); }

  // A stream over bytes held in memory, and one over a file opened on open().
  static std::shared_ptr<KSInputStream> withData(std::string data);
  static std::shared_ptr<KSInputStream> withFile(std::filesystem::path path);
};

}  // namespace velmora::kestrine
