#include "beacons/storage/KSAnalytics.h"

#include <optional>

#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "platform/store/Predicate.h"

namespace velmora::kestrine::analytics {

using platform::Date;
using platform::Value;
using platform::store::Predicate;

namespace {

// A window: its start is included; its end is included unless `endExclusive`.
struct Window {
  Date start;
  Date end;
  bool endExclusive;
};

Value orAbsent(const std::optional<std::string>& v) { return v ? Value(*v) : Value(); }

Predicate withinWindow(const Window& w) {
  return Predicate::ge("beganAt", w.start) &&
         (w.endExclusive ? Predicate::lt("beganAt", w.end) : Predicate::le("beganAt", w.end));
}

Predicate visitsOf(const KSBeacon& beacon) { return Predicate::eq("serialNumber", orAbsent(beacon.serialNumber())); }

Predicate visitsOf(const KSCategory& category) {
  return Predicate::anyMember("beacon.categories", Predicate::eq("categoryID", orAbsent(category.categoryID())));
}

template <class Record>
void count(const Record& record, const Window& window, CountHandler success, FailureHandler failure) {
  auto manager = std::dynamic_pointer_cast<KSLocalStorageManager>(KSLocalStoragePort::shared());
  if (!manager) {
    if (success) success(0);
    return;
  }
  manager->countRecordsForEntitiesNamed(std::string(KSBeaconVisitEntityName), withinWindow(window) && visitsOf(record),
                                        std::move(success), std::move(failure));
}

Window period(mt::Unit unit, int back) {
  const Date now = KSModelClock::now();
  const Date start = back == 0 ? mt::startOfCurrent(now, unit) : mt::startOfPrevious(now, unit);
  const Date next = back == 0 ? mt::startOfNext(now, unit) : mt::startOfCurrent(now, unit);
  return {start, next, true};
}

}  // namespace

Date distantPast() { return Date::fromUnixSeconds(-62135596800.0); }  // 0001-01-01T00:00:00Z

#define KS_ANALYTICS_FOR(Record)                                                                                  \
  void numberOfVisitsToday(const Record& r, CountHandler s, FailureHandler f) {                                   \
    count(r, period(mt::Unit::Day, 0), std::move(s), std::move(f));                                               \
  }                                                                                                               \
  void numberOfVisitsYesterday(const Record& r, CountHandler s, FailureHandler f) {                               \
    count(r, period(mt::Unit::Day, 1), std::move(s), std::move(f));                                               \
  }                                                                                                               \
  void numberOfVisitsThisWeek(const Record& r, CountHandler s, FailureHandler f) {                                \
    count(r, period(mt::Unit::Week, 0), std::move(s), std::move(f));                                              \
  }                                                                                                               \
  void numberOfVisitsLastWeek(const Record& r, CountHandler s, FailureHandler f) {                                \
    count(r, period(mt::Unit::Week, 1), std::move(s), std::move(f));                                              \
  }                                                                                                               \
  void numberOfVisitsThisMonth(const Record& r, CountHandler s, FailureHandler f) {                               \
    count(r, period(mt::Unit::Month, 0), std::move(s), std::move(f));                                             \
  }                                                                                                               \
  void numberOfVisitsLastMonth(const Record& r, CountHandler s, FailureHandler f) {                               \
    count(r, period(mt::Unit::Month, 1), std::move(s), std::move(f));                                             \
  }                                                                                                               \
  void numberOfVisitsSinceDate(const Record& r, Date date, CountHandler s, FailureHandler f) {                    \
    count(r, Window{date, KSModelClock::now(), false}, std::move(s), std::move(f));                               \
  }                                                                                                               \
  void numberOfVisitsUntilDate(const Record& r, Date date, CountHandler s, FailureHandler f) {                    \
    count(r, Window{distantPast(), date, false}, std::move(s), std::move(f));                                     \
  }                                                                                                               \
  void numberOfVisitsFromDate(const Record& r, Date from, Date until, CountHandler s, FailureHandler f) {         \
    count(r, Window{from, until, false}, std::move(s), std::move(f));                                             \
  }

KS_ANALYTICS_FOR(KSBeacon)
KS_ANALYTICS_FOR(KSCategory)
#undef KS_ANALYTICS_FOR

}  // namespace velmora::kestrine::analytics
