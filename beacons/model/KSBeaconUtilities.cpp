#include "beacons/model/KSBeaconUtilities.h"

#include <fmt/format.h>

#include "platform/core/AsciiText.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {

std::optional<std::string> KSBeaconUtilities::iBeaconKeyForProximityUUIDString(
    std::optional<std::string_view> proximityUUIDString, std::optional<std::uint16_t> major,
    std::optional<std::uint16_t> minor) {
  if (!proximityUUIDString || proximityUUIDString->empty() || !major || !minor) return std::nullopt;
  std::string key;
  if (auto canonical = platform::Uuid::canonical(*proximityUUIDString)) {
    key = std::move(*canonical);
  } else {
    key.assign(*proximityUUIDString);
  }
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  fmt::format_to(std::back_inserter(key), ":{}:{}", *major, *minor);
  return key;
}

bool KSBeaconUtilities::isDefaultKeepAliveMajor(std::optional<std::uint16_t> major, std::optional<std::uint16_t> minor,
                                                std::optional<std::string_view> proximityUUIDString) {
  return major == 0 && minor == 0 && proximityUUIDString &&
         platform::equalsIgnoringAsciiCase(*proximityUUIDString, KSProximityUUIDString);
}

}  // namespace velmora::kestrine
