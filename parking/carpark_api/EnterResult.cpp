#include "parking/carpark_api/EnterResult.h"

namespace velmora {

EnterResult EnterResult::decode(RecordDecoder& d) {
  EnterResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.reservedBay = d.string("reservedBay");
  return r;
}

void EnterResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("reservedBay", reservedBay);
}

}  // namespace velmora
