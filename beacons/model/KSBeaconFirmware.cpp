#include "beacons/model/KSBeaconFirmware.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSBeaconFirmware::jsonClass() {
  using F = KSBeaconFirmware;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<F>("KSBeaconFirmware", [](auto& c) {
    c.keyMapper({{"id", "beaconFirmwareID"}});
    c.allOptional();
    c.text("beaconFirmwareID", &F::beaconFirmwareID, &F::setBeaconFirmwareID);
    c.text("version", &F::version, &F::setVersion);
    c.text("description", &F::descriptionText, &F::setDescriptionText);
    c.text("hexFileHash", &F::hexFileHash, &F::setHexFileHash);
    c.text("otaFileHash", &F::otaFileHash, &F::setOtaFileHash);
  });
  return cls;
}

}  // namespace velmora::kestrine
