#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// An advertising interval a beacon can be set to. Exported in full.
class KSTargetSpeed : public KSJSONRecord<KSTargetSpeed> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t targetSpeedID() const { return targetSpeedID_; }
  void setTargetSpeedID(std::int64_t v) { targetSpeedID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }
  // The advertising interval.
  std::int64_t milliseconds() const { return milliseconds_; }
  void setMilliseconds(std::int64_t v) { milliseconds_ = v; }

  // The display name when there is one, else the name (empty when neither is set).
  std::string description() const override;

 private:
  std::int64_t targetSpeedID_ = 0;
  std::optional<std::string> name_, displayName_;
  std::int64_t milliseconds_ = 0;
};

}  // namespace velmora::kestrine
