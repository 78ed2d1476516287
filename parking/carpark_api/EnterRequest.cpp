#include "parking/carpark_api/EnterRequest.h"

namespace velmora {

void EnterRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("laneId", laneId);
  e.put("calculatedLaneId", calculatedLaneId);
}

EnterRequest EnterRequest::decode(RecordDecoder& d) {
  EnterRequest r(undecoded);
  r.decodeBlock(d);
  r.laneId = d.requiredInt64("laneId");
  r.calculatedLaneId = d.optionalInt64("calculatedLaneId");
  return r;
}

}  // namespace velmora
