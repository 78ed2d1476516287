#include "parking/user_api/CreateUserResult.h"

namespace velmora {

CreateUserResult CreateUserResult::decode(RecordDecoder& d) {
  CreateUserResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.userId = d.int64("userId", -1);
  r.authenticationToken = d.string("authenticationToken");
  return r;
}

void CreateUserResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("userId", userId);
  e.put("authenticationToken", authenticationToken);
}

}  // namespace velmora
