#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/model/KSLocalStoragePort.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/store/ObjectStore.h"
#include "platform/store/Predicate.h"

namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSInstanceProvider;
class KSManagedObjectContextProvider;
class KSBeaconRegion;
class KSBeaconRegionVisit;
class KSBeaconVisit;
class KSEvent;
class KSEventSummary;
class KSSite;

inline constexpr std::string_view KSLocalStorageFetchErrorDescription = "Unable to fetch entities from local storage";
inline constexpr std::string_view KSLocalStorageCountErrorDescription = "Unable to count entities from local storage";

// The one door to the SDK's store: upserts of beacons, sites, regions and event summaries,
// event inserts and post marks, key lookups, visit rows bound to visit records, generic
// fetches and counts, purges and saves.
//
// All store work runs on the store's one serial queue. "Async" operations queue their work
// and return; lookups and the visit-row operations wait for theirs. Writes stay in the open
// unit of work until the next save; a save that fails is logged and rolls the unit of work
// back, so later saves work again. While local storage is switched off, or the store cannot
// be opened, writes do nothing, lookups answer nothing, fetches succeed with no rows and
// counts with 0, at once on the caller's thread.
//
// "First" row of a key means the oldest insert. Lookups by key skip unauthorised rows (sync
// status 1) with a null-safe test: a row without a status is found. Thread-safe.
class KSLocalStorageManager : public KSLocalStoragePort, public std::enable_shared_from_this<KSLocalStorageManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSLocalStorageManager";

  struct Environment {
    std::shared_ptr<KSManagedObjectContextProvider> provider;  // opens the store file
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;   // its main queue gets count answers
    std::function<bool()> storageEnabled;                       // read at every call; none: on
    std::shared_ptr<platform::NotificationCenter> notificationCenter;  // none: no lifecycle saves
    const void* application = nullptr;  // the sender of the lifecycle notifications saved on
  };

  // Made on the registry's platform: the store in the app's documents folder, the registry's
  // scheduler and notification centre, storage switched by the configurator's option. The
  // registry's manager is also the model's store port.
  static std::shared_ptr<KSLocalStorageManager> sharedManager();
  static std::shared_ptr<KSLocalStorageManager> sharedManager(KSInstanceProvider& provider);
  static void installMaker(KSInstanceProvider& provider);

  // Saves on the application's did-enter-background and will-terminate notifications.
  static std::shared_ptr<KSLocalStorageManager> create(Environment environment);
  ~KSLocalStorageManager() override;
  KSLocalStorageManager(const KSLocalStorageManager&) = delete;
  KSLocalStorageManager& operator=(const KSLocalStorageManager&) = delete;

  bool localStorageEnabled() const;
  // The open store; nullptr while storage is off or the store cannot be opened (the next
  // call tries again).
  std::shared_ptr<platform::store::ObjectStore> mainContext();

  // --- upserts and inserts (async)
  // Upserts by serial number, whatever the stored row's sync status; a beacon without a
  // serial number stores nothing, and one without a beacon ID makes no new row.
  void storeBeacon(const std::shared_ptr<KSBeacon>& beacon) override;
  void storeSite(const std::shared_ptr<KSSite>& site);
  // Inserts a region row when none has the identifier; an existing row is left unchanged.
  void storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region);
  void storeEventSummary(const std::shared_ptr<KSEventSummary>& summary);
  // Always a new row (unposted); storing one event twice makes two rows.
  void storeEvent(const std::shared_ptr<KSEvent>& event);
  // Marks the first row of that event ID posted at the date.
  void updateEvent(const std::string& eventID, platform::Date postedAt);

  // --- lookups (wait)
  std::shared_ptr<KSEventSummary> eventSummaryForIdentifier(const std::string& eventIdentifier);
  std::shared_ptr<KSBeacon> fetchBeaconForIBeaconKey(const std::string& iBeaconKey) override;
  std::shared_ptr<KSBeacon> fetchBeaconForBluetoothAddress(const std::string& address) override;
  std::shared_ptr<KSBeacon> fetchBeaconForEddystoneUIDString(const std::string& uid) override;
  std::shared_ptr<KSBeacon> fetchBeaconForSerialNumber(const std::string& serialNumber);
  std::shared_ptr<KSSite> fetchSiteForSiteID(const std::string& siteID);

  // --- visit rows (wait). A new visit row linked to the first beacon row of the serial
  // number, and a visit bound to it; without such a row a plain visit bound to nothing.
  // nullptr with storage off or an empty serial number.
  std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string& serialNumber);
  // A new region-visit row linked to the first region row of the identifier, and a region
  // visit bound to it; nullptr when there is no such region row.
  std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string& identifier);

  // --- generic fetch and count
  using StoreRowsHandler = std::function<void(std::vector<platform::store::Row>)>;
  void fetchRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                    const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                    RowsHandler success, FailureHandler failure) override;
  void countRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                    CountHandler success, FailureHandler failure) override;
  // The same over the store's own predicates. Rows come as handles (`fetchRecords...`) or as
  // the values read (`fetchRows...`), on the store's queue.
  void fetchRecordsForEntitiesNamed(const std::string& entity, const platform::store::Predicate& predicate,
                                    const std::vector<platform::store::SortDescriptor>& sortDescriptors,
                                    RowsHandler success, FailureHandler failure);
  void fetchRowsForEntitiesNamed(const std::string& entity, const platform::store::Predicate& predicate,
                                 const std::vector<platform::store::SortDescriptor>& sortDescriptors,
                                 StoreRowsHandler success, FailureHandler failure);
  void countRecordsForEntitiesNamed(const std::string& entity, const platform::store::Predicate& predicate,
                                    CountHandler success, FailureHandler failure);

  // --- deletes and purges (async, each ends with a save)
  // Deletes every beacon row with the beacon's ID, with what cascades from them.
  void deleteManagedBeacon(const std::shared_ptr<KSBeacon>& beacon);
  // Deletes the posted, ended visits that began before the date, then all but the `limit`
  // newest of those posted strictly after they ended.
  void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(platform::Date date, std::int64_t limit);
  // Deletes the ended, posted events that began before the date; then, when more than
  // `limit` events are stored in all, all but the `limit` newest ended, posted ones.
  void deleteManagedEventsFromObjectGraphThatBeganBeforeDate(platform::Date date, std::uint64_t limit);

  // Saves the unit of work when it holds changes (async).
  void saveContext() override;
  void applicationDidEnterBackground() { saveContext(); }
  void applicationWillTerminate() { saveContext(); }

  static platform::Error errorWithDescription(std::string_view description);
  static platform::store::Predicate predicateFrom(const std::optional<KSStorePredicate>& predicate);
  static std::vector<platform::store::SortDescriptor> sortFrom(
      const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors);

 private:
  struct Token {};

 public:
  KSLocalStorageManager(Token, Environment environment);

 private:
  void observeLifecycle();
  // Runs `work(context, store)` on the store's queue (async) when storage is on.
  template <class Work>
  bool perform(Work work);
  // Runs `work` on the store's queue and waits; false when storage is off.
  bool performAndWait(
      const std::function<void(platform::store::StoreContext&, const std::shared_ptr<platform::store::ObjectStore>&)>& work);
  std::shared_ptr<KSBeacon> fetchBeacon(std::string_view key, const std::string& value);
  static void handleContextError(const platform::Error& error);

  const Environment env_;
  std::mutex mutex_;  // guards store_
  std::shared_ptr<platform::store::ObjectStore> store_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;
};

}  // namespace velmora::kestrine
