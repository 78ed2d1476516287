#include "beacons/model/KSAlertType.h"

namespace kestrine {

const KSJSONModelClass& KSAlertType::jsonClass() {
  static const KSJSONModelClass cls = KSJSONModelClass::define<KSAlertType>("KSAlertType", [](auto& c) {
    c.keyMapper({{"id", "alertTypeID"}});
    c.allOptional();
    c.scalar("alertTypeID", &KSAlertType::alertTypeID, &KSAlertType::setAlertTypeID);
    c.text("name", &KSAlertType::name, &KSAlertType::setName);
    c.text("displayName", &KSAlertType::displayName, &KSAlertType::setDisplayName);
  });
  return cls;
}

std::string KSAlertType::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace kestrine
