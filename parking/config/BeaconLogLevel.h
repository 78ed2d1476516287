#pragma once

#include <cstdint>
#include <optional>

namespace velmora {

// How much the parking layer logs. Levels are ordered by raw value: none < low < med < high.
enum class BeaconLogLevel : int { none = 0, low = 1, med = 2, high = 3 };

// The level with that raw value, or nullopt for any value outside 0...3.
constexpr std::optional<BeaconLogLevel> beaconLogLevelFromRawValue(std::int64_t rawValue) {
  if (rawValue < 0 || rawValue > 3) return std::nullopt;
  return static_cast<BeaconLogLevel>(rawValue);
}

constexpr int rawValue(BeaconLogLevel level) { return static_cast<int>(level); }

}  // namespace velmora
