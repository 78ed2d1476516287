#include "beacons/model/KSBeaconVersion.h"

#include "beacons/foundation/KSVersions.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSBeaconVersion::jsonClass() {
  using V = KSBeaconVersion;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<V>("KSBeaconVersion", [](auto& c) {
    c.keyMapper({{"id", "beaconVersionID"}, {"proximityUUID", "proximityUUIDString"}});
    c.allOptional();
    c.whitelist({"beaconVersionID", "proximityUUIDString", "major", "minor", "targetSpeed", "beaconLoudness",
                 "measuredPowerAt1Meter", "beaconRegion", "beaconMode", "firmwareVersion", "privacyDuration", "confirmedAt"});
    c.text("beaconVersionID", &V::beaconVersionID, &V::setBeaconVersionID);
    c.scalar("version", &V::version, &V::setVersion);
    c.text("proximityUUIDString", &V::proximityUUIDString, &V::setProximityUUIDString);
    c.scalar("major", &V::major, &V::setMajor);
    c.scalar("minor", &V::minor, &V::setMinor);
    c.record("targetSpeed", &V::targetSpeed, &V::setTargetSpeed);
    c.record("beaconLoudness", &V::beaconLoudness, &V::setBeaconLoudness);
    c.scalar("measuredPowerAt1Meter", &V::measuredPowerAt1Meter, &V::setMeasuredPowerAt1Meter);
    c.record("beaconRegion", &V::beaconRegion, &V::setBeaconRegion);
    c.record("beaconMode", &V::beaconMode, &V::setBeaconMode);
    c.text("firmwareVersion", &V::firmwareVersion, &V::setFirmwareVersion);
    c.scalar("privacyDuration", &V::privacyDuration, &V::setPrivacyDuration);
    c.date("confirmedAt", &V::confirmedAt, &V::setConfirmedAt);
  });
  return cls;
}

std::int64_t KSBeaconVersion::measuredPowerAt1MeterOrDefault() const {
  if (measuredPowerAt1Meter_) return *measuredPowerAt1Meter_;
  return beaconLoudness_ ? beaconLoudness_->measuredPowerAt1Meter() : 0;
}

std::optional<int> KSBeaconVersion::compareFirmwareVersion(std::string_view version) const {
  if (!firmwareVersion_ || firmwareVersion_->empty()) return std::nullopt;
  return compareVersions(*firmwareVersion_, version);
}

bool KSBeaconVersion::isFirmwareVersionGreaterThanVersion(std::string_view version) const {
  auto order = compareFirmwareVersion(version);
  return order && *order > 0;
}
bool KSBeaconVersion::isFirmwareVersionGreaterThanOrEqualVersion(std::string_view version) const {
  auto order = compareFirmwareVersion(version);
  return order && *order >= 0;
}
bool KSBeaconVersion::isFirmwareVersionLessThanOrEqualVersion(std::string_view version) const {
  auto order = compareFirmwareVersion(version);
  return order && *order <= 0;
}
bool KSBeaconVersion::isFirmwareVersionLessThanVersion(std::string_view version) const {
  auto order = compareFirmwareVersion(version);
  return order && *order < 0;
}

}  // namespace velmora::kestrine
