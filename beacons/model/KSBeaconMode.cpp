#include "beacons/model/KSBeaconMode.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSBeaconMode::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSBeaconMode>("KSBeaconMode", [](auto& c) {
    c.keyMapper({{"id", "beaconModeID"}});
    c.allOptional();
    c.whitelist({"beaconModeID"});
    c.scalar("beaconModeID", &KSBeaconMode::beaconModeID, &KSBeaconMode::setBeaconModeID);
    defineNames(c);
  });
  return cls;
}

bool KSBeaconMode::isValidBeaconModeID(std::int64_t beaconModeID) {
  return beaconModeID >= KSBeaconModeIDSecure && beaconModeID <= KSBeaconModeIDNewborn;
}


}  // namespace velmora::kestrine
