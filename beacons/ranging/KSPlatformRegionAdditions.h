#pragma once

#include <optional>

#include "platform/location/Beacon.h"
#include "platform/location/BeaconRegion.h"

namespace velmora::kestrine {

class KSBeaconRegion;

// Platform ranged beacons seen through the SDK's regions.
namespace cl_beacon {

// True when the region has a keep-alive major and minor and the beacon has exactly that
// identity under the region's proximity UUID (compared ignoring case).
bool isInKeepAliveRegion(const platform::location::Beacon& beacon, const KSBeaconRegion& region);

}  // namespace cl_beacon

// Platform regions made from the SDK's regions.
namespace cl_beacon_region {

// The platform region for the UUID, narrowed by major, and by minor only with a major; it
// notifies on entry, on exit and of its state on display. nullopt when the region's UUID is
// missing or not a UUID.
std::optional<platform::location::BeaconRegion> clBeaconRegionWithKSBeaconRegion(const KSBeaconRegion& region);

}  // namespace cl_beacon_region

}  // namespace velmora::kestrine
