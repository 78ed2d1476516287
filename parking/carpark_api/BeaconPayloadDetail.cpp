#include "parking/carpark_api/BeaconPayloadDetail.h"

namespace velmora {

void BeaconPayloadDetail::encode(RecordEncoder& e) const {
  e.put("beaconID", beaconID);
  e.put("beaconName", beaconName);
  e.put("beaconSerialNo", beaconSerialNo);
  e.put("rssi", rssi);
  e.put("rssiSmoothed", rssiSmoothed);
  e.put("proximity", proximity);
  e.put("accuracy", accuracy);
  e.put("measuredPowerAt1Meter", measuredPowerAt1Meter);
}

BeaconPayloadDetail BeaconPayloadDetail::decode(RecordDecoder& d) {
  BeaconPayloadDetail r;
  r.beaconID = d.requiredString("beaconID");
  r.beaconName = d.requiredString("beaconName");
  r.beaconSerialNo = d.requiredString("beaconSerialNo");
  r.rssi = d.requiredInt64("rssi");
  r.rssiSmoothed = d.requiredInt64("rssiSmoothed");
  r.proximity = d.requiredInt64("proximity");
  r.accuracy = d.requiredNumber("accuracy");
  r.measuredPowerAt1Meter = d.requiredInt64("measuredPowerAt1Meter");
  return r;
}

}  // namespace velmora
