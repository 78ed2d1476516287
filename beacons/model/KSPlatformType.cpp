#include "beacons/model/KSPlatformType.h"

namespace kestrine {

const KSJSONModelClass& KSPlatformType::jsonClass() {
  static const KSJSONModelClass cls = KSJSONModelClass::define<KSPlatformType>("KSPlatformType", [](auto& c) {
    c.keyMapper({{"id", "platformTypeID"}});
    c.allOptional();
    c.whitelist({"platformTypeID"});
    c.scalar("platformTypeID", &KSPlatformType::platformTypeID, &KSPlatformType::setPlatformTypeID);
    c.text("name", &KSPlatformType::name, &KSPlatformType::setName);
    c.text("displayName", &KSPlatformType::displayName, &KSPlatformType::setDisplayName);
  });
  return cls;
}

std::string KSPlatformType::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace kestrine
