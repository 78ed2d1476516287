#include "beacons/model/KSBeaconRegionVisit.h"

#include "beacons/model/KSStoredValues.h"

namespace velmora::kestrine {

using platform::Date;
using platform::Value;
namespace sv = stored_values;

const KSJSONModelClass& KSBeaconRegionVisit::jsonClass() {
  using V = KSBeaconRegionVisit;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<V>("KSBeaconRegionVisit", [](auto& c) {
    c.keyMapper({{"id", "beaconRegionVisitID"}});
    c.allOptional();
    c.scalar("appInForeground", &V::appInForeground, &V::setAppInForeground);
    c.text("beaconRegionIdentifier", &V::beaconRegionIdentifier, &V::setBeaconRegionIdentifier);
    c.date("beganAt", &V::beganAt, &V::setBeganAt);
    c.date("endedAt", &V::endedAt, &V::setEndedAt);
    c.text("beaconRegionVisitID", &V::beaconRegionVisitID, &V::setBeaconRegionVisitID);
  });
  return cls;
}

std::shared_ptr<KSBeaconRegionVisit> KSBeaconRegionVisit::initWithManagedBeaconRegionVisit(
    std::shared_ptr<KSStoredRow> row) {
  auto visit = std::make_shared<KSBeaconRegionVisit>();
  if (!row) return visit;
  std::optional<Date> beganAt, endedAt;
  std::optional<std::string> id, identifier;
  bool foreground = false;
  row->performBlockAndWait([&] {
    beganAt = sv::date(row->valueForKey("beganAt"));
    endedAt = sv::date(row->valueForKey("endedAt"));
    id = sv::text(row->valueForKey("beaconRegionVisitID"));
    identifier = sv::text(row->valueForKey("beaconRegion.identifier"));
    foreground = sv::boolean(row->valueForKey("appInForeground"));
  });
  std::lock_guard lock(visit->mutex_);
  visit->beganAt_ = beganAt;
  visit->endedAt_ = endedAt;
  visit->beaconRegionVisitID_ = std::move(id);
  visit->beaconRegionIdentifier_ = std::move(identifier);
  visit->appInForeground_ = foreground;
  visit->row_ = std::move(row);
  return visit;
}

void KSBeaconRegionVisit::safeSetValue(Value value, std::string_view key) const {
  std::shared_ptr<KSStoredRow> row = managedBeaconRegionVisit();
  if (!row || !row->hasContext()) return;
  row->performBlockAndWait([&] { row->setValueForKey(std::move(value), key); });
}

bool KSBeaconRegionVisit::appInForeground() const {
  std::lock_guard lock(mutex_);
  return appInForeground_;
}
void KSBeaconRegionVisit::setAppInForeground(bool v) {
  {
    std::lock_guard lock(mutex_);
    appInForeground_ = v;
  }
  safeSetValue(Value(v), "appInForeground");
}

std::optional<std::string> KSBeaconRegionVisit::beaconRegionIdentifier() const {
  std::lock_guard lock(mutex_);
  return beaconRegionIdentifier_;
}
void KSBeaconRegionVisit::setBeaconRegionIdentifier(std::optional<std::string> v) {
  // The row's region is linked by the store when the row is made; the record's copy of its
  // identifier changes alone.
  std::lock_guard lock(mutex_);
  beaconRegionIdentifier_ = std::move(v);
}

std::optional<Date> KSBeaconRegionVisit::beganAt() const {
  std::lock_guard lock(mutex_);
  return beganAt_;
}
void KSBeaconRegionVisit::setBeganAt(std::optional<Date> v) {
  {
    std::lock_guard lock(mutex_);
    beganAt_ = v;
  }
  safeSetValue(sv::toValue(v), "beganAt");
}

std::optional<Date> KSBeaconRegionVisit::endedAt() const {
  std::lock_guard lock(mutex_);
  return endedAt_;
}
void KSBeaconRegionVisit::setEndedAt(std::optional<Date> v) {
  {
    std::lock_guard lock(mutex_);
    endedAt_ = v;
  }
  safeSetValue(sv::toValue(v), "endedAt");
}

std::optional<std::string> KSBeaconRegionVisit::beaconRegionVisitID() const {
  std::lock_guard lock(mutex_);
  return beaconRegionVisitID_;
}
void KSBeaconRegionVisit::setBeaconRegionVisitID(std::optional<std::string> v) {
  Value stored = sv::toValue(v);
  {
    std::lock_guard lock(mutex_);
    beaconRegionVisitID_ = std::move(v);
  }
  safeSetValue(std::move(stored), "beaconRegionVisitID");
}

std::shared_ptr<KSStoredRow> KSBeaconRegionVisit::managedBeaconRegionVisit() const {
  std::lock_guard lock(mutex_);
  return row_;
}
void KSBeaconRegionVisit::setManagedBeaconRegionVisit(std::shared_ptr<KSStoredRow> row) {
  std::lock_guard lock(mutex_);
  row_ = std::move(row);
}

std::shared_ptr<KSBeaconRegionVisit> KSBeaconRegionVisit::copy() const {
  auto visit = std::make_shared<KSBeaconRegionVisit>();
  visit->setEndedAt(endedAt());
  visit->setBeganAt(beganAt());
  visit->setBeaconRegionVisitID(beaconRegionVisitID());
  visit->setBeaconRegionIdentifier(beaconRegionIdentifier());
  return visit;
}

void KSBeaconRegionVisit::storedVisitsWithPredicate(
    const std::optional<KSStorePredicate>& predicate, const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
    std::function<void(const std::vector<std::shared_ptr<KSBeaconRegionVisit>>&)> success,
    KSLocalStoragePort::FailureHandler failure) {
  stored_records::fetch<KSBeaconRegionVisit>(KSBeaconRegionVisitEntityName, predicate, sortDescriptors,
                                             &KSStoredRow::toBeaconRegionVisit, std::move(success), std::move(failure));
}

void KSBeaconRegionVisit::numberOfVisitsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                                      KSLocalStoragePort::CountHandler success,
                                                      KSLocalStoragePort::FailureHandler failure) {
  stored_records::count(KSBeaconRegionVisitEntityName, predicate, std::move(success), std::move(failure));
}

}  // namespace velmora::kestrine
