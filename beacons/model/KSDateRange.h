#pragma once

#include <optional>

#include "beacons/foundation/KSJSONRecord.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// A period from one date through another; open while throughDate is unset. JSON keys equal
// the property names.
class KSDateRange : public KSJSONRecord<KSDateRange> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<platform::Date>& fromDate() const { return fromDate_; }
  void setFromDate(std::optional<platform::Date> v) { fromDate_ = v; }
  const std::optional<platform::Date>& throughDate() const { return throughDate_; }
  void setThroughDate(std::optional<platform::Date> v) { throughDate_ = v; }

  // Seconds from fromDate to throughDate, negative when throughDate is the earlier one; 0
  // while either is unset.
  double timeInterval() const;

 private:
  std::optional<platform::Date> fromDate_, throughDate_;
};

}  // namespace velmora::kestrine
