#include "beacons/model/KSAlertSeverity.h"

namespace kestrine {

const KSJSONModelClass& KSAlertSeverity::jsonClass() {
  static const KSJSONModelClass cls = KSJSONModelClass::define<KSAlertSeverity>("KSAlertSeverity", [](auto& c) {
    c.keyMapper({{"id", "alertSeverityID"}});
    c.allOptional();
    c.scalar("alertSeverityID", &KSAlertSeverity::alertSeverityID, &KSAlertSeverity::setAlertSeverityID);
    c.text("name", &KSAlertSeverity::name, &KSAlertSeverity::setName);
    c.text("displayName", &KSAlertSeverity::displayName, &KSAlertSeverity::setDisplayName);
  });
  return cls;
}

std::string KSAlertSeverity::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace kestrine
