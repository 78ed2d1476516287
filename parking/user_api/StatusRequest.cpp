#include "parking/user_api/StatusRequest.h"

namespace velmora {

void StatusRequest::encode(RecordEncoder& e) const { encodeBlock(e); }

StatusRequest StatusRequest::decode(RecordDecoder& d) {
  StatusRequest r(undecoded);
  r.decodeBlock(d);
  return r;
}

}  // namespace velmora
