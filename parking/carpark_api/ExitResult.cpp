#include "parking/carpark_api/ExitResult.h"

namespace velmora {

ExitResult ExitResult::decode(RecordDecoder& d) {
  ExitResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.entryTime = d.optionalDate("entryTime");
  r.secondsInCarPark = d.optionalInt64("secondsInCarPark");
  r.amount = d.optionalNumber("amount");
  return r;
}

void ExitResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("entryTime", entryTime);
  e.put("secondsInCarPark", secondsInCarPark);
  e.put("amount", amount);
}

}  // namespace velmora
