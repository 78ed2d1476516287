#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// How serious a team alert is. Exported in full.
class KSAlertSeverity : public KSNamedLookupRecord<KSAlertSeverity> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t alertSeverityID() const { return alertSeverityID_; }
  void setAlertSeverityID(std::int64_t v) { alertSeverityID_ = v; }

 private:
  std::int64_t alertSeverityID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
