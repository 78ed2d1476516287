#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// A transmit loudness a beacon can be set to, with the measured power at one metre it gives
// (for the beacon's own radio and for the alternative radio). Exported inside other records
// as its identifier alone: {"id": n}.
class KSBeaconLoudness : public KSJSONRecord<KSBeaconLoudness> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t beaconLoudnessID() const { return beaconLoudnessID_; }
  void setBeaconLoudnessID(std::int64_t v) { beaconLoudnessID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }
  std::int64_t level() const { return level_; }
  void setLevel(std::int64_t v) { level_ = v; }
  // dBm.
  std::int64_t measuredPowerAt1Meter() const { return measuredPowerAt1Meter_; }
  void setMeasuredPowerAt1Meter(std::int64_t v) { measuredPowerAt1Meter_ = v; }
  std::int64_t tiMeasuredPowerAt1Meter() const { return tiMeasuredPowerAt1Meter_; }
  void setTiMeasuredPowerAt1Meter(std::int64_t v) { tiMeasuredPowerAt1Meter_ = v; }

  // The display name when there is one, else the name (empty when neither is set).
  std::string description() const override;

 private:
  std::int64_t beaconLoudnessID_ = 0;
  std::optional<std::string> name_, displayName_;
  std::int64_t level_ = 0;
  std::int64_t measuredPowerAt1Meter_ = 0;
  std::int64_t tiMeasuredPowerAt1Meter_ = 0;
};

}  // namespace velmora::kestrine
