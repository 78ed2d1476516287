#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::kestrine {

// One failed field of a platform call: the resource and property it names, and its code.
struct KSValidationError {
  std::optional<std::string> resource;
  std::optional<std::string> property;
  std::int64_t errorCode = 0;
};

}  // namespace velmora::kestrine
