#include "parking/user_api/UserResult.h"

namespace velmora {

UserResult UserResult::decode(RecordDecoder& d) {
  UserResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.userId = d.int64("userId", -1);
  r.authenticationToken = d.string("authenticationToken");
  return r;
}

void UserResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("userId", userId);
  e.put("authenticationToken", authenticationToken);
}

}  // namespace velmora
