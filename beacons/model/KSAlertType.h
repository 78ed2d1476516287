#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// The kind of a team alert. Exported in full.
class KSAlertType : public KSNamedLookupRecord<KSAlertType> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t alertTypeID() const { return alertTypeID_; }
  void setAlertTypeID(std::int64_t v) { alertTypeID_ = v; }

 private:
  std::int64_t alertTypeID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
