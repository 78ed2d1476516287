#include "beacons/model/KSBatteryStatus.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSBatteryStatus::jsonClass() {
  static const KSJSONModelClass& cls =
      KSJSONModelClass::defineImmortal<KSBatteryStatus>("KSBatteryStatus", [](auto& c) {
        c.keyMapper({{"id", "batteryStatusID"}});
        c.allOptional();
        c.scalar("batteryStatusID", &KSBatteryStatus::batteryStatusID, &KSBatteryStatus::setBatteryStatusID);
        defineNames(c);
      });
  return cls;
}


}  // namespace velmora::kestrine
