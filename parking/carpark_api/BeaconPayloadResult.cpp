#include "parking/carpark_api/BeaconPayloadResult.h"

namespace velmora {

BeaconPayloadResult BeaconPayloadResult::decode(RecordDecoder& d) {
  std::string result = d.string("result", "Failure");
  std::string message = d.string("message");
  return BeaconPayloadResult(std::move(result), std::move(message));
}

void BeaconPayloadResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
}

}  // namespace velmora
