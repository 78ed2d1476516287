#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "parking/user_api/RecordCodec.h"

namespace velmora {

class LaneBeaconModel;

// One beacon mounted at a lane, as the parking service lists it under a lane's
// "laneBeacons". Only the beacon's identity travels; its live readings are kept in the
// LaneBeaconModel built from it. Keys are "laneBeaconId" and "beaconId" (lower-case d),
// distinct from the "beaconID" of the details request.
struct LaneBeaconResult {
  std::int64_t laneBeaconId = 0;
  std::string beaconId;

  // Missing or null keys keep 0 and ""; a value of another JSON type fails the record and,
  // through it, the lane and the reply that hold it.
  static LaneBeaconResult decode(RecordDecoder& d);
  // Always writes both keys.
  void encode(RecordEncoder& e) const;

  // A new lane-beacon model with this record's two ids; every reading at its initial value.
  static std::shared_ptr<LaneBeaconModel> toModel(const LaneBeaconResult& laneBeaconResult);
};

}  // namespace velmora
