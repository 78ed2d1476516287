#include "parking/carpark_api/BeaconPayloadItem.h"

#include "parking/carpark_api/RequiredKey.h"

namespace velmora {

BeaconPayloadItem::BeaconPayloadItem() : BeaconPayloadItem(*platform::Clock::system()) {}

BeaconPayloadItem::BeaconPayloadItem(const platform::Clock& clock) : timestampUTC(clock.now()) {}

void BeaconPayloadItem::encode(RecordEncoder& e) const {
  e.put("laneID", laneID);
  e.put("closest", closest);
  e.put("rssi", rssi);
  e.put("timestampUTC", timestampUTC);
  e.put("details", details);
}

BeaconPayloadItem BeaconPayloadItem::decode(RecordDecoder& d) {
  BeaconPayloadItem r;
  r.laneID = d.requiredInt64("laneID");
  r.closest = d.requiredBoolean("closest");
  r.rssi = d.requiredInt64("rssi");
  r.timestampUTC = detail::requireKey(d, d.optionalDate("timestampUTC"), "timestampUTC", "Date");
  r.details = detail::requireKey(d, d.optionalRecords<BeaconPayloadDetail>("details"), "details", "Array");
  return r;
}

}  // namespace velmora
