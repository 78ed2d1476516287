#include "beacons/ranging/KSBeaconRegionManager.h"

#include <algorithm>
#include <exception>
#include <set>

#include <fmt/format.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/app/Application.h"
#include "platform/core/Log.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {
namespace {

constexpr std::string_view kLog = "KSBeaconRegionManager";

bool hasValidUUID(const KSBeaconRegion& region) {
  const auto& uuid = region.proximityUUIDString();
  return uuid && platform::Uuid::parse(*uuid).has_value();
}

}  // namespace

std::shared_ptr<KSBeaconRegionManager> KSBeaconRegionManager::sharedManager() {
  return sharedManager(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSBeaconRegionManager> KSBeaconRegionManager::sharedManager(KSInstanceProvider& provider) {
  return provider.singleton<KSBeaconRegionManager>(
      kSingletonName, [](KSInstanceProvider& p) { return create(p.shared_from_this()); });
}

void KSBeaconRegionManager::installMaker(KSInstanceProvider& provider, Ports ports) {
  provider.installMaker<KSBeaconRegionManager>(std::string(kSingletonName), [ports](KSInstanceProvider& p) {
    return create(p.shared_from_this(), ports);
  });
  provider.installMaker<KSBeaconRegionCaching>(std::string(KSBeaconRegionCaching::kSingletonName),
                                               [](KSInstanceProvider& p) -> std::shared_ptr<KSBeaconRegionCaching> {
                                                 return sharedManager(p);
                                               });
}

std::shared_ptr<KSBeaconRegionManager> KSBeaconRegionManager::create(std::shared_ptr<KSInstanceProvider> provider,
                                                                     Ports ports) {
  auto manager = std::make_shared<KSBeaconRegionManager>(Token{}, std::move(provider), std::move(ports));
  manager->start();
  return manager;
}

KSBeaconRegionManager::KSBeaconRegionManager(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports)
    : provider_(provider), ports_(std::move(ports)) {
  const auto& platform = provider->platform();
  scheduler_ = platform.scheduler ? platform.scheduler : platform::dispatch::Scheduler::shared();
  center_ = platform.notificationCenter;
  std::weak_ptr<KSInstanceProvider> weak = provider;
  // The SDK's own answers, on this registry.
  if (!ports_.appTokenVerificationStatus) {
    ports_.appTokenVerificationStatus = [this] {
      auto c = configurator();
      return c ? c->appTokenVerificationStatus() : 0;
    };
  }
  if (!ports_.isBluetoothEnabled) {
    ports_.isBluetoothEnabled = [weak] {
      auto p = weak.lock();
      if (!p || !p->hasSingleton(KSBeaconManagerInternal::kSingletonName)) return false;
      auto hub = KSBeaconManagerInternal::sharedInternal(*p);
      return hub && hub->isBluetoothPoweredOn();
    };
  }
  if (!ports_.isLocationAuthorized) {
    ports_.isLocationAuthorized = [weak] {
      auto p = weak.lock();
      return p && KSLocationManagerClient::isAuthorized(*p);
    };
  }
  if (!ports_.api) {
    ports_.api = [weak]() -> std::shared_ptr<KSApiOperationManaging> {
      auto p = weak.lock();
      return p ? p->singleton<KSApiOperationManaging>(KSApiOperationManaging::kSingletonName, nullptr) : nullptr;
    };
  }
  userDefaults_ = KSUserDefaultsManager::sharedManager(*provider);
  configurator_ = KSConfigurator::sharedConfigurator(*provider);
}

void KSBeaconRegionManager::start() {
  auto provider = provider_.lock();
  if (auto defaults = userDefaults_.lock()) beaconRegionForRegionIdentifier_ = defaults->loadBeaconRegionForRegionIdentifier();
  delegateQueue_ = scheduler_->makeSerialQueue(std::string(kDelegateQueueLabel));

  Regions serverRegions;
  for (const auto& [id, region] : beaconRegionForRegionIdentifier_) {
    if (!region->isAppManaged()) serverRegions.push_back(region);
  }
  auto c = configurator();
  if (serverRegions.empty()) {
    if (c && c->monitorKestrineRegionOnStartup()) {
      auto region = std::make_shared<KSBeaconRegion>();
      region->setIdentifier(std::string(KSBeaconRegionIdentifier));
      region->setProximityUUIDString(std::string(KSProximityUUIDString));
      region->setCachedAt(now());
      beaconRegionForRegionIdentifier_.insert_or_assign(std::string(KSBeaconRegionIdentifier), region);
    }
  } else if (provider && provider->platform().app &&
             provider->platform().app->applicationState() == platform::app::ApplicationState::Background) {
    // A background launch waits a day after the latest cache before it syncs again.
    std::optional<platform::Date> latest;
    for (const auto& region : serverRegions) {
      if (auto at = region->cachedAt(); at && (!latest || *at > *latest)) latest = at;
    }
    if (latest) regionCacheNextAttempt_ = latest->addingTimeInterval(KSCacheRefreshTimeIntervalLowPriorityInSeconds);
  }
  cacheChangedLocked();

  if (!center_) return;
  std::weak_ptr<KSBeaconRegionManager> weak = weak_from_this();
  auto on = [&](std::string_view name, bool sync) {
    observers_.push_back(center_->addObserver(std::string(name), nullptr, nullptr, [weak, sync](const auto&) {
      auto self = weak.lock();
      if (!self) return;
      self->forceDelegateToRefreshCachedBeaconRegions();
      if (sync) self->cacheBeaconRegions();
    }));
  };
  on(platform::app::kDidEnterBackgroundNotification, false);
  on(platform::app::kWillTerminateNotification, false);
  on(platform::app::kDidBecomeActiveNotification, true);
}

KSBeaconRegionManager::~KSBeaconRegionManager() {
  if (center_) {
    for (const auto& token : observers_) center_->removeObserver(token);
  }
  // The last word on the cache; a failure to write it must not end the process (this may
  // run among the statics at exit).
  try {
    storeCache();
  } catch (const std::exception& e) {
    platform::Log::error("KSBeaconRegionManager", "the region cache was not stored: {}", e.what());
  } catch (...) {
    platform::Log::error("KSBeaconRegionManager", "the region cache was not stored");
  }
  multicast_.removeAllDelegates();
}

platform::Date KSBeaconRegionManager::now() const { return scheduler_->clock()->now(); }

std::shared_ptr<KSConfigurator> KSBeaconRegionManager::configurator() const { return configurator_.lock(); }

std::shared_ptr<KSApiOperationManaging> KSBeaconRegionManager::api() const { return ports_.api ? ports_.api() : nullptr; }

std::optional<platform::Date> KSBeaconRegionManager::regionCacheNextAttempt() const {
  std::lock_guard lock(mutex_);
  return regionCacheNextAttempt_;
}

// --- syncs

bool KSBeaconRegionManager::shouldRetryCacheRegion() {
  if (ports_.appTokenVerificationStatus() != 2) return false;
  bool empty = false;
  {
    std::lock_guard lock(mutex_);
    if (regionCacheNextAttempt_ && !(now() > *regionCacheNextAttempt_)) return false;
    empty = beaconRegionForRegionIdentifier_.empty();
  }
  return empty || (ports_.isBluetoothEnabled() && ports_.isLocationAuthorized());
}

void KSBeaconRegionManager::cacheBeaconRegions() {
  if (!shouldRetryCacheRegion()) return;
  auto c = configurator();
  const std::string token = c ? c->appToken() : std::string();
  if (token.empty()) return;
  auto a = api();
  if (!a) {
    platform::Log::debug(kLog, "no API operation manager; the region sync is not asked for");
    return;
  }
  // Held back first, so a caller on another thread does not ask again while this asks.
  std::optional<platform::Date> previous;
  {
    std::lock_guard lock(mutex_);
    previous = regionCacheNextAttempt_;
    regionCacheNextAttempt_ = now().addingTimeInterval(KSMinimumCacheRefreshTimeIntervalInSeconds);
  }
  if (!a->syncBeaconRegionsWithAppToken(token)) {
    std::lock_guard lock(mutex_);
    regionCacheNextAttempt_ = previous;
  }
}

void KSBeaconRegionManager::forceSyncBeaconRegions() {
  {
    std::lock_guard lock(mutex_);
    regionCacheNextAttempt_.reset();
  }
  cacheBeaconRegions();
}

void KSBeaconRegionManager::cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& syncResult) {
  if (syncResult.httpStatusCode != 200) return;
  Regions cached;
  Regions removed;
  {
    std::lock_guard lock(mutex_);
    const auto at = now();
    std::set<std::string> inResult;
    for (const auto& region : syncResult.beaconRegions) {
      if (!region || !hasValidUUID(*region) || !region->identifier()) continue;
      region->setCachedAt(at);
      beaconRegionForRegionIdentifier_.insert_or_assign(*region->identifier(), region);
      inResult.insert(*region->identifier());
      cached.push_back(region);
    }
    for (auto it = beaconRegionForRegionIdentifier_.begin(); it != beaconRegionForRegionIdentifier_.end();) {
      if (!inResult.contains(it->first) && !it->second->isAppManaged()) {
        removed.push_back(it->second);
        it = beaconRegionForRegionIdentifier_.erase(it);
      } else {
        ++it;
      }
    }
    regionCacheNextAttempt_ = at.addingTimeInterval(KSCacheRefreshTimeIntervalLowPriorityInSeconds);
    cacheChangedLocked();
  }
  // Each region cached or removed by a sync is announced as one cached or removed alone is.
  for (const auto& region : cached) post(KSBeaconRegionManagerNotificationDidCacheBeaconRegion, *region->identifier());
  for (const auto& region : removed) {
    post(KSBeaconRegionManagerNotificationDidRemoveCachedBeaconRegion, *region->identifier());
  }
  using D = KSBeaconRegionManagerDelegate;
  if (!cached.empty()) multicast(&D::beaconRegionManagerDidCacheBeaconRegions, cached);
  if (!removed.empty()) multicast(&D::beaconRegionManagerDidRemoveCachedBeaconRegions, removed);
  if (!cached.empty() || !removed.empty()) multicast(&D::beaconRegionManagerDidChangeBeaconRegionCache);
  storeCache();
}

// --- the cache

KSBeaconRegionManager::Regions KSBeaconRegionManager::allCachedBeaconRegions() {
  cacheBeaconRegions();
  std::lock_guard lock(mutex_);
  Regions out;
  out.reserve(beaconRegionForRegionIdentifier_.size());
  for (const auto& [id, region] : beaconRegionForRegionIdentifier_) out.push_back(region);
  return out;
}

std::shared_ptr<KSBeaconRegion> KSBeaconRegionManager::cachedBeaconRegionWithRegionIdentifier(
    const std::string& identifier) {
  cacheBeaconRegions();
  if (identifier.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = beaconRegionForRegionIdentifier_.find(identifier);
  return it == beaconRegionForRegionIdentifier_.end() ? nullptr : it->second;
}

KSBeaconRegionManager::Regions KSBeaconRegionManager::cachedBeaconRegionsWithRegionIdentifiers(
    const std::vector<std::string>& identifiers) {
  Regions out;
  for (const auto& id : identifiers) {
    if (auto region = cachedBeaconRegionWithRegionIdentifier(id)) out.push_back(std::move(region));
  }
  return out;
}

void KSBeaconRegionManager::cacheBeaconRegion(std::shared_ptr<KSBeaconRegion> region, bool multicastAndUpdateStore) {
  if (!platform::precondition(region != nullptr, "beaconRegion")) return;
  if (!hasValidUUID(*region) || !region->identifier()) {
    platform::reportProgrammingError("Beacon Region Not Valid");
    return;
  }
  const std::string identifier = *region->identifier();
  {
    std::lock_guard lock(mutex_);
    region->setCachedAt(now());
    beaconRegionForRegionIdentifier_.insert_or_assign(identifier, region);
    cacheChangedLocked();
  }
  if (multicastAndUpdateStore) {
    multicast(&KSBeaconRegionManagerDelegate::beaconRegionManagerDidCacheBeaconRegions, Regions{region});
    multicast(&KSBeaconRegionManagerDelegate::beaconRegionManagerDidChangeBeaconRegionCache);
    storeCache();
  }
  post(KSBeaconRegionManagerNotificationDidCacheBeaconRegion, identifier);
}

void KSBeaconRegionManager::removeCachedBeaconRegion(std::shared_ptr<KSBeaconRegion> region,
                                                     bool multicastAndUpdateStore) {
  if (!region || !region->identifier()) return;
  const std::string identifier = *region->identifier();
  std::shared_ptr<KSBeaconRegion> removed;
  {
    std::lock_guard lock(mutex_);
    auto it = beaconRegionForRegionIdentifier_.find(identifier);
    if (it == beaconRegionForRegionIdentifier_.end()) return;
    removed = it->second;
    beaconRegionForRegionIdentifier_.erase(it);
    cacheChangedLocked();
  }
  if (multicastAndUpdateStore) {
    multicast(&KSBeaconRegionManagerDelegate::beaconRegionManagerDidRemoveCachedBeaconRegions, Regions{removed});
    multicast(&KSBeaconRegionManagerDelegate::beaconRegionManagerDidChangeBeaconRegionCache);
    storeCache();
  }
  post(KSBeaconRegionManagerNotificationDidRemoveCachedBeaconRegion, identifier);
}

void KSBeaconRegionManager::forceDelegateToRefreshCachedBeaconRegions() {
  multicast(&KSBeaconRegionManagerDelegate::beaconRegionManagerDidChangeBeaconRegionCache);
}

std::vector<std::string> KSBeaconRegionManager::cachedProximityUUIDStrings() {
  std::lock_guard lock(mutex_);
  return proximityUUIDStrings_;
}

std::vector<std::string> KSBeaconRegionManager::cachedNamespaceIDs() {
  std::lock_guard lock(mutex_);
  return namespaceIDs_;
}

void KSBeaconRegionManager::cacheChangedLocked() {
  std::set<std::string> uuids;
  std::set<std::string> namespaces;
  for (const auto& [id, region] : beaconRegionForRegionIdentifier_) {
    if (const auto& u = region->proximityUUIDString(); u && !u->empty()) uuids.insert(*u);
    if (const auto& n = region->namespaceID(); n && !n->empty()) namespaces.insert(*n);
  }
  proximityUUIDStrings_.assign(uuids.begin(), uuids.end());
  namespaceIDs_.assign(namespaces.begin(), namespaces.end());
  changeCount_.fetch_add(1);
}

void KSBeaconRegionManager::storeCache() {
  auto defaults = userDefaults_.lock();
  if (!defaults) return;
  std::map<std::string, std::shared_ptr<KSBeaconRegion>> copy;
  {
    std::lock_guard lock(mutex_);
    copy = beaconRegionForRegionIdentifier_;
  }
  defaults->storeBeaconRegionForRegionIdentifier(copy);
}

void KSBeaconRegionManager::post(std::string_view name, const std::string& identifier) {
  if (!center_) return;
  platform::Dict info;
  info.insert_or_assign(std::string(KSBeaconRegionManagerNotificationRegionIdentifierItem), platform::Value(identifier));
  center_->post(std::string(name), platform::Notification::unowned(this), std::move(info));
}

}  // namespace velmora::kestrine
