#include "parking/carpark_api/NoticeResult.h"

namespace velmora {

NoticeResult NoticeResult::decode(RecordDecoder& d) {
  NoticeResult r;
  r.result = d.string("result", "Failure");
  r.message = d.string("message");
  r.shouldPopup = d.boolean("shouldPopup", false);
  r.noticeMessage = d.record<NoticeMessageResult>("noticeMessage", NoticeMessageResult{});
  r.details = d.records<NoticeDetailResult>("details");
  return r;
}

void NoticeResult::encode(RecordEncoder& e) const {
  e.put("result", result);
  e.put("message", message);
  e.put("shouldPopup", shouldPopup);
  e.put("noticeMessage", noticeMessage);
  e.put("details", details);
}

}  // namespace velmora
