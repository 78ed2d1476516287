#include "beacons/microlocation/KSSiteStorageAdapter.h"

#include <utility>

#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSSite.h"
#include "beacons/storage/KSLocalStorageManager.h"

namespace velmora::kestrine {

using platform::Value;
using platform::store::Predicate;
using platform::store::SortDescriptor;

KSSiteStorageAdapter::KSSiteStorageAdapter(StorageGetter storage) : storage_(std::move(storage)) {}

KSSiteStorageAdapter::KSSiteStorageAdapter(std::shared_ptr<KSLocalStorageManager> storage)
    : storage_([storage = std::move(storage)] { return storage; }) {}

void KSSiteStorageAdapter::storeSite(const std::shared_ptr<KSSite>& site) {
  if (auto s = storage_()) s->storeSite(site);
}

std::shared_ptr<KSSite> KSSiteStorageAdapter::fetchSiteForSiteID(const std::string& siteID) {
  auto s = storage_();
  return s ? s->fetchSiteForSiteID(siteID) : nullptr;
}

std::shared_ptr<KSBeaconVisit> KSSiteStorageAdapter::managedBeaconVisitForSerialNumber(const std::string& serialNumber) {
  auto s = storage_();
  return s ? s->managedBeaconVisitForSerialNumber(serialNumber) : nullptr;
}

std::shared_ptr<KSBeaconRegionVisit> KSSiteStorageAdapter::managedBeaconRegionVisitForIdentifier(
    const std::string& identifier) {
  auto s = storage_();
  return s ? s->managedBeaconRegionVisitForIdentifier(identifier) : nullptr;
}

void KSSiteStorageAdapter::deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(platform::Date date,
                                                                                      std::int64_t limit) {
  if (auto s = storage_()) s->deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(date, limit);
}

void KSSiteStorageAdapter::fetchUnEndedAndResumableBeaconVisits(platform::Date rangedAfter, VisitsHandler handler) {
  const Predicate open = Predicate::eq("endedAt", Value());
  const Predicate resumable = Predicate::gt("lastRangedAt", Value(rangedAfter)) && Predicate::ne("endedAt", Value());
  fetchVisits(open || resumable, {{"lastRangedAt", true}}, std::move(handler));
}

void KSSiteStorageAdapter::fetchUnPostedBeaconVisits(platform::Date begunAfter, VisitsHandler handler) {
  const Predicate neverPosted = Predicate::gt("beganAt", Value(begunAfter)) && Predicate::ne("endedAt", Value()) &&
                                Predicate::eq("lastPostedAt", Value());
  // A row never posted has no lastPostedAt, and the comparison leaves it out here.
  const Predicate endedSincePost = Predicate::compareKeyPaths("endedAt", Predicate::Op::Greater, "lastPostedAt");
  fetchVisits(neverPosted || endedSincePost, {}, std::move(handler));
}

void KSSiteStorageAdapter::fetchVisits(const Predicate& predicate, std::vector<SortDescriptor> sort,
                                       VisitsHandler handler) {
  auto s = storage_();
  if (!s) {
    if (handler) handler({});
    return;
  }
  // A failed fetch hands over nothing: the reload and the post have nothing to do then.
  s->fetchRecordsForEntitiesNamed(
      std::string(KSBeaconVisitEntityName), predicate, sort,
      [handler](KSLocalStoragePort::Rows rows) {
        Visits visits;
        visits.reserve(rows.size());
        for (const auto& row : rows) {
          if (!row) continue;
          if (auto visit = row->toBeaconVisit()) visits.push_back(std::move(visit));
        }
        if (handler) handler(std::move(visits));
      },
      nullptr);
}

void KSSiteStorageAdapter::saveContext() {
  if (auto s = storage_()) s->saveContext();
}

}  // namespace velmora::kestrine
