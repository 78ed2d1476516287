#include "beacons/model/KSBatteryStatus.h"

namespace kestrine {

const KSJSONModelClass& KSBatteryStatus::jsonClass() {
  static const KSJSONModelClass cls = KSJSONModelClass::define<KSBatteryStatus>("KSBatteryStatus", [](auto& c) {
    c.keyMapper({{"id", "batteryStatusID"}});
    c.allOptional();
    c.scalar("batteryStatusID", &KSBatteryStatus::batteryStatusID, &KSBatteryStatus::setBatteryStatusID);
    c.text("name", &KSBatteryStatus::name, &KSBatteryStatus::setName);
    c.text("displayName", &KSBatteryStatus::displayName, &KSBatteryStatus::setDisplayName);
  });
  return cls;
}

std::string KSBatteryStatus::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace kestrine
