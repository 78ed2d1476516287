#include "parking/lane_detection/BeaconServiceResult.h"

namespace velmora {

void BeaconServiceResult::encode(RecordEncoder& e) const {
  e.put("success", success);
  e.put("message", message);
}

BeaconServiceResult BeaconServiceResult::decode(RecordDecoder& d) {
  BeaconServiceResult r;
  r.success = d.requiredBoolean("success");
  r.message = d.requiredString("message");
  return r;
}

}  // namespace velmora
