#include "parking/carpark_api/DetailsRequest.h"

namespace velmora {

void DetailsRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("beaconID", beaconID);
  e.put("carParkID", carParkID);
}

DetailsRequest DetailsRequest::decode(RecordDecoder& d) {
  DetailsRequest r(undecoded);
  r.decodeBlock(d);
  r.beaconID = d.optionalString("beaconID");
  r.carParkID = d.optionalInt64("carParkID");
  return r;
}

}  // namespace velmora
