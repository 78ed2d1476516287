#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::kestrine {

// The SDK's default proximity UUID: the one its beacons advertise before they are set up.
inline constexpr std::string_view KSProximityUUIDString = "61687109-905F-4436-91F8-E602F514C96D";

// The iBeacon key by which the SDK indexes an iBeacon identity everywhere (beacon cache,
// store, ranging), and the test for the default keep-alive iBeacon the parser drops.
class KSBeaconUtilities {
 public:
  // "UUID:major:minor" upper-cased, the UUID in its canonical 8-4-4-4-12 form when the text is
  // one (any letter case in gives the same key). Nothing when the UUID text is absent or
  // empty, or either number is absent.
  static std::optional<std::string> iBeaconKeyForProximityUUIDString(std::optional<std::string_view> proximityUUIDString,
                                                                     std::optional<std::uint16_t> major,
                                                                     std::optional<std::uint16_t> minor);

  // True for major 0, minor 0 and KSProximityUUIDString in any letter case; false otherwise,
  // also when any of the three is absent.
  static bool isDefaultKeepAliveMajor(std::optional<std::uint16_t> major, std::optional<std::uint16_t> minor,
                                      std::optional<std::string_view> proximityUUIDString);
};

}  // namespace velmora::kestrine
