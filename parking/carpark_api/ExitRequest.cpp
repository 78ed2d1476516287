#include "parking/carpark_api/ExitRequest.h"

namespace velmora {

void ExitRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("laneId", laneId);
  e.put("calculatedLaneId", calculatedLaneId);
}

ExitRequest ExitRequest::decode(RecordDecoder& d) {
  ExitRequest r(undecoded);
  r.decodeBlock(d);
  r.laneId = d.requiredInt64("laneId");
  r.calculatedLaneId = d.optionalInt64("calculatedLaneId");
  return r;
}

}  // namespace velmora
