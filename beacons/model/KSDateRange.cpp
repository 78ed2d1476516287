#include "beacons/model/KSDateRange.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSDateRange::jsonClass() {
  using D = KSDateRange;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<D>("KSDateRange", [](auto& c) {
    c.allOptional();
    c.whitelist({"fromDate", "throughDate"});
    c.date("fromDate", &D::fromDate, &D::setFromDate);
    c.date("throughDate", &D::throughDate, &D::setThroughDate);
  });
  return cls;
}

double KSDateRange::timeInterval() const {
  if (!fromDate_ || !throughDate_) return 0.0;
  return throughDate_->timeIntervalSince(*fromDate_);
}

}  // namespace velmora::kestrine
