#include "beacons/storage/KSLocalStorageManager.h"

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSEvent.h"
#include "beacons/storage/KSEventSummary.h"
#include "beacons/storage/KSManagedBeacon.h"
#include "beacons/storage/KSManagedEventSummary.h"
#include "beacons/storage/KSManagedObject.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "beacons/storage/KSManagedSite.h"
#include "beacons/storage/KSSyncStatusFilter.h"
#include "platform/app/Application.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"

#undef major
#undef minor

namespace velmora::kestrine {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::FetchRequest;
using platform::store::ObjectID;
using platform::store::ObjectStore;
using platform::store::Predicate;
using platform::store::SortDescriptor;
using platform::store::StoreContext;
using StorePtr = std::shared_ptr<ObjectStore>;

namespace {

constexpr std::string_view kLog = "local-storage";

// A fetch request; `offset` and `values` as the store takes them.
FetchRequest request(std::string_view entity, Predicate predicate, std::vector<SortDescriptor> sort = {},
                     bool values = true, std::int64_t offset = 0, std::int64_t limit = 0) {
  FetchRequest r;
  r.entity = std::string(entity);
  r.predicate = std::move(predicate);
  r.sort = std::move(sort);
  r.includesPropertyValues = values;
  r.offset = offset;
  r.limit = limit;
  return r;
}

// The first row (oldest insert) matching, or nullopt; a failed fetch counts as no row.
std::optional<ObjectID> firstRow(StoreContext& ctx, std::string_view entity, const Predicate& predicate) {
  platform::Error error;
  auto rows = ctx.fetch(request(entity, predicate, {}, false, 0, 1), &error);
  if (!rows) {
    platform::Log::error(kLog, "looking up a {} row failed: {}", entity, error.localizedDescription);
    return std::nullopt;
  }
  if (rows->empty()) return std::nullopt;
  return rows->front().id;
}

// The first row whose attribute equals the value, through the store's kept lookup.
std::optional<ObjectID> firstRowWhere(StoreContext& ctx, std::string_view entity, std::string_view key,
                                      const Value& value) {
  platform::Error error;
  auto row = ctx.firstObjectID(entity, key, value, &error);
  if (!row && !error.domain.empty()) {
    platform::Log::error(kLog, "looking up a {} row failed: {}", entity, error.localizedDescription);
  }
  return row;
}

std::optional<ObjectID> insert(StoreContext& ctx, std::string_view entity, const Dict& values) {
  platform::Error error;
  auto row = ctx.insert(entity, values, &error);
  if (!row) platform::Log::error(kLog, "inserting a {} row failed: {}", entity, error.localizedDescription);
  return row;
}

std::optional<ObjectID> managedBeaconRegionFromBeaconRegion(StoreContext& ctx, const KSBeaconRegion& region) {
  Dict values;
  const auto text = [&](const char* key, const std::optional<std::string>& v) {
    if (v) values.emplace(key, Value(*v));
  };
  text("beaconRegionID", region.beaconRegionID());
  text("name", region.name());
  text("identifier", region.identifier());
  text("proximityUUIDString", region.proximityUUIDString());
  if (auto major = region.major()) values.emplace("major", Value(static_cast<std::int64_t>(*major)));
  if (auto minor = region.minor()) values.emplace("minor", Value(static_cast<std::int64_t>(*minor)));
  text("teamID", region.teamID());
  return insert(ctx, KSBeaconRegionEntityName, values);
}

// A new beacon row for a beacon not stored yet, linked to its region's row (made when it is
// missing). No row is made for a beacon without its beacon ID, which the row requires.
void managedObjectFromBeacon(StoreContext& ctx, const KSManagedBeacon::Snapshot& beacon) {
  auto row = KSManagedBeacon::managedObjectFromBeacon(ctx, beacon);
  if (!row) return;
  const auto& region = beacon.beaconRegion;
  if (!region || !region->identifier()) return;
  auto regionRow = firstRowWhere(ctx, KSBeaconRegionEntityName, "identifier", Value(*region->identifier()));
  if (!regionRow) regionRow = managedBeaconRegionFromBeaconRegion(ctx, *region);
  if (regionRow) ctx.setRelated(*row, "beaconRegion", *regionRow);
}

// The event's fields as the row keeps them; the posted mark is not copied, so a new row is
// always unposted.
Dict eventRowValues(const KSEvent& event) {
  static constexpr std::string_view kKeys[] = {
      "eventID",     "eventIdentifier", "eventName", "sessionUUID", "customDeviceIdentifier", "siteID",
      "siteName",    "beaconID",        "beaconName", "categoryID", "categoryName",           "beganAt",
      "endedAt",     "rssi",            "accuracy",  "mapID",       "mapX",                   "mapY",
      "beganInBackground", "endedInBackground", "value1", "value2", "value3"};
  Dict values;
  for (std::string_view key : kKeys) {
    Value v = event.valueForKey(key);
    if (!v.isAbsent() && !v.isNull()) values.emplace(std::string(key), std::move(v));
  }
  return values;
}

void save(StoreContext& ctx) {
  platform::Error error;
  if (!ctx.save(&error)) platform::Log::error(kLog, "saving the store failed: {}", error.localizedDescription);
}

void removeAll(StoreContext& ctx, const std::vector<platform::store::Row>& rows) {
  for (const auto& row : rows) ctx.remove(row.id);
}

}  // namespace

// --- making -----------------------------------------------------------------------------------

std::shared_ptr<KSLocalStorageManager> KSLocalStorageManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

namespace {
std::shared_ptr<KSLocalStorageManager> makeShared(KSInstanceProvider& registry) {
  const KSPlatformBundle& platform = registry.platform();
  KSLocalStorageManager::Environment env;
  auto app = platform.app ? platform.app : platform::app::Application::hostProcess();
  env.provider = std::make_shared<KSManagedObjectContextProvider>(app->documentsDirectory(), platform.scheduler);
  env.scheduler = platform.scheduler;
  env.notificationCenter = platform.notificationCenter;
  env.application = platform.app.get();
  env.storageEnabled = [weak = registry.weak_from_this()] {
    auto p = weak.lock();
    if (!p || !p->hasSingleton(KSConfigurator::kSingletonName)) return true;  // the option's default
    auto configurator = p->singleton<KSConfigurator>(KSConfigurator::kSingletonName, {});
    return !configurator || configurator->useLocalStorage();
  };
  auto manager = KSLocalStorageManager::create(std::move(env));
  KSLocalStoragePort::setShared(manager);
  return manager;
}
}  // namespace

std::shared_ptr<KSLocalStorageManager> KSLocalStorageManager::sharedManager(KSInstanceProvider& provider) {
  return provider.singleton<KSLocalStorageManager>(kSingletonName, makeShared);
}

void KSLocalStorageManager::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSLocalStorageManager>(std::string(kSingletonName), makeShared);
}

std::shared_ptr<KSLocalStorageManager> KSLocalStorageManager::create(Environment environment) {
  auto manager = std::make_shared<KSLocalStorageManager>(Token{}, std::move(environment));
  manager->observeLifecycle();
  return manager;
}

KSLocalStorageManager::KSLocalStorageManager(Token, Environment environment) : env_(std::move(environment)) {}

KSLocalStorageManager::~KSLocalStorageManager() {
  if (env_.notificationCenter) {
    for (const auto& token : observers_) env_.notificationCenter->removeObserver(token);
  }
}

void KSLocalStorageManager::observeLifecycle() {
  if (!env_.notificationCenter) return;
  for (std::string_view name : {platform::app::kDidEnterBackgroundNotification, platform::app::kWillTerminateNotification}) {
    const bool background = name == platform::app::kDidEnterBackgroundNotification;
    observers_.push_back(env_.notificationCenter->addObserver(
        std::string(name), env_.application, nullptr, [weak = weak_from_this(), background](const platform::Notification&) {
          auto self = weak.lock();
          if (!self) return;
          if (background) {
            self->applicationDidEnterBackground();
          } else {
            self->applicationWillTerminate();
          }
        }));
  }
}

// --- access -----------------------------------------------------------------------------------

bool KSLocalStorageManager::localStorageEnabled() const { return !env_.storageEnabled || env_.storageEnabled(); }

StorePtr KSLocalStorageManager::mainContext() {
  if (!localStorageEnabled()) return nullptr;
  std::lock_guard lock(mutex_);
  if (!store_ && env_.provider) store_ = env_.provider->store();
  return store_;
}

template <class Work>
bool KSLocalStorageManager::perform(Work work) {
  auto store = mainContext();
  if (!store) return false;
  // The store is held weakly: queued work is kept by the store itself until it runs.
  store->perform([weak = std::weak_ptr<ObjectStore>(store), work = std::move(work)](StoreContext& ctx) mutable {
    if (auto store = weak.lock()) work(ctx, store);
  });
  return true;
}

bool KSLocalStorageManager::performAndWait(const std::function<void(StoreContext&, const StorePtr&)>& work) {
  auto store = mainContext();
  if (!store) return false;
  store->performAndWait([&](StoreContext& ctx) { work(ctx, store); });
  return true;
}

platform::Error KSLocalStorageManager::errorWithDescription(std::string_view description) {
  return platform::Error(std::string(KSLocalStorageManagerErrorDomain), -1, std::string(description));
}

void KSLocalStorageManager::handleContextError(const platform::Error& error) {
  platform::Log::error(kLog, "saving the store failed, its unsaved changes are rolled back: {}",
                       error.localizedDescription);
}

Predicate KSLocalStorageManager::predicateFrom(const std::optional<KSStorePredicate>& predicate) {
  if (!predicate) return {};
  std::vector<Predicate> parts;
  for (const auto& c : predicate->conditions) {
    parts.push_back(Predicate::compare(c.key, static_cast<Predicate::Op>(c.op), c.value));
  }
  return Predicate::allOf(std::move(parts));
}

std::vector<SortDescriptor> KSLocalStorageManager::sortFrom(
    const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors) {
  std::vector<SortDescriptor> out;
  for (const auto& s : sortDescriptors.value_or(std::vector<KSSortDescriptor>{})) out.push_back({s.key, s.ascending});
  return out;
}

// --- upserts ----------------------------------------------------------------------------------

void KSLocalStorageManager::storeBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!platform::precondition(beacon != nullptr, "beacon")) return;
  const auto serial = beacon->serialNumber();
  if (!serial) return;
  // What is stored is read here, at the call: the caller keeps its record and may change it
  // before the store's queue gets to the write.
  perform([snapshot = KSManagedBeacon::snapshotOf(*beacon), serial = *serial](StoreContext& ctx, const StorePtr&) {
    if (auto row = firstRowWhere(ctx, KSBeaconEntityName, "serialNumber", Value(serial))) {
      KSManagedBeacon::setValuesWithBeacon(ctx, *row, snapshot);
    } else {
      managedObjectFromBeacon(ctx, snapshot);
    }
  });
}

void KSLocalStorageManager::storeSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  const auto siteID = site->siteID();
  if (!siteID || siteID->empty()) return;
  perform([site, siteID = *siteID](StoreContext& ctx, const StorePtr&) {
    if (auto row = firstRowWhere(ctx, KSSiteEntityName, "siteID", Value(siteID))) {
      KSManagedSite::setValuesWithSite(ctx, *row, *site);
    } else {
      KSManagedSite::managedObjectFromSite(ctx, *site);
    }
  });
}

void KSLocalStorageManager::storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) {
  if (!region || !region->identifier()) return;
  perform([region = region->copy()](StoreContext& ctx, const StorePtr&) {
    if (!firstRowWhere(ctx, KSBeaconRegionEntityName, "identifier", Value(*region->identifier()))) {
      managedBeaconRegionFromBeaconRegion(ctx, *region);
    }
  });
}

void KSLocalStorageManager::storeEventSummary(const std::shared_ptr<KSEventSummary>& summary) {
  if (!summary) return;
  perform([summary = summary->copy()](StoreContext& ctx, const StorePtr&) {
    const auto& identifier = summary->eventIdentifier();
    std::optional<ObjectID> row;
    if (identifier) row = firstRowWhere(ctx, KSEventSummaryEntityName, "eventIdentifier", Value(*identifier));
    if (!row && identifier && !identifier->empty()) {
      row = insert(ctx, KSEventSummaryEntityName, Dict{{"eventIdentifier", Value(*identifier)}});
    }
    if (row) KSManagedEventSummary::setValuesWithEventSummary(ctx, *row, *summary);
  });
}

void KSLocalStorageManager::storeEvent(const std::shared_ptr<KSEvent>& event) {
  if (!event || !event->eventID()) return;
  // Read at the call, as for beacons: the caller's event has no lock and may change after.
  perform([values = eventRowValues(*event)](StoreContext& ctx, const StorePtr&) {
    insert(ctx, KSEventEntityName, values);
  });
}

void KSLocalStorageManager::updateEvent(const std::string& eventID, Date postedAt) {
  perform([eventID, postedAt](StoreContext& ctx, const StorePtr&) {
    if (auto row = firstRowWhere(ctx, KSEventEntityName, "eventID", Value(eventID))) {
      ctx.setValue(*row, "lastPostedAt", Value(postedAt));
    }
  });
}

// --- lookups ----------------------------------------------------------------------------------

std::shared_ptr<KSEventSummary> KSLocalStorageManager::eventSummaryForIdentifier(const std::string& eventIdentifier) {
  std::shared_ptr<KSEventSummary> out;
  performAndWait([&](StoreContext& ctx, const StorePtr&) {
    if (auto row = firstRowWhere(ctx, KSEventSummaryEntityName, "eventIdentifier", Value(eventIdentifier))) {
      out = KSManagedEventSummary::toEventSummary(ctx, *row);
    }
  });
  return out;
}

std::shared_ptr<KSBeacon> KSLocalStorageManager::fetchBeacon(std::string_view key, const std::string& value) {
  std::shared_ptr<KSBeacon> out;
  performAndWait([&](StoreContext& ctx, const StorePtr&) {
    const Predicate p = SyncStatusFilter::withoutSyncStatus(Predicate::eq(std::string(key), value), KSSyncStatusUnauthorized);
    if (auto row = firstRow(ctx, KSBeaconEntityName, p)) out = KSManagedBeacon::toBeacon(ctx, *row);
  });
  return out;
}

std::shared_ptr<KSBeacon> KSLocalStorageManager::fetchBeaconForIBeaconKey(const std::string& iBeaconKey) {
  return fetchBeacon("iBeaconKey", iBeaconKey);
}
std::shared_ptr<KSBeacon> KSLocalStorageManager::fetchBeaconForBluetoothAddress(const std::string& address) {
  return fetchBeacon("bluetoothAddress", address);
}
std::shared_ptr<KSBeacon> KSLocalStorageManager::fetchBeaconForEddystoneUIDString(const std::string& uid) {
  return fetchBeacon("eddystoneUIDString", uid);
}
std::shared_ptr<KSBeacon> KSLocalStorageManager::fetchBeaconForSerialNumber(const std::string& serialNumber) {
  return fetchBeacon("serialNumber", serialNumber);
}

std::shared_ptr<KSSite> KSLocalStorageManager::fetchSiteForSiteID(const std::string& siteID) {
  std::shared_ptr<KSSite> out;
  performAndWait([&](StoreContext& ctx, const StorePtr&) {
    const Predicate p = SyncStatusFilter::withoutSyncStatus(Predicate::eq("siteID", siteID), KSSyncStatusUnauthorized);
    if (auto row = firstRow(ctx, KSSiteEntityName, p)) out = KSManagedSite::toSite(ctx, *row);
  });
  return out;
}

// --- visit rows -------------------------------------------------------------------------------

std::shared_ptr<KSBeaconVisit> KSLocalStorageManager::managedBeaconVisitForSerialNumber(const std::string& serialNumber) {
  if (!platform::precondition(!serialNumber.empty(), "serialNumber.length > 0")) return nullptr;
  std::shared_ptr<KSStoredRow> handle;
  const bool on = performAndWait([&](StoreContext& ctx, const StorePtr& store) {
    auto beacon = firstRowWhere(ctx, KSBeaconEntityName, "serialNumber", Value(serialNumber));
    if (!beacon) return;
    if (auto row = insert(ctx, KSBeaconVisitEntityName, Dict{{"beacon", Value(beacon->pk)}})) {
      handle = KSManagedObject::make(store, *row);
    }
  });
  if (!on) return nullptr;
  // Binding reads the row on the store's queue; it is done here, outside the wait above.
  return handle ? KSBeaconVisit::initWithManagedBeaconVisit(handle) : std::make_shared<KSBeaconVisit>();
}

std::shared_ptr<KSBeaconRegionVisit> KSLocalStorageManager::managedBeaconRegionVisitForIdentifier(
    const std::string& identifier) {
  if (!platform::precondition(!identifier.empty(), "identifier.length > 0")) return nullptr;
  std::shared_ptr<KSStoredRow> handle;
  performAndWait([&](StoreContext& ctx, const StorePtr& store) {
    auto region = firstRowWhere(ctx, KSBeaconRegionEntityName, "identifier", Value(identifier));
    if (!region) return;
    if (auto row = insert(ctx, KSBeaconRegionVisitEntityName, Dict{{"beaconRegion", Value(region->pk)}})) {
      handle = KSManagedObject::make(store, *row);
    }
  });
  return handle ? KSBeaconRegionVisit::initWithManagedBeaconRegionVisit(handle) : nullptr;
}

// --- generic fetch and count ------------------------------------------------------------------

void KSLocalStorageManager::fetchRecordsForEntitiesNamed(const std::string& entity,
                                                         const std::optional<KSStorePredicate>& predicate,
                                                         const std::optional<std::vector<KSSortDescriptor>>& sort,
                                                         RowsHandler success, FailureHandler failure) {
  fetchRecordsForEntitiesNamed(entity, predicateFrom(predicate), sortFrom(sort), std::move(success), std::move(failure));
}

void KSLocalStorageManager::countRecordsForEntitiesNamed(const std::string& entity,
                                                         const std::optional<KSStorePredicate>& predicate,
                                                         CountHandler success, FailureHandler failure) {
  countRecordsForEntitiesNamed(entity, predicateFrom(predicate), std::move(success), std::move(failure));
}

void KSLocalStorageManager::fetchRowsForEntitiesNamed(const std::string& entity, const Predicate& predicate,
                                                      const std::vector<SortDescriptor>& sort,
                                                      StoreRowsHandler success, FailureHandler failure) {
  auto store = mainContext();
  if (!store) {
    if (success) success({});
    return;
  }
  store->perform([entity, predicate, sort, success = std::move(success), failure = std::move(failure)](StoreContext& ctx) {
    platform::Error error;
    auto rows = ctx.fetch(request(entity, predicate, sort), &error);
    if (!rows) {
      platform::Log::error(kLog, "fetching {} rows failed: {}", entity, error.localizedDescription);
      if (failure) failure(errorWithDescription(KSLocalStorageFetchErrorDescription));
      return;
    }
    if (success) success(std::move(*rows));
  });
}

void KSLocalStorageManager::fetchRecordsForEntitiesNamed(const std::string& entity, const Predicate& predicate,
                                                         const std::vector<SortDescriptor>& sort, RowsHandler success,
                                                         FailureHandler failure) {
  auto store = mainContext();
  if (!store) {
    if (success) success({});
    return;
  }
  store->perform([entity, predicate, sort, success = std::move(success), failure = std::move(failure),
                  weakStore = std::weak_ptr<ObjectStore>(store)](StoreContext& ctx) {
    auto store = weakStore.lock();
    platform::Error error;
    auto rows = ctx.fetch(request(entity, predicate, sort, false), &error);
    if (!rows) {
      platform::Log::error(kLog, "fetching {} rows failed: {}", entity, error.localizedDescription);
      if (failure) failure(errorWithDescription(KSLocalStorageFetchErrorDescription));
      return;
    }
    Rows handles;
    handles.reserve(rows->size());
    for (const auto& row : *rows) handles.push_back(KSManagedObject::make(store, row.id));
    if (success) success(std::move(handles));
  });
}

void KSLocalStorageManager::countRecordsForEntitiesNamed(const std::string& entity, const Predicate& predicate,
                                                         CountHandler success, FailureHandler failure) {
  auto scheduler = env_.scheduler ? env_.scheduler : platform::dispatch::Scheduler::shared();
  auto store = mainContext();
  if (!store) {
    if (success) success(0);
    return;
  }
  store->perform([entity, predicate, scheduler, success = std::move(success), failure = std::move(failure)](
                     StoreContext& ctx) {
    platform::Error error;
    auto count = ctx.count(entity, predicate, &error);
    if (!count) platform::Log::error(kLog, "counting {} rows failed: {}", entity, error.localizedDescription);
    scheduler->mainQueue()->async([count, success, failure] {
      if (!count) {
        if (failure) failure(errorWithDescription(KSLocalStorageCountErrorDescription));
      } else if (success) {
        success(static_cast<std::uint64_t>(*count));
      }
    });
  });
}

// --- deletes and purges -----------------------------------------------------------------------

void KSLocalStorageManager::deleteManagedBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return;
  perform([beaconID = beacon->beaconID()](StoreContext& ctx, const StorePtr&) {
    if (beaconID) {
      if (auto rows = ctx.fetch(request(KSBeaconEntityName, Predicate::eq("beaconID", *beaconID), {}, false))) {
        removeAll(ctx, *rows);
      }
    }
    save(ctx);
  });
}

void KSLocalStorageManager::deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(Date date, std::int64_t limit) {
  perform([date, limit](StoreContext& ctx, const StorePtr&) {
    const std::string entity(KSBeaconVisitEntityName);
    const Predicate old = Predicate::lt("beganAt", date) && Predicate::ne("endedAt", Value()) &&
                          Predicate::ne("lastPostedAt", Value()) &&
                          Predicate::compareKeyPaths("lastPostedAt", Predicate::Op::GreaterOrEqual, "endedAt");
    if (auto rows = ctx.fetch(request(entity, old))) removeAll(ctx, *rows);
    const Predicate posted = Predicate::ne("endedAt", Value()) && Predicate::ne("lastPostedAt", Value()) &&
                             Predicate::compareKeyPaths("lastPostedAt", Predicate::Op::Greater, "endedAt");
    if (auto count = ctx.count(entity, posted); count && *count > limit) {
      if (auto rows = ctx.fetch(request(entity, posted, {{"beganAt", false}}, false, limit))) {
        removeAll(ctx, *rows);
      }
    }
    save(ctx);
  });
}

void KSLocalStorageManager::deleteManagedEventsFromObjectGraphThatBeganBeforeDate(Date date, std::uint64_t limit) {
  perform([date, limit](StoreContext& ctx, const StorePtr&) {
    const std::string entity(KSEventEntityName);
    const Predicate endedAndPosted = Predicate::ne("endedAt", Value()) && Predicate::ne("lastPostedAt", Value());
    if (auto rows = ctx.fetch(request(entity, Predicate::lt("beganAt", date) && endedAndPosted, {}, false))) {
      removeAll(ctx, *rows);
    }
    if (auto count = ctx.count(entity, {}); count && static_cast<std::uint64_t>(*count) > limit) {
      if (auto rows = ctx.fetch(request(entity, endedAndPosted, {{"beganAt", false}}, false, static_cast<std::int64_t>(limit)))) {
        removeAll(ctx, *rows);
      }
    }
    save(ctx);
  });
}

void KSLocalStorageManager::saveContext() {
  auto store = mainContext();
  if (!store) return;
  store->perform([weak = weak_from_this()](StoreContext& ctx) {
    if (!weak.lock() || !ctx.hasChanges()) return;
    platform::Error error;
    if (!ctx.save(&error)) handleContextError(error);
  });
}

}  // namespace velmora::kestrine
