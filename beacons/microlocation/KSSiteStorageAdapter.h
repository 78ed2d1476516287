#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "platform/store/Predicate.h"

namespace velmora::kestrine {

class KSLocalStorageManager;

// The site manager's and the visit tracker's store ports over the SDK's storage manager.
// The manager is looked up at every call, so the adapter can be made before the store is;
// without one, writes do nothing, lookups answer nothing and fetches answer no visits.
//
// Fetched visits come bound to their rows, on the store's queue.
class KSSiteStorageAdapter final : public KSSiteStorePort, public KSVisitStorePort {
 public:
  using StorageGetter = std::function<std::shared_ptr<KSLocalStorageManager>()>;
  explicit KSSiteStorageAdapter(StorageGetter storage);
  explicit KSSiteStorageAdapter(std::shared_ptr<KSLocalStorageManager> storage);

  // --- sites
  void storeSite(const std::shared_ptr<KSSite>& site) override;
  std::shared_ptr<KSSite> fetchSiteForSiteID(const std::string& siteID) override;

  // --- visits
  std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string& serialNumber) override;
  std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string& identifier) override;
  void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(platform::Date date, std::int64_t limit) override;
  void fetchUnEndedAndResumableBeaconVisits(platform::Date rangedAfter, VisitsHandler handler) override;
  void fetchUnPostedBeaconVisits(platform::Date begunAfter, VisitsHandler handler) override;

  void saveContext() override;

 private:
  void fetchVisits(const platform::store::Predicate& predicate, std::vector<platform::store::SortDescriptor> sort,
                   VisitsHandler handler);
  StorageGetter storage_;
};

}  // namespace velmora::kestrine
