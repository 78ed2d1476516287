#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/core/Error.h"

namespace velmora::platform::net {

// A request body read in pieces while it is sent. read() answers the bytes copied (more
// than 0), 0 at the end, -1 on failure (the task then fails), or kPaused when the stream
// is throttled: the transfer is paused, not the I/O thread, and asks again after
// resumeDelay().
class BodyStream {
 public:
  static constexpr std::int64_t kPaused = -2;

  virtual ~BodyStream() = default;
  virtual void open() = 0;
  virtual void close() = 0;
  virtual std::int64_t read(std::uint8_t* buffer, std::size_t maxLength) = 0;
  virtual std::optional<Error> streamError() const = 0;
  virtual std::chrono::microseconds resumeDelay() const { return std::chrono::microseconds(0); }
  // A new, unopened stream that reads the same bytes from their start, for a body that has
  // to go out again (a redirect that keeps the method); null when this one cannot be read
  // a second time.
  virtual std::shared_ptr<BodyStream> copy() const { return nullptr; }

  // A stream over a file, opened by open(); a file that cannot be opened fails the read.
  static std::shared_ptr<BodyStream> withFile(std::filesystem::path path);
};

// Where an upload's body comes from: bytes in memory, a file read while it is sent, or a
// stream.
using UploadBody = std::variant<std::string, std::filesystem::path, std::shared_ptr<BodyStream>>;

}  // namespace velmora::platform::net
