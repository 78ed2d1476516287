#pragma once

#include <cstdint>
#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// One beacon reading inside a beacon payload item. The host app builds these; the SDK
// only sends them. Keys are the field names ("beaconID" with a capital D).
struct BeaconPayloadDetail {
  std::string beaconID;
  std::string beaconName;
  std::string beaconSerialNo;
  std::int64_t rssi = 0;
  std::int64_t rssiSmoothed = 0;
  std::int64_t proximity = 0;
  double accuracy = 0.0;
  std::int64_t measuredPowerAt1Meter = 0;

  // Always writes all eight keys; a non-finite accuracy fails the encoding.
  void encode(RecordEncoder& e) const;
  // Every key required: missing, null or a wrong type fails.
  static BeaconPayloadDetail decode(RecordDecoder& d);
};

}  // namespace velmora
