#include "beacons/model/KSTargetSpeed.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSTargetSpeed::jsonClass() {
  using S = KSTargetSpeed;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<S>("KSTargetSpeed", [](auto& c) {
    c.keyMapper({{"id", "targetSpeedID"}});
    c.allOptional();
    c.scalar("targetSpeedID", &S::targetSpeedID, &S::setTargetSpeedID);
    c.text("name", &S::name, &S::setName);
    c.text("displayName", &S::displayName, &S::setDisplayName);
    c.scalar("milliseconds", &S::milliseconds, &S::setMilliseconds);
  });
  return cls;
}

std::string KSTargetSpeed::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace velmora::kestrine
