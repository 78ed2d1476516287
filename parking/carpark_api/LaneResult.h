#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "parking/carpark_api/LaneBeaconResult.h"
#include "parking/user_api/RecordCodec.h"

namespace velmora {

class LaneModel;

// One lane as the parking service describes it, in the car-park details reply and in the
// user status reply. Nested in results, so it carries no result envelope. The lane's id key
// is "laneId" (lower-case d). A default-built lane and a lane decoded from {} agree: the
// defaults below serve both.
struct LaneResult {
  std::int64_t laneId = 0;
  std::int64_t laneType = 0;
  std::optional<std::int64_t> laneGroupId;
  std::optional<std::int64_t> laneGroupDelay;
  std::int64_t detectionType = 1;
  std::int64_t minRSSI = 0;
  std::int64_t minDetectionSecs = 0;
  std::int64_t maxDetectionSecs = 0;
  std::optional<std::int64_t> retrySecs;
  std::int64_t sortOrder = 1;
  std::string name;
  std::string shortName;
  std::int64_t beaconSensitivity = -100;
  std::int64_t laneSensitivity = 0;
  std::vector<LaneBeaconResult> laneBeacons;

  // Missing or null keys keep the defaults; a wrong JSON type, here or in any lane beacon,
  // fails the lane and the reply that holds it.
  static LaneResult decode(RecordDecoder& d);
  // Writes every field; the three optional ones only when present.
  void encode(RecordEncoder& e) const;

  // A new lane model: the non-optional values arrive as present values (a 0 stays a
  // present 0, so the model's fallbacks do not apply to it), the optional ones as they are,
  // and one new lane-beacon model per lane beacon, in order. No car park is linked.
  static std::shared_ptr<LaneModel> toModel(const LaneResult& laneResult);
};

}  // namespace velmora
