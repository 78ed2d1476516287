#include "parking/user_api/UpdateResult.h"

namespace velmora {

UpdateResult UpdateResult::decode(RecordDecoder& d) {
  UpdateResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  return r;
}

void UpdateResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
}

}  // namespace velmora
