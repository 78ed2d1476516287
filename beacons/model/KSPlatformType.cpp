#include "beacons/model/KSPlatformType.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSPlatformType::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSPlatformType>("KSPlatformType", [](auto& c) {
    c.keyMapper({{"id", "platformTypeID"}});
    c.allOptional();
    c.whitelist({"platformTypeID"});
    c.scalar("platformTypeID", &KSPlatformType::platformTypeID, &KSPlatformType::setPlatformTypeID);
    defineNames(c);
  });
  return cls;
}


}  // namespace velmora::kestrine
