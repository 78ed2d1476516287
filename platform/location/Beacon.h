#pragma once

#include <cstdint>

#include "platform/core/Date.h"
#include "platform/core/Uuid.h"

namespace velmora::platform::location {

// How near a ranged beacon is, with the platform's numbers.
enum class Proximity { Unknown = 0, Immediate = 1, Near = 2, Far = 3 };

// One beacon in a ranging report.
struct Beacon {
  Uuid proximityUUID;
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  Proximity proximity = Proximity::Unknown;
  // Metres; negative when unknown.
  double accuracy = -1;
  // dBm; 0 when the beacon was not heard in the last second.
  int rssi = 0;
  Date timestamp;

  friend bool operator==(const Beacon&, const Beacon&) = default;
};

}  // namespace velmora::platform::location
