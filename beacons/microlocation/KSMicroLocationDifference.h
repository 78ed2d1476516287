#pragma once

#include <memory>
#include <vector>

#include "beacons/microlocation/KSMicroLocation.h"

namespace velmora::kestrine {

// Whether the last snapshot of the list differs from the first in what the host sees: the
// sites listed, and per listed site its group's size and each beacon's presence (by
// beaconID) and proximity. Accuracy and signal changes never count, nor the "" group of
// beacons without a site. An empty list is not different, a list of one always is.
// Beacons are indexed by id, so a pair of snapshots costs O(S·B).
bool microLocationsAreDifferent(const std::vector<std::shared_ptr<KSMicroLocation>>& microLocations);

}  // namespace velmora::kestrine
