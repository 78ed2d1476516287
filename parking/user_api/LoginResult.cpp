#include "parking/user_api/LoginResult.h"

namespace velmora {

LoginResult LoginResult::decode(RecordDecoder& d) {
  LoginResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.userId = d.int64("userId", -1);
  r.authenticationToken = d.string("authenticationToken");
  r.emailConfirmed = d.boolean("emailConfirmed", false);
  return r;
}

void LoginResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("userId", userId);
  e.put("authenticationToken", authenticationToken);
  e.put("emailConfirmed", emailConfirmed);
}

}  // namespace velmora
