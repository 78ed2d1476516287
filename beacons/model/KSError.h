#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSValidationError.h"

namespace velmora::kestrine {

// A platform error: its message, the status code of the failed call and the per-field failures.
struct KSError {
  std::optional<std::string> message;
  std::int64_t statusCode = 0;
  std::vector<KSValidationError> validationErrors;
};

}  // namespace velmora::kestrine
