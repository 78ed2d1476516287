#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "parking/service/LaneBeaconResult.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// One lane as the parking service describes it, in the car-park details reply and in the
// user status reply. Nested in results, so it carries no result envelope. The lane's id key
// is "laneId" (lower-case d). A default-built lane and a lane decoded from {} agree: the
// defaults below serve both. The lane model is built from it by toModel(const LaneResult&),
// declared beside LaneModel.
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
};

}  // namespace velmora
