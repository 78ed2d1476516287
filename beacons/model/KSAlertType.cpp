#include "beacons/model/KSAlertType.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSAlertType::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSAlertType>("KSAlertType", [](auto& c) {
    c.keyMapper({{"id", "alertTypeID"}});
    c.allOptional();
    c.scalar("alertTypeID", &KSAlertType::alertTypeID, &KSAlertType::setAlertTypeID);
    defineNames(c);
  });
  return cls;
}


}  // namespace velmora::kestrine
