#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/http/KSInputStream.h"
#include "beacons/http/KSMultipartBodyStream.h"
#include "beacons/http/KSURLRequest.h"
#include "platform/core/Error.h"

namespace velmora::kestrine {

// The builder a multipart request's caller adds parts with.
class KSMultipartFormData {
 public:
  virtual ~KSMultipartFormData() = default;

  // A file part named after the URL's last path component, typed by its extension.
  virtual bool appendPartWithFileURL(std::string_view fileURL, std::string_view name, platform::Error* error = nullptr) = 0;
  // A file part: the URL must be a "file:" URL of a file that exists; the file is read
  // when the body is sent.
  virtual bool appendPartWithFileURL(std::string_view fileURL, std::string_view name, std::string_view fileName,
                                     std::string_view mimeType, platform::Error* error = nullptr) = 0;
  // A part read from a stream, which must deliver exactly `length` bytes.
  virtual void appendPartWithInputStream(std::shared_ptr<KSInputStream> inputStream, std::string_view name,
                                         std::string_view fileName, std::int64_t length,
                                         std::string_view mimeType) = 0;
  virtual void appendPartWithFileData(std::string data, std::string_view name, std::string_view fileName,
                                      std::string_view mimeType) = 0;
  virtual void appendPartWithFormData(std::string data, std::string_view name) = 0;
  virtual void appendPartWithHeaders(KSHTTPBodyPart::Headers headers, std::string body) = 0;
  virtual void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) = 0;
};

// The MIME type the extension stands for ("png" -> "image/png"), or
// "application/octet-stream" for extensions not in the table.
std::string KSContentTypeForPathExtension(std::string_view extension);

// Builds a multipart/form-data body as a stream over its parts.
class KSStreamingMultipartFormData final : public KSMultipartFormData {
 public:
  KSStreamingMultipartFormData(KSURLRequest request, std::uint64_t stringEncoding);

  const std::string& boundary() const { return boundary_; }
  std::uint64_t stringEncoding() const { return stringEncoding_; }
  const std::shared_ptr<KSMultipartBodyStream>& bodyStream() const { return bodyStream_; }

  bool appendPartWithFileURL(std::string_view fileURL, std::string_view name, platform::Error* error = nullptr) override;
  bool appendPartWithFileURL(std::string_view fileURL, std::string_view name, std::string_view fileName,
                             std::string_view mimeType, platform::Error* error = nullptr) override;
  void appendPartWithInputStream(std::shared_ptr<KSInputStream> inputStream, std::string_view name,
                                 std::string_view fileName, std::int64_t length, std::string_view mimeType) override;
  void appendPartWithFileData(std::string data, std::string_view name, std::string_view fileName,
                              std::string_view mimeType) override;
  void appendPartWithFormData(std::string data, std::string_view name) override;
  void appendPartWithHeaders(KSHTTPBodyPart::Headers headers, std::string body) override;
  void throttleBandwidthWithPacketSize(std::uint64_t numberOfBytes, double delay) override;

  // The request with the body stream, "Content-Type: multipart/form-data; boundary=..."
  // and "Content-Length"; unchanged when no part was added.
  KSURLRequest requestByFinalizingMultipartFormData();

 private:
  void append(KSHTTPBodyPart::Headers headers, KSHTTPBodyPart::Body body, std::uint64_t length);

  KSURLRequest request_;
  std::uint64_t stringEncoding_;
  std::string boundary_;
  std::shared_ptr<KSMultipartBodyStream> bodyStream_;
};

}  // namespace velmora::kestrine
