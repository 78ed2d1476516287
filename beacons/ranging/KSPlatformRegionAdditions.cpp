#include "beacons/ranging/KSPlatformRegionAdditions.h"

#include "beacons/model/KSBeaconRegion.h"
#include "platform/core/AsciiText.h"

namespace velmora::kestrine {

bool cl_beacon::isInKeepAliveRegion(const platform::location::Beacon& beacon, const KSBeaconRegion& region) {
  const auto major = region.keepAliveMajor();
  const auto minor = region.keepAliveMinor();
  const auto& uuid = region.proximityUUIDString();
  if (!major || !minor || !uuid) return false;
  return platform::equalsIgnoringAsciiCase(*uuid, beacon.proximityUUID.string()) && *major == beacon.major &&
         *minor == beacon.minor;
}

std::optional<platform::location::BeaconRegion> cl_beacon_region::clBeaconRegionWithKSBeaconRegion(
    const KSBeaconRegion& region) {
  const auto& text = region.proximityUUIDString();
  auto uuid = text ? platform::Uuid::parse(*text) : std::nullopt;
  if (!uuid) return std::nullopt;
  const std::string identifier = region.identifier().value_or("");
  auto made = [&] {
    if (region.major() && region.minor()) {
      return platform::location::BeaconRegion::make(*uuid, *region.major(), *region.minor(), identifier);
    }
    if (region.major()) return platform::location::BeaconRegion::make(*uuid, *region.major(), identifier);
    return platform::location::BeaconRegion::make(*uuid, identifier);
  }();
  made.notifyOnEntry = true;
  made.notifyOnExit = true;
  made.notifyEntryStateOnDisplay = true;
  return made;
}

}  // namespace velmora::kestrine
