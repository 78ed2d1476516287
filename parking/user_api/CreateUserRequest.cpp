#include "parking/user_api/CreateUserRequest.h"

namespace velmora {

void CreateUserRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("email", email);
  e.put("firstname", firstname);
  e.put("lastname", lastname);
  e.put("phoneNo", phoneNo);
}

CreateUserRequest CreateUserRequest::decode(RecordDecoder& d) {
  CreateUserRequest r(undecoded);
  r.decodeBlock(d);
  r.email = d.requiredString("email");
  r.firstname = d.requiredString("firstname");
  r.lastname = d.requiredString("lastname");
  r.phoneNo = d.requiredString("phoneNo");
  return r;
}

}  // namespace velmora
