#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/Value.h"

namespace velmora::platform {

// An error as the SDK reports it: a domain, an integer code, a text meant for a person,
// and a dictionary of further details. Errors are values; nothing in the SDK throws them.
struct Error {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
  Dict userInfo;

  Error() = default;
  Error(std::string errorDomain, std::int64_t errorCode, std::string description, Dict info = {})
      : domain(std::move(errorDomain)),
        code(errorCode),
        localizedDescription(std::move(description)),
        userInfo(std::move(info)) {}

  // The user-info entry kDebugDescriptionKey as text, or empty.
  std::string debugDescription() const;

  friend bool operator==(const Error&, const Error&) = default;
};

// User-info keys used across the platform layer.
inline constexpr std::string_view kDebugDescriptionKey = "debugDescription";
inline constexpr std::string_view kCodingPathKey = "codingPath";
inline constexpr std::string_view kUnderlyingErrorKey = "underlyingError";
inline constexpr std::string_view kFailingURLKey = "failingURL";

// Errors of reading and writing data (JSON text, records).
namespace coding {
inline constexpr std::string_view kDomain = "platform.coding";
enum Code : std::int64_t {
  kReadCorrupt = 4864,      // not the expected format or type
  kValueNotFound = 4865,    // a required value is missing
  kWriteInvalidValue = 4866 // a value cannot be written (NaN, invalid text)
};
// "The data couldn't be read because it isn't in the correct format." with the debug
// description and coding path in userInfo.
Error readError(Code code, std::string_view debugDescription, std::string_view codingPath = {});
Error writeError(std::string_view debugDescription, std::string_view codingPath = {});
}  // namespace coding

}  // namespace velmora::platform
