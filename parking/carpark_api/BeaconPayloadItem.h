#pragma once

#include <cstdint>
#include <vector>

#include "parking/carpark_api/BeaconPayloadDetail.h"
#include "parking/service/RecordCodec.h"
#include "platform/core/Clock.h"
#include "platform/core/Date.h"

namespace velmora {

// One lane reading inside a beacon payload upload: the lane, whether it was the closest
// lane, its signal strength, when the reading was taken, and the beacon readings. The host
// app builds these; the SDK only sends them. Keys are the field names ("laneID", capital D).
struct BeaconPayloadItem {
  std::int64_t laneID = 0;
  bool closest = false;
  std::int64_t rssi = 0;
  // The moment the item was made until the host app sets it.
  platform::Date timestampUTC;
  std::vector<BeaconPayloadDetail> details;

  // timestampUTC is now on the process clock.
  BeaconPayloadItem();
  // timestampUTC is now on the given clock.
  explicit BeaconPayloadItem(const platform::Clock& clock);

  // Always writes all five keys; the date as a JSON number of seconds since
  // 2001-01-01T00:00:00Z, the details as an array ([] when empty).
  void encode(RecordEncoder& e) const;
  // Every key required: missing, null or a wrong type fails, as does any failing detail.
  static BeaconPayloadItem decode(RecordDecoder& d);
};

}  // namespace velmora
