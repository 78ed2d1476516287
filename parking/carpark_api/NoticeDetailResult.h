#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "parking/carpark_api/NoticeLaneInfoResult.h"
#include "parking/service/RecordCodec.h"

namespace velmora {

// One car park named in a lane notice reply, with its lanes. Key "carParkID" (capital D),
// unlike the lanes' "laneId". A default-built record has carParkID 0; one decoded from a
// reply without "carParkID" has -1.
struct NoticeDetailResult {
  std::int64_t carParkID = 0;
  std::string carParkName;
  std::vector<NoticeLaneInfoResult> lanes;

  static NoticeDetailResult decode(RecordDecoder& d);
  // Always writes all three keys.
  void encode(RecordEncoder& e) const;
};

}  // namespace velmora
