#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSTargetSpeed.h"
#include "platform/core/Date.h"

// glibc's <sys/sysmacros.h> may define major() and minor() as function-like macros, before
// or after this header. The accessors of those names are declared parenthesised, so no macro
// expands in them; a host that has the macros defined calls them as (r.major)().

namespace velmora::kestrine {

// One version of a beacon's settings as the platform keeps it: the identity it advertises,
// its speed, loudness, mode and region, the firmware it was made for, the privacy duration,
// and when the beacon confirmed that it runs this version. The export leaves "version" out.
class KSBeaconVersion : public KSJSONRecord<KSBeaconVersion> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& beaconVersionID() const { return beaconVersionID_; }
  void setBeaconVersionID(std::optional<std::string> v) { beaconVersionID_ = std::move(v); }
  std::optional<std::int64_t> version() const { return version_; }
  void setVersion(std::optional<std::int64_t> v) { version_ = v; }
  const std::optional<std::string>& proximityUUIDString() const { return proximityUUIDString_; }
  void setProximityUUIDString(std::optional<std::string> v) { proximityUUIDString_ = std::move(v); }
  std::optional<std::uint16_t> (major)() const { return major_; }
  void setMajor(std::optional<std::uint16_t> v) { major_ = v; }
  std::optional<std::uint16_t> (minor)() const { return minor_; }
  void setMinor(std::optional<std::uint16_t> v) { minor_ = v; }
  const std::shared_ptr<KSTargetSpeed>& targetSpeed() const { return targetSpeed_; }
  void setTargetSpeed(std::shared_ptr<KSTargetSpeed> v) { targetSpeed_ = std::move(v); }
  const std::shared_ptr<KSBeaconLoudness>& beaconLoudness() const { return beaconLoudness_; }
  void setBeaconLoudness(std::shared_ptr<KSBeaconLoudness> v) { beaconLoudness_ = std::move(v); }
  // dBm.
  std::optional<std::int64_t> measuredPowerAt1Meter() const { return measuredPowerAt1Meter_; }
  void setMeasuredPowerAt1Meter(std::optional<std::int64_t> v) { measuredPowerAt1Meter_ = v; }
  const std::shared_ptr<KSBeaconRegion>& beaconRegion() const { return beaconRegion_; }
  void setBeaconRegion(std::shared_ptr<KSBeaconRegion> v) { beaconRegion_ = std::move(v); }
  const std::shared_ptr<KSBeaconMode>& beaconMode() const { return beaconMode_; }
  void setBeaconMode(std::shared_ptr<KSBeaconMode> v) { beaconMode_ = std::move(v); }
  const std::optional<std::string>& firmwareVersion() const { return firmwareVersion_; }
  void setFirmwareVersion(std::optional<std::string> v) { firmwareVersion_ = std::move(v); }
  // Minutes.
  std::optional<std::int64_t> privacyDuration() const { return privacyDuration_; }
  void setPrivacyDuration(std::optional<std::int64_t> v) { privacyDuration_ = v; }
  const std::optional<platform::Date>& confirmedAt() const { return confirmedAt_; }
  void setConfirmedAt(std::optional<platform::Date> v) { confirmedAt_ = v; }

  // The version's own measured power when set, else the loudness record's, else 0.
  std::int64_t measuredPowerAt1MeterOrDefault() const;

  // firmwareVersion against another version by the dotted-version order. Each answers false
  // while firmwareVersion is unset or empty.
  bool isFirmwareVersionGreaterThanVersion(std::string_view version) const;
  bool isFirmwareVersionGreaterThanOrEqualVersion(std::string_view version) const;
  bool isFirmwareVersionLessThanOrEqualVersion(std::string_view version) const;
  bool isFirmwareVersionLessThanVersion(std::string_view version) const;

 private:
  std::optional<int> compareFirmwareVersion(std::string_view version) const;

  std::optional<std::string> beaconVersionID_;
  std::optional<std::int64_t> version_;
  std::optional<std::string> proximityUUIDString_;
  std::optional<std::uint16_t> major_, minor_;
  std::shared_ptr<KSTargetSpeed> targetSpeed_;
  std::shared_ptr<KSBeaconLoudness> beaconLoudness_;
  std::optional<std::int64_t> measuredPowerAt1Meter_;
  std::shared_ptr<KSBeaconRegion> beaconRegion_;
  std::shared_ptr<KSBeaconMode> beaconMode_;
  std::optional<std::string> firmwareVersion_;
  std::optional<std::int64_t> privacyDuration_;
  std::optional<platform::Date> confirmedAt_;
};

}  // namespace velmora::kestrine
