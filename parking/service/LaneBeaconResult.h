#pragma once

#include <cstdint>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// One beacon mounted at a lane, as the parking service lists it under a lane's
// "laneBeacons". Only the beacon's identity travels; its live readings are kept in the
// LaneBeaconModel built from it by toModel(const LaneBeaconResult&). Keys are "laneBeaconId" and "beaconId" (lower-case d),
// distinct from the "beaconID" of the details request.
struct LaneBeaconResult {
  std::int64_t laneBeaconId = 0;
  std::string beaconId;

  // Missing or null keys keep 0 and ""; a value of another JSON type fails the record and,
  // through it, the lane and the reply that hold it.
  static LaneBeaconResult decode(RecordDecoder& d);
  // Always writes both keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
