#pragma once

#include <memory>
#include <vector>

namespace velmora::kestrine {

class KSBeacon;

// One ranging pass cut into the lists the hub sends, each in the pass's order.
struct KSRangedBeaconLists {
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

  // Access role 3: beacons this phone may update unasked.
  Beacons crowdSourceCandidates;
  Beacons kestrine;      // 1: access role 2
  Beacons analytics;     // 2: access role 1
  Beacons newborn;       // 3
  Beacons iBeacons;      // 4
  Beacons eddystone;     // 5: UID or URL frames
  Beacons all;           // 6: lists 1, 4, 5 and the identifier beacons, each beacon once
  Beacons measurement;   // 7: raw measurement data

  static KSRangedBeaconLists fromRangedBeacons(const Beacons& ranged);
};

}  // namespace velmora::kestrine
