#include "parking/carpark_api/NoticeMessageResult.h"

namespace velmora {

NoticeMessageResult NoticeMessageResult::decode(RecordDecoder& d) {
  NoticeMessageResult r;
  r.title = d.string("title");
  r.message = d.string("message");
  return r;
}

void NoticeMessageResult::encode(RecordEncoder& e) const {
  e.put("title", title);
  e.put("message", message);
}

}  // namespace velmora
