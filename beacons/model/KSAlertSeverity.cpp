#include "beacons/model/KSAlertSeverity.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSAlertSeverity::jsonClass() {
  static const KSJSONModelClass& cls =
      KSJSONModelClass::defineImmortal<KSAlertSeverity>("KSAlertSeverity", [](auto& c) {
        c.keyMapper({{"id", "alertSeverityID"}});
        c.allOptional();
        c.scalar("alertSeverityID", &KSAlertSeverity::alertSeverityID, &KSAlertSeverity::setAlertSeverityID);
        defineNames(c);
      });
  return cls;
}


}  // namespace velmora::kestrine
