#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// A battery state the platform reports for a beacon. Exported in full.
class KSBatteryStatus : public KSNamedLookupRecord<KSBatteryStatus> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t batteryStatusID() const { return batteryStatusID_; }
  void setBatteryStatusID(std::int64_t v) { batteryStatusID_ = v; }

 private:
  std::int64_t batteryStatusID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
