#include "beacons/ranging/KSRangedBeaconLists.h"

#include <unordered_set>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconArray.h"

namespace velmora::kestrine {

KSRangedBeaconLists KSRangedBeaconLists::fromRangedBeacons(const Beacons& ranged) {
  using namespace beacon_array;
  KSRangedBeaconLists lists;
  lists.crowdSourceCandidates = filteredBeaconArrayUsingBeaconAccessRole(ranged, 3);
  lists.kestrine = filteredBeaconArrayUsingBeaconAccessRole(ranged, 2);
  lists.analytics = filteredBeaconArrayUsingBeaconAccessRole(ranged, 1);
  lists.newborn = filteredBeaconArrayUsingNewborn(ranged, true);
  lists.iBeacons = filteredBeaconArrayUsingIsIBeacon(ranged, true);
  lists.eddystone = filteredBeaconArrayUsingIsEddystone(ranged, true);
  lists.measurement = filteredBeaconArrayUsingHasRawMeasurementData(ranged, true);
  // The union keeps the pass's order, so listeners see it sorted by distance like the rest.
  std::unordered_set<const KSBeacon*> inUnion;
  inUnion.reserve(ranged.size());
  for (const auto* list : {&lists.kestrine, &lists.iBeacons, &lists.eddystone}) {
    for (const auto& b : *list) inUnion.insert(b.get());
  }
  std::unordered_set<const KSBeacon*> added;
  added.reserve(ranged.size());
  for (const auto& b : ranged) {
    if (!b || !(inUnion.count(b.get()) || b->hasIdentifierData())) continue;
    if (added.insert(b.get()).second) lists.all.push_back(b);
  }
  return lists;
}

}  // namespace velmora::kestrine
