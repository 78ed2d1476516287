#pragma once

#include <string>
#include <vector>

#include "parking/carpark_api/NoticeDetailResult.h"
#include "parking/carpark_api/NoticeMessageResult.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// The reply of the lane notice call: whether to show a pop-up, the notice text, and the
// car parks concerned. A default-built record has an empty result; one decoded from a
// reply without "result" has "Failure".
struct NoticeResult {
  std::string result;
  std::string message;
  bool shouldPopup = false;
  NoticeMessageResult noticeMessage;
  std::vector<NoticeDetailResult> details;

  // Missing or null keys take the defaults (noticeMessage a fresh empty one); a wrong
  // type, a null list element or a noticeMessage that is not an object fails.
  static NoticeResult decode(RecordDecoder& d);
  // Always writes all five keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
