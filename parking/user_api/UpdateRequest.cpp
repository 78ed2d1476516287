#include "parking/user_api/UpdateRequest.h"

namespace velmora {

void UpdateRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("email", email);
  e.put("firstName", firstName);
  e.put("lastName", lastName);
  e.put("phoneNo", phoneNo);
}

UpdateRequest UpdateRequest::decode(RecordDecoder& d) {
  UpdateRequest r(undecoded);
  r.decodeBlock(d);
  r.email = d.requiredString("email");
  r.firstName = d.requiredString("firstName");
  r.lastName = d.requiredString("lastName");
  r.phoneNo = d.requiredString("phoneNo");
  return r;
}

}  // namespace velmora
