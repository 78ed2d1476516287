#include "beacons/model/KSBeaconLoudness.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSBeaconLoudness::jsonClass() {
  using L = KSBeaconLoudness;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<L>("KSBeaconLoudness", [](auto& c) {
    c.keyMapper({{"id", "beaconLoudnessID"}});
    c.allOptional();
    c.whitelist({"beaconLoudnessID"});
    c.scalar("beaconLoudnessID", &L::beaconLoudnessID, &L::setBeaconLoudnessID);
    c.text("name", &L::name, &L::setName);
    c.text("displayName", &L::displayName, &L::setDisplayName);
    c.scalar("level", &L::level, &L::setLevel);
    c.scalar("measuredPowerAt1Meter", &L::measuredPowerAt1Meter, &L::setMeasuredPowerAt1Meter);
    c.scalar("tiMeasuredPowerAt1Meter", &L::tiMeasuredPowerAt1Meter, &L::setTiMeasuredPowerAt1Meter);
  });
  return cls;
}

std::string KSBeaconLoudness::description() const { return displayName_.value_or(name_.value_or(std::string())); }

}  // namespace velmora::kestrine
