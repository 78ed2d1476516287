#pragma once

#include "platform/core/Date.h"

namespace platform::location {

// One position fix.
struct Location {
  double latitude = 0;
  double longitude = 0;
  // Metres; negative when the fix is invalid.
  double horizontalAccuracy = -1;
  double altitude = 0;
  double verticalAccuracy = -1;
  Date timestamp;

  friend bool operator==(const Location&, const Location&) = default;
};

}  // namespace platform::location
