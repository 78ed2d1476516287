#include "parking/carpark_api/NoticeRequest.h"

#include "parking/carpark_api/RequiredKey.h"

namespace velmora {

void NoticeRequest::encode(RecordEncoder& e) const {
  encodeBlock(e);
  e.put("beacons", beacons);
}

NoticeRequest NoticeRequest::decode(RecordDecoder& d) {
  NoticeRequest r(undecoded);
  r.decodeBlock(d);
  r.beacons = detail::requireKey(d, d.optionalRecords<NoticeBeaconRequest>("beacons"), "beacons", "Array");
  return r;
}

}  // namespace velmora
