#include "parking/carpark_api/NoticeDetailResult.h"

namespace velmora {

NoticeDetailResult NoticeDetailResult::decode(RecordDecoder& d) {
  NoticeDetailResult r;
  r.carParkID = d.int64("carParkID", -1);
  r.carParkName = d.string("carParkName");
  r.lanes = d.records<NoticeLaneInfoResult>("lanes");
  return r;
}

void NoticeDetailResult::encode(RecordEncoder& e) const {
  e.put("carParkID", carParkID);
  e.put("carParkName", carParkName);
  e.put("lanes", lanes);
}

}  // namespace velmora
