#include "parking/user_api/DetailRequest.h"

namespace velmora {

void DetailRequest::encode(RecordEncoder& e) const { encodeBlock(e); }

DetailRequest DetailRequest::decode(RecordDecoder& d) {
  DetailRequest r(undecoded);
  r.decodeBlock(d);
  return r;
}

}  // namespace velmora
