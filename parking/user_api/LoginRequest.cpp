#include "parking/user_api/LoginRequest.h"

namespace velmora {

void LoginRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("email", email);
  e.put("password", password);
  e.put("facebookAccessToken", facebookAccessToken);
  e.put("appleIdAccessToken", appleIdAccessToken);
}

LoginRequest LoginRequest::decode(RecordDecoder& d) {
  LoginRequest r(undecoded);
  r.decodeBlock(d);
  r.email = d.requiredString("email");
  r.password = d.requiredString("password");
  r.facebookAccessToken = d.optionalString("facebookAccessToken");
  r.appleIdAccessToken = d.optionalString("appleIdAccessToken");
  return r;
}

}  // namespace velmora
