#pragma once

#include <string>

#include "parking/service/RecordCodec.h"

namespace velmora {

// One heard beacon in a lane notice request: its id (key "beaconId", lower-case d) and
// its received signal strength.
struct NoticeBeaconRequest {
  std::string beaconId;
  double rssi = 0;

  // Writes both keys; a non-finite rssi cannot be written and fails the encoding.
  void encode(RecordEncoder& e) const;
  // Both keys required: missing, null or a wrong type fails.
  static NoticeBeaconRequest decode(RecordDecoder& d);
};

}  // namespace velmora
