#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"

namespace velmora::kestrine {

// The errors of the JSON model layer: domain, codes, texts and user-info keys of record
// import. Each factory makes a platform::Error; the description is its localizedDescription.
class KSJSONModelError {
 public:
  KSJSONModelError() = delete;

  enum Code : std::int64_t {
    kInvalidData = 1,
    kBadResponse = 2,
    kBadJSON = 3,
    kModelIsInvalid = 4,
    kInputIsNil = 5,
  };

  // "Invalid JSON data: <message>".
  static platform::Error errorInvalidDataWithMessage(std::string_view message);
  // Code 1; kKSJSONModelMissingKeys holds the names as an array of text.
  static platform::Error errorInvalidDataWithMissingKeys(const std::vector<std::string>& names);
  // Code 1; kKSJSONModelTypeMismatch holds the message.
  static platform::Error errorInvalidDataWithTypeMismatch(std::string_view message);
  static platform::Error errorBadResponse();
  static platform::Error errorBadJSON();
  static platform::Error errorModelIsInvalid();
  static platform::Error errorInputIsNil();

  // The same error with `component` put in front of its key path: "[2]" before "name" gives
  // "[2].name", "categories" before "[2].name" gives "categories[2].name" (no "." before an
  // index), "site" before that gives "site.categories[2].name".
  static platform::Error errorByPrependingKeyPathComponent(const platform::Error& error, std::string_view component);

  // The key path of an error of this layer, or empty.
  static std::string keyPath(const platform::Error& error);
};

inline constexpr std::string_view KSJSONModelErrorDomain = "KSJSONModelErrorDomain";
inline constexpr std::string_view kKSJSONModelMissingKeys = "kKSJSONModelMissingKeys";
inline constexpr std::string_view kKSJSONModelTypeMismatch = "kKSJSONModelTypeMismatch";
inline constexpr std::string_view kKSJSONModelKeyPath = "kKSJSONModelKeyPath";

}  // namespace velmora::kestrine
