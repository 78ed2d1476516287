#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "beacons/model/KSBeaconRegion.h"

namespace velmora::kestrine {

// One loaded page of a region sync, from the cloud API to the region manager.
struct KSBeaconRegionSyncResult {
  std::optional<std::int64_t> httpStatusCode;  // 200 for a loaded page
  std::vector<std::shared_ptr<KSBeaconRegion>> beaconRegions;  // in the order received
};

}  // namespace velmora::kestrine
