#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parking/service/RecordCodec.h"

namespace velmora {

// One lane of a car park named in a lane notice reply, with the ids of its beacons.
// Key "laneId" (lower-case d). A default-built lane has laneId 0; one decoded from a
// reply without "laneId" has -1.
struct NoticeLaneInfoResult {
  std::int64_t laneId = 0;
  std::string shortName;
  std::int64_t laneType = 0;
  std::vector<std::string> beaconIds;

  static NoticeLaneInfoResult decode(RecordDecoder& d);
  // Always writes all four keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
