#include "beacons/microlocation/KSSiteManagerInternal.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSSiteStorageAdapter.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "platform/app/Application.h"

namespace velmora::kestrine {

using platform::Date;

void copyApiPropertiesFromSite(KSSite& site, const KSSite& fetched) {
  if (&site == &fetched) return;
  site.setSiteID(fetched.siteID());
  site.setName(fetched.name());
  site.setSiteAccessType(fetched.siteAccessType());
  site.setAddress(fetched.address());
  site.setMaps(fetched.maps());
  site.setTeamID(fetched.teamID());
  site.setNotes(fetched.notes());
  site.setBeaconCount(fetched.beaconCount());
  site.setCreatedAt(fetched.createdAt());
  site.setModifiedAt(fetched.modifiedAt());
  site.setCustomValues(fetched.customValues());
}

namespace {

// Sync requests go to the registry's operation manager, looked up at each use so one made
// after the site manager is found.
class OperationManagerSync final : public KSSiteSyncRequesting {
 public:
  explicit OperationManagerSync(std::weak_ptr<KSInstanceProvider> provider) : provider_(std::move(provider)) {}
  void syncAllSitesForAppModifiedAfter(std::optional<Date> modifiedAfter) override {
    if (auto m = manager()) m->syncAllSitesForAppModifiedAfter(modifiedAfter);
  }
  void syncSiteWithSiteID(const std::string& siteID) override {
    if (auto m = manager()) m->syncSiteWithSiteID(siteID);
  }

 private:
  std::shared_ptr<KSApiOperationManager> manager() const {
    auto p = provider_.lock();
    if (!p || !p->hasSingleton(KSApiOperationManager::kSingletonName)) return nullptr;
    return p->singleton<KSApiOperationManager>(KSApiOperationManager::kSingletonName, {});
  }
  std::weak_ptr<KSInstanceProvider> provider_;
};

bool isSyncedOrRestored(std::int64_t status) { return status == KSSyncStatusSynced || status == KSSyncStatusRestored; }

}  // namespace

// --- making

std::shared_ptr<KSSiteManagerInternal> KSSiteManagerInternal::sharedInternal(KSInstanceProvider& provider) {
  return provider.singleton<KSSiteManagerInternal>(kSingletonName, {});
}

void KSSiteManagerInternal::installMaker(KSInstanceProvider& provider, Ports ports) {
  installMaker(provider, std::move(ports), nullptr);
}

void KSSiteManagerInternal::installMaker(KSInstanceProvider& provider, Ports ports, MadeHook onMade) {
  provider.installMaker<KSSiteManagerInternal>(std::string(kSingletonName), [ports, onMade](KSInstanceProvider& p) {
    Ports filled = ports;
    const auto& platform = p.platform();
    if (!filled.scheduler) filled.scheduler = platform.scheduler;
    if (!filled.center) filled.center = platform.notificationCenter;
    if (!filled.application) filled.application = platform.app.get();
    std::weak_ptr<KSInstanceProvider> weakProvider = p.weak_from_this();
    if (!filled.sync) {
      auto sync = std::make_shared<OperationManagerSync>(weakProvider);
      filled.sync = [sync] { return sync; };
    }
    if (!filled.store) {
      auto adapter = std::make_shared<KSSiteStorageAdapter>([weakProvider]() -> std::shared_ptr<KSLocalStorageManager> {
        auto provider = weakProvider.lock();
        return provider ? KSLocalStorageManager::sharedManager(*provider) : nullptr;
      });
      filled.store = [adapter] { return adapter; };
    }
    if (!filled.location) {
      filled.location = [weakProvider]() -> std::optional<platform::location::Location> {
        auto provider = weakProvider.lock();
        auto client = provider ? KSLocationManagerClient::sharedClient(*provider) : nullptr;
        return client ? client->location() : std::nullopt;
      };
    }
    auto configurator = KSConfigurator::sharedConfigurator(p);
    std::weak_ptr<KSConfigurator> weakConfigurator = configurator;
    auto& s = filled.settings;
    if (!s.cacheRefreshTimeInterval) {
      s.cacheRefreshTimeInterval = [weakConfigurator] {
        auto c = weakConfigurator.lock();
        return c ? c->cacheRefreshTimeInterval() : 3600.0;
      };
    }
    if (!s.cacheAllBeaconsForApp) {
      s.cacheAllBeaconsForApp = [weakConfigurator] {
        auto c = weakConfigurator.lock();
        return c && c->cacheAllBeaconsForApp();
      };
    }
    if (!s.discoverBeaconsNearby) {
      s.discoverBeaconsNearby = [weakConfigurator] {
        auto c = weakConfigurator.lock();
        return !c || c->discoverBeaconsNearby();
      };
    }
    auto hub = KSBeaconManagerInternal::sharedInternal(p);
    std::weak_ptr<KSBeaconManagerInternal> weakHub = hub;
    if (!filled.exitedSite) {
      filled.exitedSite = [weakHub](const std::string& siteID) {
        if (auto h = weakHub.lock()) h->siteManagerExitedSiteWithSiteID(siteID);
      };
    }
    auto manager = create(std::move(filled));
    if (hub) hub->addDelegate(manager);
    if (onMade) onMade(p, manager);
    return manager;
  });
  provider.installMaker<KSSiteManagerSubscription>(
      std::string(KSSiteManagerSubscription::kSingletonName),
      [](KSInstanceProvider& p) -> std::shared_ptr<KSSiteManagerSubscription> { return sharedInternal(p); });
}

std::shared_ptr<KSSiteManagerInternal> KSSiteManagerInternal::create(Ports ports) {
  auto manager = std::make_shared<KSSiteManagerInternal>(Token{}, std::move(ports));
  manager->subscribe();
  return manager;
}

KSSiteManagerInternal::KSSiteManagerInternal(Token, Ports ports) : ports_(std::move(ports)) {
  scheduler_ = ports_.scheduler ? ports_.scheduler : platform::dispatch::Scheduler::shared();
  clock_ = scheduler_->clock();
  delegateQueue_ = scheduler_->makeSerialQueue(std::string(kDelegateQueueLabel));
}

KSSiteManagerInternal::~KSSiteManagerInternal() {
  if (ports_.center) {
    for (const auto& token : observers_) ports_.center->removeObserver(token);
  }
}

void KSSiteManagerInternal::subscribe() {
  if (!ports_.center) return;
  std::weak_ptr<KSSiteManagerInternal> weak = weak_from_this();
  observers_.push_back(ports_.center->addObserver(std::string(platform::app::kDidEnterBackgroundNotification),
                                                  ports_.application, nullptr, [weak](const auto&) {
                                                    if (auto self = weak.lock()) self->applicationDidEnterBackground();
                                                  }));
  observers_.push_back(ports_.center->addObserver(std::string(platform::app::kDidBecomeActiveNotification), nullptr,
                                                  nullptr, [weak](const auto&) {
                                                    if (auto self = weak.lock()) self->applicationDidBecomeActive();
                                                  }));
}

Date KSSiteManagerInternal::now() const { return clock_->now(); }

double KSSiteManagerInternal::refreshInterval() const {
  return ports_.settings.cacheRefreshTimeInterval ? ports_.settings.cacheRefreshTimeInterval() : 3600.0;
}

std::shared_ptr<KSSiteSyncRequesting> KSSiteManagerInternal::sync() const {
  return ports_.sync ? ports_.sync() : nullptr;
}

std::shared_ptr<KSSiteStorePort> KSSiteManagerInternal::store() const {
  return ports_.store ? ports_.store() : nullptr;
}

void KSSiteManagerInternal::post(std::string_view name, const std::string& siteID) {
  if (!ports_.center) return;
  platform::Dict info;
  info.emplace(std::string(KSSiteManagerNotificationSiteIDItem), platform::Value(siteID));
  ports_.center->post(std::string(name), shared_from_this(), std::move(info));
}

// --- the cache

KSSiteManagerInternal::Sites KSSiteManagerInternal::allCachedSites() const {
  std::lock_guard lock(mutex_);
  Sites out;
  out.reserve(siteForSiteID_.size());
  for (const auto& [id, site] : siteForSiteID_) out.push_back(site);
  return out;
}

std::shared_ptr<KSSite> KSSiteManagerInternal::cachedSiteWithSiteID(const std::string& siteID) {
  if (siteID.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = siteForSiteID_.find(siteID);
  return it == siteForSiteID_.end() ? nullptr : it->second;
}

KSSiteManagerInternal::Sites KSSiteManagerInternal::cachedSitesWithSiteIDs(const std::vector<std::string>& siteIDs) const {
  Sites out;
  std::lock_guard lock(mutex_);
  for (const auto& id : siteIDs) {
    auto it = siteForSiteID_.find(id);
    if (it != siteForSiteID_.end()) out.push_back(it->second);
  }
  return out;
}

void KSSiteManagerInternal::removeCachedSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  const auto id = site->siteID().value_or("");
  std::shared_ptr<KSSite> removed;
  {
    std::lock_guard lock(mutex_);
    auto it = siteForSiteID_.find(id);
    if (it == siteForSiteID_.end()) return;
    removed = std::move(it->second);
    siteForSiteID_.erase(it);
    lastCacheRefreshForAllSitesForApp_.reset();
    latestCachedSiteModifiedAtForApp_.reset();
  }
  post(KSSiteManagerNotificationDidRemoveCachedSite, id);
}

bool KSSiteManagerInternal::hasCacheExpiredForSiteWithID(const std::string& siteID) {
  auto site = cachedSiteWithSiteID(siteID);
  if (!site) return true;
  auto syncedAt = site->syncedAt();
  if (!syncedAt) return true;
  const auto status = site->syncStatus();
  if (status == KSSyncStatusNotSynced || status == KSSyncStatusRestored) return true;
  return std::fabs(now().timeIntervalSince(*syncedAt)) > refreshInterval();
}

bool KSSiteManagerInternal::shouldCacheAllSitesForApp() const {
  if (lastCacheRefreshForAllSitesForApp()) return true;
  return ports_.settings.cacheAllBeaconsForApp && ports_.settings.cacheAllBeaconsForApp();
}

bool KSSiteManagerInternal::hasCacheExpiredForSitesForApp() {
  auto last = lastCacheRefreshForAllSitesForApp();
  return !last || std::fabs(now().timeIntervalSince(*last)) > refreshInterval();
}

int KSSiteManagerInternal::cacheSite(const std::shared_ptr<KSSite>& site, bool fromApi, bool multicastFlag) {
  if (!site) return KSSiteCacheResultNone;
  const auto id = site->siteID().value_or("");
  if (id.empty()) return KSSiteCacheResultNone;
  const auto status = site->syncStatus();
  const bool synced = status == KSSyncStatusSynced;

  int result = KSSiteCacheResultNone;
  std::shared_ptr<KSSite> entry;
  bool isNew = false;
  {
    std::lock_guard lock(mutex_);
    auto it = siteForSiteID_.find(id);
    if (it != siteForSiteID_.end()) {
      entry = it->second;
      if (fromApi || synced) result = synced ? KSSiteCacheResultSynced : KSSiteCacheResultCached;
    } else {
      entry = site;
      siteForSiteID_.emplace(id, site);
      isNew = true;
      result = synced ? KSSiteCacheResultCachedAndSynced : KSSiteCacheResultCached;
    }
  }
  if (result == KSSiteCacheResultNone) return result;

  if (isNew) {
    entry->setCachedAt(now());
    post(KSSiteManagerNotificationDidCacheSite, id);
  } else {
    copyApiPropertiesFromSite(*entry, *site);
    // The site's beacons point at the one cached record, which subscribers also hold.
    for (const auto& beacon : entry->cachedBeacons()) {
      if (beacon && beacon->site() != entry) beacon->setSite(entry);
    }
  }
  updateSiteToSyncStatus(entry, status);

  if (result & KSSiteCacheResultSynced) {
    if (auto s = store()) s->storeSite(entry);
  }
  if (multicastFlag && (result & KSSiteCacheResultCached)) {
    multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidCacheSites, Sites{entry});
  }
  if (multicastFlag && (result & KSSiteCacheResultSynced)) {
    multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidSyncSites, Sites{entry});
  }
  return result;
}

void KSSiteManagerInternal::updateSiteToSyncStatus(const std::shared_ptr<KSSite>& site, std::int64_t syncStatus) {
  if (!site) return;
  const auto previous = site->syncStatus();
  site->setSyncStatus(syncStatus);
  if (syncStatus == KSSyncStatusUnauthorized || syncStatus == KSSyncStatusSynced) site->setSyncedAt(now());
  if (previous == KSSyncStatusRestored && syncStatus == KSSyncStatusUnauthorized) {
    if (auto s = store()) s->storeSite(site);
  }
}

std::shared_ptr<KSSite> KSSiteManagerInternal::siteFromLocalStorageForSiteID(const std::string& siteID) {
  if (siteID.empty()) return nullptr;
  auto s = store();
  if (!s) return nullptr;
  auto site = s->fetchSiteForSiteID(siteID);
  if (!site || site->siteID().value_or("").empty()) return nullptr;
  site->setSyncStatus(KSSyncStatusRestored);
  return site;
}

void KSSiteManagerInternal::syncSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  if (shouldCacheAllSitesForApp()) {
    if (hasCacheExpiredForSitesForApp()) {
      if (auto s = sync()) s->syncAllSitesForAppModifiedAfter(latestCachedSiteModifiedAtForApp());
      return;
    }
    const bool nearby = !ports_.settings.discoverBeaconsNearby || ports_.settings.discoverBeaconsNearby();
    if (!nearby) return;
  }
  const auto id = site->siteID().value_or("");
  if (id.empty()) return;
  if (hasCacheExpiredForSiteWithID(id)) {
    if (auto s = sync()) s->syncSiteWithSiteID(id);
  }
}

void KSSiteManagerInternal::cacheSitesFromBeacons(const Beacons& beacons) {
  Sites cached, restored;
  std::set<std::string> handled;
  for (const auto& beacon : beacons) {
    if (!beacon || !isSyncedOrRestored(beacon->syncStatus())) continue;
    const auto id = beacon->siteID().value_or("");
    if (id.empty()) continue;
    auto site = cachedSiteWithSiteID(id);
    if (beacon->site() != site) beacon->setSite(site);
    if (!handled.insert(id).second) continue;
    if (site) {
      if (site->syncStatus() != KSSyncStatusSynced) syncSite(site);
      continue;
    }
    auto fromStore = siteFromLocalStorageForSiteID(id);
    if (fromStore) {
      restored.push_back(fromStore);
      site = fromStore;
    } else {
      site = std::make_shared<KSSite>();
      site->setSiteID(id);
      site->setName(beacon->siteName());
    }
    if (cacheSite(site, false, false) & KSSiteCacheResultCached) {
      cached.push_back(site);
      syncSite(site);
      beacon->setSite(site);
    }
  }
  if (!cached.empty()) multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidCacheSites, cached);
  if (!restored.empty()) multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidRestoreSites, restored);
}

void KSSiteManagerInternal::cacheSitesFromSyncResult(const KSSiteSyncResult& result) {
  if (!result.httpStatusCode) return;
  const auto code = *result.httpStatusCode;
  if (code == 200) {
    Sites cached, synced;
    for (const auto& site : result.sites) {
      const int r = cacheSite(site, false, false);
      if (r & KSSiteCacheResultCached) cached.push_back(site);
      if (r & KSSiteCacheResultSynced) {
        if (auto entry = cachedSiteWithSiteID(site->siteID().value_or(""))) synced.push_back(entry);
      }
    }
    if (result.includeLatestForApp) updateLastRefreshedSiteCacheForApp();
    if (!cached.empty()) multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidCacheSites, cached);
    if (!synced.empty()) {
      if (auto s = store()) s->saveContext();
      multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidSyncSites, synced);
    }
    return;
  }
  if (code == 400 || code == 401 || code == 403 || code == 404 || code >= 500) {
    const auto id = result.siteID.value_or("");
    if (auto site = cachedSiteWithSiteID(id)) updateSiteToSyncStatus(site, KSSyncStatusUnauthorized);
  }
}

std::optional<Date> KSSiteManagerInternal::lastCacheRefreshForAllSitesForApp() const {
  std::lock_guard lock(mutex_);
  return lastCacheRefreshForAllSitesForApp_;
}

std::optional<Date> KSSiteManagerInternal::latestCachedSiteModifiedAtForApp() const {
  std::lock_guard lock(mutex_);
  return latestCachedSiteModifiedAtForApp_;
}

void KSSiteManagerInternal::updateLastRefreshedSiteCacheForApp() {
  const auto sites = allCachedSites();
  std::optional<Date> newest;
  for (const auto& site : sites) {
    auto modified = site->modifiedAt();
    if (modified && (!newest || *modified > *newest)) newest = modified;
  }
  const auto at = now();
  std::lock_guard lock(mutex_);
  if (newest) latestCachedSiteModifiedAtForApp_ = newest;
  lastCacheRefreshForAllSitesForApp_ = at;
}

void KSSiteManagerInternal::clearLastRefreshedSiteCacheForApp() {
  std::lock_guard lock(mutex_);
  lastCacheRefreshForAllSitesForApp_.reset();
  latestCachedSiteModifiedAtForApp_.reset();
}

// --- activity records

std::shared_ptr<KSSiteActivityMonitor> KSSiteManagerInternal::siteActivityMonitorWithSite(
    const std::shared_ptr<KSSite>& site) {
  if (!site) return nullptr;
  const auto id = site->siteID().value_or("");
  if (id.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  auto& record = siteActivityMonitorForSiteID_[id];
  if (!record) record = KSSiteActivityMonitor::initWithSiteID(id, clock_);
  return record;
}

std::shared_ptr<KSSiteActivityMonitor> KSSiteManagerInternal::existingSiteActivityMonitorForSiteID(
    const std::string& siteID) const {
  std::lock_guard lock(mutex_);
  auto it = siteActivityMonitorForSiteID_.find(siteID);
  return it == siteActivityMonitorForSiteID_.end() ? nullptr : it->second;
}

void KSSiteManagerInternal::removeSiteActivityMonitorWithSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  std::shared_ptr<KSSiteActivityMonitor> removed;
  std::lock_guard lock(mutex_);
  auto it = siteActivityMonitorForSiteID_.find(site->siteID().value_or(""));
  if (it == siteActivityMonitorForSiteID_.end() || it->second->siteState() == KSSiteStateInside) return;
  removed = std::move(it->second);
  siteActivityMonitorForSiteID_.erase(it);
}

std::vector<std::string> KSSiteManagerInternal::monitoredSiteIDs() const {
  std::vector<std::string> out;
  std::lock_guard lock(mutex_);
  for (const auto& [id, record] : siteActivityMonitorForSiteID_) {
    if (record->isMonitoringSite()) out.push_back(id);
  }
  return out;
}

std::vector<std::string> KSSiteManagerInternal::rangedSiteIDs() const {
  std::vector<std::string> out;
  std::lock_guard lock(mutex_);
  for (const auto& [id, record] : siteActivityMonitorForSiteID_) {
    if (record->isRangingBeacons()) out.push_back(id);
  }
  return out;
}

KSSiteManagerInternal::BeaconsForSiteID KSSiteManagerInternal::beaconsForSiteIDFromArray(const Beacons& beacons) {
  BeaconsForSiteID groups;
  for (const auto& beacon : beacons) {
    if (!beacon) continue;
    groups[beacon->siteID().value_or("")].push_back(beacon);
  }
  return groups;
}

void KSSiteManagerInternal::exitSite(const std::shared_ptr<KSSite>& site) {
  auto record = siteActivityMonitorWithSite(site);
  if (!record || record->siteState() != KSSiteStateInside) return;
  record->exitedSite();
  multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidExitSite, site);
  const auto id = record->siteID();
  post(KSSiteManagerNotificationDidExitSite, id);
  if (ports_.exitedSite) ports_.exitedSite(id);
}

void KSSiteManagerInternal::determineStateChangeToOutsideForAllMonitoredSites() {
  const auto threshold = now().addingTimeInterval(-kExitAfterSeconds);
  std::vector<std::shared_ptr<KSSiteActivityMonitor>> records;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, record] : siteActivityMonitorForSiteID_) records.push_back(record);
  }
  for (const auto& record : records) {
    if (record->siteState() != KSSiteStateInside) continue;
    auto found = record->lastRangedAndFoundBeaconsAt();
    if (!found || !(*found < threshold)) continue;
    auto site = cachedSiteWithSiteID(record->siteID());
    if (!site || !site->isSyncedOrRestored()) continue;
    exitSite(site);
  }
}

KSSiteManagerInternal::Sites KSSiteManagerInternal::nearbySitesUsingDistanceFilter(double distance) {
  Sites set;
  auto location = ports_.location ? ports_.location() : std::nullopt;
  auto cached = allCachedSites();
  if (location && !cached.empty()) {
    auto within = site_array::filteredSiteArrayUsingLocation(cached, *location, distance);
    set = site_array::sortedSiteArrayUsingLocation(within, *location, true);
  }
  std::vector<std::shared_ptr<KSSiteActivityMonitor>> records;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, record] : siteActivityMonitorForSiteID_) records.push_back(record);
  }
  for (const auto& record : records) {
    if (record->siteState() != KSSiteStateInside) continue;
    auto site = cachedSiteWithSiteID(record->siteID());
    if (!site || !site->isSyncedOrRestored()) continue;
    if (std::find(set.begin(), set.end(), site) != set.end()) continue;
    set.insert(set.begin(), site);
  }
  return set;
}

void KSSiteManagerInternal::requestStateForSite(std::shared_ptr<KSSite> site) {
  if (!site) return;
  std::weak_ptr<KSSiteManagerInternal> weak = weak_from_this();
  scheduler_->mainQueue()->async([weak, site] {
    auto self = weak.lock();
    if (!self) return;
    auto record = self->siteActivityMonitorWithSite(site);
    if (!record) return;
    self->multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidDetermineStateForSite,
                    static_cast<unsigned long>(record->siteState()), site);
  });
}

// --- the hub

void KSSiteManagerInternal::beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) {
  // Groups in order of first appearance, each keeping the beacons' order.
  std::vector<std::pair<std::string, Beacons>> groups;
  std::map<std::string, std::size_t> indexOf;
  for (const auto& beacon : beacons) {
    if (!beacon) continue;
    auto id = beacon->siteID().value_or("");
    auto [it, inserted] = indexOf.emplace(id, groups.size());
    if (inserted) groups.emplace_back(std::move(id), Beacons{});
    groups[it->second].second.push_back(beacon);
  }

  Sites rangedSites;
  for (const auto& [id, group] : groups) {
    auto site = cachedSiteWithSiteID(id);
    if (site) {
      rangedSites.push_back(site);
      auto record = siteActivityMonitorWithSite(site);
      if (record->siteState() != KSSiteStateInside) {
        record->enteredSite();
        multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidEnterSite, site);
        post(KSSiteManagerNotificationDidEnterSite, id);
      }
      record->rangedBeacons(group);
      syncSite(site);
    }
    multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidRangeBeaconsInSite, group, site);
  }

  std::vector<std::shared_ptr<KSSiteActivityMonitor>> unranged;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, record] : siteActivityMonitorForSiteID_) {
      if (!indexOf.contains(id)) unranged.push_back(record);
    }
  }
  for (const auto& record : unranged) record->rangedBeacons({});

  determineStateChangeToOutsideForAllMonitoredSites();
  multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidRangeBeacons, beacons);
  if (!groups.empty()) {
    BeaconsForSiteID byID;
    for (auto& [id, group] : groups) byID.emplace(id, group);
    multicast(&KSSiteManagerInternalDelegate::siteManagerInternalDidRangeBeaconsForSiteIDInSites, byID, rangedSites);
  }
}

void KSSiteManagerInternal::beaconManagerInternalDidStopDiscoveringBeacons(Hub) {
  std::map<std::string, std::shared_ptr<KSSiteActivityMonitor>> records;
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  {
    std::lock_guard lock(mutex_);
    std::swap(records, siteActivityMonitorForSiteID_);
    std::swap(sites, siteForSiteID_);
    lastCacheRefreshForAllSitesForApp_.reset();
    latestCachedSiteModifiedAtForApp_.reset();
  }
  multicast(&KSSiteManagerInternalDelegate::siteManagerDidRemoveAllActivityMonitors);
}

// --- the app

void KSSiteManagerInternal::applicationDidBecomeActive() {
  const auto cutoff = now().addingTimeInterval(-kStaleSiteAfterSeconds);
  for (const auto& site : allCachedSites()) {
    auto cachedAt = site->cachedAt();
    if (cachedAt && !(*cachedAt < cutoff)) continue;
    removeCachedSite(site);
    removeSiteActivityMonitorWithSite(site);
  }
  if (shouldCacheAllSitesForApp() && hasCacheExpiredForSitesForApp()) {
    if (auto s = sync()) s->syncAllSitesForAppModifiedAfter(latestCachedSiteModifiedAtForApp());
  }
}

}  // namespace velmora::kestrine
