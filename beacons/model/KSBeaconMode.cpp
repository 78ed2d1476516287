#include "beacons/model/KSBeaconMode.h"

namespace kestrine {

const KSJSONModelClass& KSBeaconMode::jsonClass() {
  static const KSJSONModelClass cls = KSJSONModelClass::define<KSBeaconMode>("KSBeaconMode", [](auto& c) {
    c.keyMapper({{"id", "beaconModeID"}});
    c.allOptional();
    c.whitelist({"beaconModeID"});
    c.scalar("beaconModeID", &KSBeaconMode::beaconModeID, &KSBeaconMode::setBeaconModeID);
    c.text("name", &KSBeaconMode::name, &KSBeaconMode::setName);
    c.text("displayName", &KSBeaconMode::displayName, &KSBeaconMode::setDisplayName);
  });
  return cls;
}

bool KSBeaconMode::isValidBeaconModeID(std::int64_t beaconModeID) {
  return beaconModeID >= KSBeaconModeIDSecure && beaconModeID <= KSBeaconModeIDNewborn;
}

std::string KSBeaconMode::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace kestrine
