#pragma once

#include <algorithm>
#include <cmath>

#include "platform/core/Date.h"

namespace velmora::platform::location {

// One position fix.
struct Location {
  double latitude = 0;
  double longitude = 0;
  // Metres; negative when the fix is invalid.
  double horizontalAccuracy = -1;
  double altitude = 0;
  double verticalAccuracy = -1;
  Date timestamp;

  // The mean radius of the Earth, in metres, that distances are measured on.
  static constexpr double meanEarthRadius = 6371008.8;

  // The great-circle distance in metres to another fix (haversine, on the mean sphere);
  // altitude and accuracy play no part.
  double distanceFromLocation(const Location& other) const {
    constexpr double radians = 3.14159265358979323846 / 180.0;
    const double dLat = (other.latitude - latitude) * radians;
    const double dLon = (other.longitude - longitude) * radians;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(latitude * radians) * std::cos(other.latitude * radians) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * meanEarthRadius * std::asin(std::sqrt(std::min(1.0, a)));
  }

  friend bool operator==(const Location&, const Location&) = default;
};

}  // namespace velmora::platform::location
