#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace kestrine {

// A battery state the platform reports for a beacon. Exported in full.
class KSBatteryStatus : public KSJSONRecord<KSBatteryStatus> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t batteryStatusID() const { return batteryStatusID_; }
  void setBatteryStatusID(std::int64_t v) { batteryStatusID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }

  // The display name when there is one, else the name (empty when neither is set).
  std::string description() const override;

 private:
  std::int64_t batteryStatusID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace kestrine
