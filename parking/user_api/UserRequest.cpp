#include "parking/user_api/UserRequest.h"

namespace velmora {

void UserRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("email", email);
  e.put("firstname", firstname);
  e.put("lastname", lastname);
  e.put("phoneNo", phoneNo);
  e.put("password", password);
  e.put("facebookAccessToken", facebookAccessToken);
  e.put("appleIdAccessToken", appleIdAccessToken);
}

UserRequest UserRequest::decode(RecordDecoder& d) {
  UserRequest r(undecoded);
  r.decodeBlock(d);
  r.email = d.requiredString("email");
  r.firstname = d.requiredString("firstname");
  r.lastname = d.requiredString("lastname");
  r.phoneNo = d.requiredString("phoneNo");
  r.password = d.requiredString("password");
  r.facebookAccessToken = d.requiredString("facebookAccessToken");
  r.appleIdAccessToken = d.requiredString("appleIdAccessToken");
  return r;
}

}  // namespace velmora
