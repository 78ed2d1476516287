#include "beacons/ranging/KSBeaconManagerInternal.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeaconArray.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconUpdates.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KSBeaconSyncRequesting.h"
#include "beacons/ranging/KSPlatformRegionAdditions.h"
#include "beacons/ranging/KSRangedBeaconLists.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/ranging/KSSessionManager.h"
#include "platform/app/Application.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/location/LocationManager.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kLog = "KSBeaconManagerInternal";

std::string upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool nonEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

std::optional<std::string> textOf(const platform::Value& v) {
  if (const auto* s = v.string(); s && !s->empty()) return *s;
  return std::nullopt;
}

std::optional<std::uint16_t> uint16Of(const platform::Value& v) {
  auto n = v.toInt64();
  if (!n || *n < 0 || *n > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*n);
}

std::optional<std::string> eddystoneUIDOf(const KSBeacon& b) {
  auto e = b.eddystone();
  return e ? e->UIDString() : std::nullopt;
}

}  // namespace

// One advertisement as the central client reported it, read once.
struct KSBeaconManagerInternal::Sighting {
  platform::Uuid peripheral;
  platform::Value adData;
  int rssi = 0;
  std::string scanID;

  std::string type;
  std::optional<std::string> proximityUUIDString, bluetoothAddress, uid, url, iBeaconKey;
  std::optional<std::uint16_t> major, minor;
  std::optional<platform::Bytes> identifierData;

  void read() {
    type = textOf(adData[KSAdDataTypeKey]).value_or("");
    proximityUUIDString = textOf(adData[KSAdDataProximityUUIDStringKey]);
    major = uint16Of(adData[KSAdDataMajorKey]);
    minor = uint16Of(adData[KSAdDataMinorKey]);
    bluetoothAddress = textOf(adData[KSAdDataBluetoothAddressStringKey]);
    uid = textOf(adData[KSAdDataEddystoneUIDStringKey]);
    url = textOf(adData[KSAdDataEddystoneURLStringKey]);
    if (const auto* bytes = adData[KSAdDataIdentifierDataKey].bytes(); bytes && !bytes->empty()) {
      identifierData = *bytes;
    }
    iBeaconKey = KSBeaconUtilities::iBeaconKeyForProximityUUIDString(proximityUUIDString, major, minor);
  }
  bool hasAnyIdentifier() const { return iBeaconKey || bluetoothAddress || uid || url || identifierData; }
};

// --- making

std::shared_ptr<KSBeaconManagerInternal> KSBeaconManagerInternal::sharedInternal() {
  return sharedInternal(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSBeaconManagerInternal> KSBeaconManagerInternal::sharedInternal(KSInstanceProvider& provider) {
  // Made by the registry's maker (the SDK's, with the region manager, the store and the
  // location client wired), never by one of its own with fewer ports.
  return provider.singleton<KSBeaconManagerInternal>(kSingletonName, nullptr);
}

void KSBeaconManagerInternal::installMaker(KSInstanceProvider& provider, Ports ports) {
  provider.installMaker<KSBeaconManagerInternal>(std::string(kSingletonName), [ports](KSInstanceProvider& p) {
    auto hub = create(p.shared_from_this(), ports);
    KSBeaconHubPort::setShared(hub);
    return hub;
  });
}

std::shared_ptr<KSBeaconManagerInternal> KSBeaconManagerInternal::create(std::shared_ptr<KSInstanceProvider> provider,
                                                                         Ports ports) {
  auto hub = std::make_shared<KSBeaconManagerInternal>(Token{}, std::move(provider), std::move(ports));
  hub->start();
  return hub;
}

KSBeaconManagerInternal::KSBeaconManagerInternal(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports)
    : provider_(provider), platform_(provider->platform()), ports_(std::move(ports)) {
  const auto& platform = platform_;
  scheduler_ = platform.scheduler ? platform.scheduler : platform::dispatch::Scheduler::shared();
  center_ = platform.notificationCenter;
  configurator_ = KSConfigurator::sharedConfigurator(*provider);
  workQueue_ = scheduler_->makeSerialQueue(std::string(kWorkQueueLabel));
  cacheStateForApp_ = std::make_shared<KSCacheState>(scheduler_->clock());
}

void KSBeaconManagerInternal::start() {
  std::weak_ptr<KSBeaconManagerInternal> weak = weak_from_this();
  auto provider = provider_.lock();
  ranger_ = KSBeaconRanger::create(scheduler_, KSBeaconRanger::serialQueue(*provider), center_,
                                   std::weak_ptr<KSBeaconRangerCache>(shared_from_this()));
  ranger_->setDelegate(std::weak_ptr<KSBeaconRangerDelegate>(shared_from_this()));
  auto session = ports_.session;
  if (!session) {
    session = KSSessionManager::sharedManager(*provider);
  }
  // The operation manager: the port given, else the registry's (none when no maker is installed).
  auto operations = ports_.operations;
  if (!operations) {
    operations = provider->singleton<KSBeaconOperationManaging>(KSBeaconOperationManagerSingletonName, nullptr);
  }
  auto central = KSCentralManagerClient::initWithDelegate(
      provider, {std::weak_ptr<KSCentralManagerClientDelegate>(shared_from_this()), ports_.regions, operations,
                 session});
  {
    std::lock_guard lock(centralMutex_);
    central_ = std::move(central);
  }
  subscribe();
  inSession_.store(session && session->isSessionRunning());
}

void KSBeaconManagerInternal::subscribe() {
  if (!center_) return;
  std::weak_ptr<KSBeaconManagerInternal> weak = weak_from_this();
  auto on = [&](std::string_view name, std::function<void(KSBeaconManagerInternal&, const platform::Notification&)> f) {
    observers_.push_back(center_->addObserver(std::string(name), nullptr, nullptr,
                                              [weak, f = std::move(f)](const platform::Notification& n) {
                                                if (auto self = weak.lock()) f(*self, n);
                                              }));
  };
  auto siteID = [](const platform::Notification& n) {
    return textOf(platform::Value(n.userInfo)[KSSiteManagerNotificationSiteIDItem]);
  };
  on(KSNotificationLocationAuthorizationStatusDidChange,
     [](auto& self, const auto&) { self.locationAuthorizationStatusDidChange(); });
  on(platform::app::kDidEnterBackgroundNotification, [](auto& self, const auto&) { self.applicationDidEnterBackground(); });
  on(platform::app::kDidBecomeActiveNotification, [](auto& self, const auto&) { self.applicationDidBecomeActive(); });
  on(KSSiteManagerNotificationDidCacheSite, [siteID](auto& self, const auto& n) {
    if (auto id = siteID(n)) self.siteManagerDidCacheSite(*id);
  });
  on(KSSiteManagerNotificationDidRemoveCachedSite, [siteID](auto& self, const auto& n) {
    if (auto id = siteID(n)) self.siteManagerDidRemoveCachedSite(*id);
  });
  on(KSSessionManagerNotificationDidBeginSession, [](auto& self, const auto&) { self.sessionDidBeginOrResume(); });
  on(KSSessionManagerNotificationDidResumeSession, [](auto& self, const auto&) { self.sessionDidBeginOrResume(); });
  on(KSSessionManagerNotificationDidEndSession, [](auto& self, const auto&) { self.sessionDidEnd(); });
}

KSBeaconManagerInternal::~KSBeaconManagerInternal() {
  if (center_) {
    for (const auto& token : observers_) center_->removeObserver(token);
  }
  // Stop without telling anyone: listeners cannot be handed a hub that is going away.
  if (ranger_) ranger_->stopRangingBeacons();
  if (auto central = centralManagerClient(); central && central->isScanningEnabled()) central->stopScan();
  multicast_.removeAllDelegates();
}

platform::Error KSBeaconManagerInternal::errorWithDescription(std::string description) {
  platform::Error error;
  error.domain = std::string(KSErrorDomain);
  error.code = -1;
  error.localizedDescription = std::move(description);
  return error;
}

platform::Date KSBeaconManagerInternal::now() const { return scheduler_->clock()->now(); }

std::shared_ptr<KSLocalStoragePort> KSBeaconManagerInternal::store() const {
  return ports_.store ? ports_.store : KSLocalStoragePort::shared();
}

// --- discovery

bool KSBeaconManagerInternal::isBeaconDiscoveringEnabled() const { return discovering_.load(); }
bool KSBeaconManagerInternal::enableDiscoveringBeaconsWhenLocationServicesAvailable() const {
  return deferredStart_.load();
}
bool KSBeaconManagerInternal::isCurrentlyInSession() const { return inSession_.load(); }
void KSBeaconManagerInternal::setCurrentlyInSession(bool inSession) { inSession_.store(inSession); }

bool KSBeaconManagerInternal::isBluetoothPoweredOn() const {
  auto central = centralManagerClient();
  return central && central->isCentralManagerPoweredOn();
}

bool KSBeaconManagerInternal::locationServicesAvailable() const {
  if (configurator_ && configurator_->runWithoutLocationServicesAuthorization()) return true;
  const auto& location = platform_.location;
  if (!location || !location->locationServicesEnabled()) return false;
  const auto status = location->authorizationStatus();
  return status == platform::location::AuthorizationStatus::AuthorizedAlways ||
         status == platform::location::AuthorizationStatus::AuthorizedWhenInUse;
}

void KSBeaconManagerInternal::startDiscoveringBeacons() {
  std::lock_guard lock(discoveryMutex_);
  if (discovering_.load()) return;
  if (!locationServicesAvailable()) {
    deferredStart_.store(true);
    return;
  }
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalWillStartDiscoveringBeacons);
  if (isCurrentlyInSession()) ranger_->startRangingBeacons();
  discovering_.store(true);
  deferredStart_.store(false);
  centralManagerClient()->scanForPeripherals();
  startFullSyncForAppIfDue();
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidStartDiscoveringBeacons);
}

void KSBeaconManagerInternal::stopDiscoveringBeacons() {
  std::lock_guard lock(discoveryMutex_);
  ranger_->stopRangingBeacons();
  centralManagerClient()->stopScan();
  discovering_.store(false);
  deferredStart_.store(false);
  {
    std::lock_guard cache(cacheMutex_);
    beaconForCacheIdentifier_.clear();
    cacheIdentifierForBTAddress_.clear();
    cacheIdentifierForIBeaconKey_.clear();
    cacheIdentifierForEddystoneUIDString_.clear();
    cacheIdentifierForPeripheralIdentifier_.clear();
    indexedKeysForCacheIdentifier_.clear();
    cacheStateForSiteID_.clear();
    cacheStateForBeaconID_.clear();
    attemptedBeaconSettingsUpdateAtForCacheIdentifier_.clear();
    lastHeardAtForCacheIdentifier_.clear();
    lastEvictionSweep_.reset();
    cacheSizeAtLastSweep_ = 0;
    lastCrowdSourceUpdateAttempt_.reset();
    cacheStateForApp_ = std::make_shared<KSCacheState>(scheduler_->clock());
  }
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidStopDiscoveringBeacons);
}

void KSBeaconManagerInternal::cacheBeaconsForApp() {
  if (!shouldCacheRefreshForApp()) return;
  if (auto requester = sync()) requester->syncAllBeaconsForAppModifiedAfter(appDates().latestModifiedAt);
}

void KSBeaconManagerInternal::locationAuthorizationStatusDidChange() {
  std::lock_guard lock(discoveryMutex_);
  const bool available = locationServicesAvailable();
  if (available && !discovering_.load() && deferredStart_.load()) {
    startDiscoveringBeacons();
  } else if (!available && discovering_.load()) {
    stopDiscoveringBeacons();
    deferredStart_.store(true);  // resumes when location services come back
  }
}

void KSBeaconManagerInternal::applicationDidEnterBackground() { centralManagerClient()->applicationDidEnterBackground(); }

void KSBeaconManagerInternal::applicationDidBecomeActive() {
  auto stale = beacon_array::filteredBeaconArrayUsingSyncedOrUnauthorized(allCachedBeacons(), false);
  removeCachedBeaconsInArray(stale);
  centralManagerClient()->applicationDidBecomeActive();
}

void KSBeaconManagerInternal::sessionDidBeginOrResume() {
  std::lock_guard lock(discoveryMutex_);
  inSession_.store(true);
  if (discovering_.load()) ranger_->startRangingBeacons();
}

void KSBeaconManagerInternal::sessionDidEnd() {
  std::lock_guard lock(discoveryMutex_);
  inSession_.store(false);
  ranger_->stopRangingBeacons();
}

// --- lookups

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconLocked(const std::string& cacheIdentifier) const {
  if (cacheIdentifier.empty()) return nullptr;
  auto it = beaconForCacheIdentifier_.find(cacheIdentifier);
  return it == beaconForCacheIdentifier_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<KSBeacon>> KSBeaconManagerInternal::allCachedBeacons() const {
  std::lock_guard lock(cacheMutex_);
  std::vector<std::shared_ptr<KSBeacon>> out;
  out.reserve(beaconForCacheIdentifier_.size());
  for (const auto& [id, b] : beaconForCacheIdentifier_) out.push_back(b);
  return out;
}

std::vector<std::shared_ptr<KSBeacon>> KSBeaconManagerInternal::cachedBeaconsForRangingWithPredicate(
    const std::function<bool(const KSBeacon&)>& predicate) const {
  auto all = allCachedBeacons();
  if (predicate) {
    std::erase_if(all, [&](const std::shared_ptr<KSBeacon>& b) { return !predicate(*b); });
  }
  return beacon_array::filteredBeaconArrayUsingBeaconAccessRole(all, 2);
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithCacheIdentifier(const std::string& cacheIdentifier) {
  std::lock_guard lock(cacheMutex_);
  return cachedBeaconLocked(cacheIdentifier);
}

namespace {
template <class Map, class Key>
std::optional<std::string> lookup(const Map& map, const Key& key) {
  auto it = map.find(key);
  if (it == map.end() || it->second.empty()) return std::nullopt;
  return it->second;
}
}  // namespace

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithBluetoothAddress(const std::string& address) const {
  if (address.empty()) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto id = lookup(cacheIdentifierForBTAddress_, upper(address));
  return id ? cachedBeaconLocked(*id) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithIBeaconKey(const std::string& iBeaconKey) {
  if (iBeaconKey.empty()) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto id = lookup(cacheIdentifierForIBeaconKey_, upper(iBeaconKey));
  return id ? cachedBeaconLocked(*id) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithEddystoneUIDString(const std::string& uid) const {
  if (uid.size() != 32) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto id = lookup(cacheIdentifierForEddystoneUIDString_, upper(uid));
  return id ? cachedBeaconLocked(*id) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithProximityUUIDString(
    const std::optional<std::string>& proximityUUIDString, std::optional<std::uint16_t> major,
    std::optional<std::uint16_t> minor) const {
  auto key = KSBeaconUtilities::iBeaconKeyForProximityUUIDString(proximityUUIDString, major, minor);
  return key ? const_cast<KSBeaconManagerInternal*>(this)->cachedBeaconWithIBeaconKey(*key) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithSerialNumber(const std::string& serialNumber) const {
  return beacon_array::beaconWithSerialNumber(allCachedBeacons(), serialNumber);
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconWithBeaconID(const std::string& beaconID) const {
  return beacon_array::beaconWithBeaconID(allCachedBeacons(), beaconID);
}

std::optional<std::string> KSBeaconManagerInternal::cacheIdentifierForBeaconLocked(const KSBeacon& b) const {
  if (auto a = b.bluetoothAddress(); nonEmpty(a)) {
    if (auto id = lookup(cacheIdentifierForBTAddress_, upper(*a))) return id;
  }
  if (auto k = b.iBeaconKey(); nonEmpty(k)) {
    if (auto id = lookup(cacheIdentifierForIBeaconKey_, upper(*k))) return id;
  }
  if (auto u = eddystoneUIDOf(b); nonEmpty(u)) {
    if (auto id = lookup(cacheIdentifierForEddystoneUIDString_, upper(*u))) return id;
  }
  if (auto p = b.peripheralIdentifier()) {
    if (auto id = lookup(cacheIdentifierForPeripheralIdentifier_, *p)) return id;
  }
  return std::nullopt;
}

std::optional<std::string> KSBeaconManagerInternal::cacheIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon) const {
  if (!beacon) return std::nullopt;
  std::lock_guard lock(cacheMutex_);
  return cacheIdentifierForBeaconLocked(*beacon);
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconForBeacon(const std::shared_ptr<KSBeacon>& beacon) const {
  if (!beacon) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto id = cacheIdentifierForBeaconLocked(*beacon);
  return id ? cachedBeaconLocked(*id) : nullptr;
}

std::optional<std::string> KSBeaconManagerInternal::cacheIdentifierForPeripheralIdentifier(
    const platform::Uuid& peripheral) const {
  std::lock_guard lock(cacheMutex_);
  return lookup(cacheIdentifierForPeripheralIdentifier_, peripheral);
}

std::shared_ptr<KSCacheState> KSBeaconManagerInternal::cacheStateForBeaconID(const std::string& beaconID) {
  if (beaconID.empty()) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto& state = cacheStateForBeaconID_[beaconID];
  if (!state) state = std::make_shared<KSCacheState>(scheduler_->clock());
  return state;
}

std::shared_ptr<KSCacheState> KSBeaconManagerInternal::cacheStateForSiteID(const std::string& siteID) {
  if (siteID.empty()) return nullptr;
  std::lock_guard lock(cacheMutex_);
  auto& state = cacheStateForSiteID_[siteID];
  if (!state) state = std::make_shared<KSCacheState>(scheduler_->clock());
  return state;
}

std::shared_ptr<KSCacheState> KSBeaconManagerInternal::cacheStateForApp() const {
  std::lock_guard lock(cacheMutex_);
  return cacheStateForApp_;
}

std::optional<platform::Date> KSBeaconManagerInternal::lastCacheRefreshForApp() const {
  return cacheStateForApp()->lastCompletedRefresh();
}

// --- changes

void KSBeaconManagerInternal::mapIdentifiersLocked(const KSBeacon& b, const std::string& cacheIdentifier) {
  IndexedKeys& indexed = indexedKeysForCacheIdentifier_[cacheIdentifier];
  // A key the record now has replaces the one it was indexed under; a key it lost stays.
  auto index = [&](auto& map, std::string& was, const std::optional<std::string>& key) {
    if (!nonEmpty(key)) return;
    std::string now = upper(*key);
    if (!was.empty() && was != now) {
      auto it = map.find(was);
      if (it != map.end() && it->second == cacheIdentifier) map.erase(it);
    }
    map[now] = cacheIdentifier;
    was = std::move(now);
  };
  index(cacheIdentifierForBTAddress_, indexed.address, b.bluetoothAddress());
  index(cacheIdentifierForIBeaconKey_, indexed.iBeaconKey, b.iBeaconKey());
  index(cacheIdentifierForEddystoneUIDString_, indexed.uid, eddystoneUIDOf(b));
}

int KSBeaconManagerInternal::cacheBeacon(const std::shared_ptr<KSBeacon>& beacon, bool fromApi, bool multicastIt) {
  if (!beacon) return KSCacheBeaconResultNotCached;
  auto eddystone = beacon->eddystone();
  const bool identifiable = nonEmpty(beacon->iBeaconKey()) || nonEmpty(beacon->bluetoothAddress()) ||
                            nonEmpty(beacon->serialNumber()) || nonEmpty(beacon->identifierDataString()) ||
                            (eddystone && (nonEmpty(eddystone->UIDString()) || nonEmpty(eddystone->URLString())));
  if (!identifiable) return KSCacheBeaconResultNotCached;

  const auto incomingStatus = beacon->syncStatus();
  const bool synced = incomingStatus == KSSyncStatusSynced;
  std::shared_ptr<KSBeacon> cached;
  int result = KSCacheBeaconResultNotCached;
  {
    std::lock_guard lock(cacheMutex_);
    auto id = cacheIdentifierForBeaconLocked(*beacon);
    auto found = id ? cachedBeaconLocked(*id) : nullptr;
    if (found) {
      // A sighting never overwrites what the cache holds (it would turn a synced beacon
      // into a restored one).
      if (!fromApi && !synced) return KSCacheBeaconResultNotCached;
      if (found != beacon) found->mergeFromDictionary(platform::Value(beacon->toDictionary()), true);
      cached = found;
      result = synced ? KSCacheBeaconResultUpdatedWithSync : KSCacheBeaconResultCachedWithoutSync;
    } else {
      id = platform::Uuid::random().string();
      beacon->setCacheIdentifier(id);
      beacon->setCachedAt(now());
      beaconForCacheIdentifier_[*id] = beacon;
      cached = beacon;
      result = synced ? KSCacheBeaconResultNewWithSync : KSCacheBeaconResultCachedWithoutSync;
    }
    mapIdentifiersLocked(*cached, *id);
  }
  updateBeaconToSyncStatus(cached, incomingStatus);
  if (result == KSCacheBeaconResultUpdatedWithSync || result == KSCacheBeaconResultNewWithSync) storeBeacon(cached);
  if (multicastIt) {
    if (result == KSCacheBeaconResultCachedWithoutSync || result == KSCacheBeaconResultNewWithSync) {
      multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidCacheBeacons,
                KSBeaconManagerInternalDelegate::Beacons{cached});
    }
    if (result == KSCacheBeaconResultUpdatedWithSync || result == KSCacheBeaconResultNewWithSync) {
      multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidSyncBeacons,
                KSBeaconManagerInternalDelegate::Beacons{cached});
    }
  }
  return result;
}

void KSBeaconManagerInternal::updateBeaconToSyncStatus(const std::shared_ptr<KSBeacon>& beacon, std::int64_t status) {
  if (!beacon) return;
  const auto old = beacon->syncStatus();
  beacon->setSyncStatus(status);
  if (status == KSSyncStatusUnauthorized || status == KSSyncStatusSynced) beacon->setSyncedAt(now());
  if (status == KSSyncStatusUnauthorized && old != KSSyncStatusUnauthorized && nonEmpty(beacon->serialNumber())) {
    storeBeacon(beacon);
  }
}

void KSBeaconManagerInternal::storeBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (auto s = store()) s->storeBeacon(beacon);
}

void KSBeaconManagerInternal::removeCachedBeaconLocked(const KSBeacon& b) {
  const auto id = b.cacheIdentifier().value_or("");
  auto erase = [&](auto& map, const auto& key) {
    auto it = map.find(key);
    if (it != map.end() && it->second == id) map.erase(it);
  };
  if (auto k = b.iBeaconKey(); nonEmpty(k)) erase(cacheIdentifierForIBeaconKey_, upper(*k));
  if (auto a = b.bluetoothAddress(); nonEmpty(a)) erase(cacheIdentifierForBTAddress_, upper(*a));
  if (auto u = eddystoneUIDOf(b); nonEmpty(u)) erase(cacheIdentifierForEddystoneUIDString_, upper(*u));
  if (auto it = indexedKeysForCacheIdentifier_.find(id); it != indexedKeysForCacheIdentifier_.end()) {
    erase(cacheIdentifierForIBeaconKey_, it->second.iBeaconKey);
    erase(cacheIdentifierForBTAddress_, it->second.address);
    erase(cacheIdentifierForEddystoneUIDString_, it->second.uid);
    indexedKeysForCacheIdentifier_.erase(it);
  }
  if (auto p = b.peripheralIdentifier()) erase(cacheIdentifierForPeripheralIdentifier_, *p);
  if (!id.empty()) {
    beaconForCacheIdentifier_.erase(id);
    lastHeardAtForCacheIdentifier_.erase(id);
  }
  // The site is due for a full sync again.
  if (auto site = b.siteID(); nonEmpty(site)) {
    cacheStateForSiteID_[*site] = std::make_shared<KSCacheState>(scheduler_->clock());
  }
}

// --- bounds over a long run

void KSBeaconManagerInternal::evictCachedBeaconLocked(const KSBeacon& b) {
  // As a removal, but the beacon's site is not made due for a full sync: going quiet says
  // nothing about the site's beacons.
  std::optional<std::string> site = b.siteID();
  std::shared_ptr<KSCacheState> siteState;
  if (nonEmpty(site)) {
    if (auto it = cacheStateForSiteID_.find(*site); it != cacheStateForSiteID_.end()) siteState = it->second;
  }
  removeCachedBeaconLocked(b);
  if (nonEmpty(site)) {
    if (siteState) {
      cacheStateForSiteID_[*site] = siteState;
    } else {
      cacheStateForSiteID_.erase(*site);
    }
  }
  if (auto id = b.cacheIdentifier()) attemptedBeaconSettingsUpdateAtForCacheIdentifier_.erase(*id);
  if (auto beaconID = b.beaconID(); nonEmpty(beaconID)) cacheStateForBeaconID_.erase(*beaconID);
}

std::size_t KSBeaconManagerInternal::cachedBeaconCount() const {
  std::lock_guard lock(cacheMutex_);
  return beaconForCacheIdentifier_.size();
}

void KSBeaconManagerInternal::noteHeard(const std::shared_ptr<KSBeacon>& beacon, platform::Date at) {
  if (!beacon) return;
  auto id = beacon->cacheIdentifier();
  if (!nonEmpty(id)) return;
  std::lock_guard lock(cacheMutex_);
  if (beaconForCacheIdentifier_.contains(*id)) lastHeardAtForCacheIdentifier_[*id] = at;
}

void KSBeaconManagerInternal::evictQuietBeaconsIfDue(platform::Date at) {
  {
    std::lock_guard lock(cacheMutex_);
    const std::size_t size = beaconForCacheIdentifier_.size();
    const bool grown = size > std::max(kMaximumCachedBeacons, cacheSizeAtLastSweep_ + kMaximumCachedBeacons / 8);
    if (lastEvictionSweep_ && at.timeIntervalSince(*lastEvictionSweep_) < kEvictionSweepIntervalInSeconds && !grown) {
      return;
    }
  }
  evictQuietBeacons();
}

std::size_t KSBeaconManagerInternal::evictQuietBeacons() {
  const auto at = now();
  std::vector<std::shared_ptr<KSBeacon>> evicted;
  {
    std::lock_guard lock(cacheMutex_);
    lastEvictionSweep_ = at;
    struct Candidate {
      double quiet;
      std::shared_ptr<KSBeacon> beacon;
    };
    std::vector<Candidate> candidates;
    for (const auto& [id, beacon] : beaconForCacheIdentifier_) {
      const auto status = beacon->syncStatus();
      if (status == KSSyncStatusSynced || status == KSSyncStatusRestored) continue;
      if (operationsForCacheIdentifier_.contains(id)) continue;
      std::optional<platform::Date> heard;
      if (auto it = lastHeardAtForCacheIdentifier_.find(id); it != lastHeardAtForCacheIdentifier_.end()) {
        heard = it->second;
      } else {
        heard = beacon->lastDiscoveredAt() ? beacon->lastDiscoveredAt() : beacon->cachedAt();
      }
      const double quiet = heard ? at.timeIntervalSince(*heard) : 0.0;
      if (quiet < kCurrentPassTimeInSeconds) continue;
      candidates.push_back({quiet, beacon});
    }
    const std::size_t size = beaconForCacheIdentifier_.size();
    const std::size_t overCap = size > kMaximumCachedBeacons ? size - kMaximumCachedBeacons : 0;
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) { return a.quiet > b.quiet; });
    for (auto& candidate : candidates) {
      if (candidate.quiet < kQuietTimeBeforeEvictionInSeconds && evicted.size() >= overCap) break;
      evictCachedBeaconLocked(*candidate.beacon);
      evicted.push_back(std::move(candidate.beacon));
    }
    cacheSizeAtLastSweep_ = beaconForCacheIdentifier_.size();
  }
  if (!evicted.empty()) multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidRemoveBeacons, evicted);
  return evicted.size();
}

void KSBeaconManagerInternal::removeCachedBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return;
  std::lock_guard lock(cacheMutex_);
  removeCachedBeaconLocked(*beacon);
}

void KSBeaconManagerInternal::removeCachedBeaconsInArray(const std::vector<std::shared_ptr<KSBeacon>>& beacons) {
  if (beacons.empty()) return;
  {
    std::lock_guard lock(cacheMutex_);
    for (const auto& b : beacons) {
      if (b) removeCachedBeaconLocked(*b);
    }
  }
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidRemoveBeacons, beacons);
}

// --- store reads

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::restored(std::shared_ptr<KSBeacon> fromStore) {
  if (!fromStore || !nonEmpty(fromStore->beaconID())) return nullptr;
  updateBeaconToSyncStatus(fromStore, KSSyncStatusRestored);
  return fromStore;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::beaconFromLocalStorageForIBeaconKey(const std::string& key) {
  auto s = store();
  return s ? restored(s->fetchBeaconForIBeaconKey(key)) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::beaconFromLocalStorageForBluetoothAddress(const std::string& address) {
  auto s = store();
  return s ? restored(s->fetchBeaconForBluetoothAddress(address)) : nullptr;
}

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::beaconFromLocalStorageForEddystoneUIDString(const std::string& uid) {
  auto s = store();
  return s ? restored(s->fetchBeaconForEddystoneUIDString(uid)) : nullptr;
}

// --- cloud sync

std::shared_ptr<KSBeaconSyncRequesting> KSBeaconManagerInternal::sync() const {
  if (ports_.sync) return ports_.sync;
  // With the cloud API off there is nobody to ask (and no maker to look up each pass).
  if (configurator_ && !configurator_->isUsingApi()) return nullptr;
  auto provider = provider_.lock();
  return provider ? provider->singleton<KSApiOperationManaging>(KSApiOperationManaging::kSingletonName, nullptr)
                  : nullptr;
}

bool KSBeaconManagerInternal::expired(const std::optional<platform::Date>& date, double seconds) const {
  return !date || now().timeIntervalSince(*date) > seconds;
}

KSBeaconManagerInternal::CacheDates KSBeaconManagerInternal::appDates() const {
  std::lock_guard lock(cacheMutex_);
  return {cacheStateForApp_->lastCompletedFullSync(), cacheStateForApp_->lastCompletedRefresh(),
          cacheStateForApp_->latestModifiedAt()};
}

KSBeaconManagerInternal::CacheDates KSBeaconManagerInternal::siteDates(const std::string& siteID) {
  auto state = cacheStateForSiteID(siteID);
  if (!state) return {};
  std::lock_guard lock(cacheMutex_);
  return {state->lastCompletedFullSync(), state->lastCompletedRefresh(), state->latestModifiedAt()};
}

bool KSBeaconManagerInternal::isCacheFullSyncEnabledForApp() const {
  return configurator_ && configurator_->cacheAllBeaconsForApp();
}
bool KSBeaconManagerInternal::isCacheFullSyncEnabledForSite() const {
  return configurator_ && configurator_->cacheAllBeaconsForSite();
}
bool KSBeaconManagerInternal::canCacheFullSyncForApp() const {
  return isCacheFullSyncEnabledForApp() &&
         expired(appDates().lastCompletedFullSync, KSCacheRefreshTimeIntervalLowPriorityInSeconds);
}
bool KSBeaconManagerInternal::shouldCacheFullSyncForApp() const {
  return canCacheFullSyncForApp() && expired(appDates().lastCompletedFullSync, KSCacheExpiryForFullSyncInSeconds);
}
bool KSBeaconManagerInternal::canCacheRefreshForApp() const {
  return isCacheFullSyncEnabledForApp() &&
         expired(appDates().lastCompletedRefresh, configurator_->cacheRefreshTimeInterval());
}
bool KSBeaconManagerInternal::canCacheFullSyncForSiteID(const std::string& siteID) {
  return isCacheFullSyncEnabledForSite() &&
         expired(siteDates(siteID).lastCompletedFullSync, KSCacheRefreshTimeIntervalLowPriorityInSeconds);
}
bool KSBeaconManagerInternal::shouldCacheFullSyncForSiteID(const std::string& siteID) {
  return canCacheFullSyncForSiteID(siteID) &&
         expired(siteDates(siteID).lastCompletedFullSync, KSCacheExpiryForFullSyncInSeconds);
}
bool KSBeaconManagerInternal::canCacheRefreshForSiteID(const std::string& siteID) {
  return isCacheFullSyncEnabledForSite() &&
         expired(siteDates(siteID).lastCompletedRefresh, KSMinimumCacheRefreshTimeIntervalInSeconds);
}
bool KSBeaconManagerInternal::shouldCacheRefreshForSiteID(const std::string& siteID) {
  return canCacheRefreshForSiteID(siteID) &&
         expired(siteDates(siteID).lastCompletedRefresh, configurator_->cacheRefreshTimeInterval());
}

bool KSBeaconManagerInternal::syncCachedBeaconsForApp() {
  if (!isCacheFullSyncEnabledForApp()) return false;
  auto requester = sync();
  if (shouldCacheRefreshForApp()) {
    if (requester) requester->syncAllBeaconsForAppModifiedAfter(appDates().latestModifiedAt);
    return true;
  }
  if (shouldCacheFullSyncForApp()) {
    if (requester) requester->syncAllBeaconsForAppModifiedAfter(std::nullopt);
    return true;
  }
  return false;
}

bool KSBeaconManagerInternal::syncCachedBeaconsForSiteID(const std::string& siteID) {
  if (siteID.empty() || !isCacheFullSyncEnabledForSite()) return false;
  auto requester = sync();
  if (shouldCacheRefreshForSiteID(siteID)) {
    if (requester) requester->syncBeaconsInSiteWithSiteID(siteID, siteDates(siteID).latestModifiedAt);
    return true;
  }
  if (shouldCacheFullSyncForSiteID(siteID)) {
    if (requester) requester->syncBeaconsInSiteWithSiteID(siteID, std::nullopt);
    return true;
  }
  return false;
}

bool KSBeaconManagerInternal::syncCachedBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return false;
  const auto status = beacon->syncStatus();
  const auto syncedAt = beacon->syncedAt();
  const bool settled = status == KSSyncStatusSynced || status == KSSyncStatusUnauthorized;
  const bool syncedOrRestored = status == KSSyncStatusSynced || status == KSSyncStatusRestored;
  const bool coveredBySite = nonEmpty(beacon->siteID()) && isCacheFullSyncEnabledForSite();
  const bool stale = syncedOrRestored && !isCacheFullSyncEnabledForApp() && !coveredBySite && syncedAt &&
                     now().timeIntervalSince(*syncedAt) > configurator_->cacheRefreshTimeInterval();
  const bool recheck = status == KSSyncStatusUnauthorized && syncedAt &&
                       now().timeIntervalSince(*syncedAt) > KSCacheRefreshTimeIntervalLowPriorityInSeconds;
  if (!settled && !configurator_->discoverBeaconsNearby()) {
    updateBeaconToSyncStatus(beacon, KSSyncStatusUnauthorized);
    return false;
  }
  if (!(stale || !settled || recheck)) return false;
  auto requester = sync();
  if (auto address = beacon->bluetoothAddress(); nonEmpty(address)) {
    if (requester) requester->syncBeaconsNearbyBeaconWithBluetoothAddress(*address);
    return true;
  }
  if (auto key = beacon->iBeaconKey(); nonEmpty(key)) {
    if (requester) requester->syncBeaconsNearbyBeaconWithIBeaconKey(*key);
    return true;
  }
  if (auto uid = eddystoneUIDOf(*beacon); nonEmpty(uid)) {
    if (requester) requester->syncBeaconsNearbyBeaconWithEddystoneUIDString(*uid);
    return true;
  }
  return false;
}

void KSBeaconManagerInternal::validateSyncStatusForBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return;
  const auto status = beacon->syncStatus();
  if (status != KSSyncStatusSynced && status != KSSyncStatusRestored) return;
  auto access = beacon->networkAccess();
  if (!access) {
    updateBeaconToSyncStatus(beacon, KSSyncStatusNotSynced);
    return;
  }
  const auto syncedAt = beacon->syncedAt();
  const auto olderThan = [&](double seconds) { return syncedAt && now().timeIntervalSince(*syncedAt) > seconds; };
  const std::int64_t ownership = access->ownership() ? access->ownership()->networkAccessOwnershipID() : 0;
  switch (ownership) {
    case 1:  // owned: never ages
      break;
    case 2: {  // shared: its own limit, else the access default; or a past end
      const auto own = access->maxSecondsBeforeRevalidation();
      const double limit = own && *own > 0 ? *own : KSCacheExpiryForAccessInSeconds;
      const auto endsAt = access->endsAt();
      if ((endsAt && *endsAt < now()) || olderThan(limit)) {
        updateBeaconToSyncStatus(beacon, KSSyncStatusExpired);
      }
      break;
    }
    case 3:  // public
      if (olderThan(KSCacheExpiryForAccessInSeconds)) updateBeaconToSyncStatus(beacon, KSSyncStatusExpired);
      break;
    case 0:  // unknown
      updateBeaconToSyncStatus(beacon, syncedAt ? KSSyncStatusUnauthorized : KSSyncStatusNotSynced);
      break;
    default:
      break;
  }
}

void KSBeaconManagerInternal::validateAndSyncBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return;
  std::shared_ptr<KSCacheState> state;
  if (auto id = beacon->beaconID(); nonEmpty(id)) state = cacheStateForBeaconID(*id);
  if (state) {
    std::lock_guard lock(cacheMutex_);
    if (!state->requiresValidationAfterTimeInterval(KSMinimumCacheRefreshTimeIntervalInSeconds)) return;
  }
  if (beacon->syncStatus() == KSSyncStatusUnauthorized) {
    const auto syncedAt = beacon->syncedAt();
    if (syncedAt && now().timeIntervalSince(*syncedAt) <= KSCacheRefreshTimeIntervalLowPriorityInSeconds) return;
  }
  validateSyncStatusForBeacon(beacon);
  const bool started = syncCachedBeaconsForApp() || syncCachedBeaconsForSiteID(beacon->siteID().value_or("")) ||
                       syncCachedBeacon(beacon);
  if (!started && state) {
    std::lock_guard lock(cacheMutex_);
    state->setLastValidatedWithNoActionRequired(now());
  }
}

void KSBeaconManagerInternal::startFullSyncForAppIfDue() {
  if (!shouldCacheFullSyncForApp()) return;
  if (auto requester = sync()) requester->syncAllBeaconsForAppModifiedAfter(std::nullopt);
}

void KSBeaconManagerInternal::siteManagerDidCacheSite(const std::string& siteID) {
  if (siteID.empty()) return;
  if (!syncCachedBeaconsForApp()) syncCachedBeaconsForSiteID(siteID);
}

void KSBeaconManagerInternal::siteManagerDidRemoveCachedSite(const std::string& siteID) {
  if (siteID.empty()) return;
  std::vector<std::shared_ptr<KSBeacon>> ofSite;
  for (auto& b : allCachedBeacons()) {
    if (b->siteID() == siteID) ofSite.push_back(std::move(b));
  }
  removeCachedBeaconsInArray(ofSite);
}

void KSBeaconManagerInternal::cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result,
                                                         std::function<void()> completion) {
  workQueue_->async([weak = weak_from_this(), result, completion = std::move(completion)] {
    if (auto self = weak.lock()) self->mergeSyncResult(result);
    if (completion) completion();
  });
}

void KSBeaconManagerInternal::cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) {
  if (workQueue_->isCurrent()) {
    // Waiting here for the work queue would wait for ourselves.
    platform::Log::debug(kLog, "sync result merged inline: the caller is on the work queue");
    mergeSyncResult(result);
    return;
  }
  auto group = scheduler_->makeGroup();
  group->enter();
  cacheBeaconsFromSyncResult(result, [group] { group->leave(); });
  group->wait();
}

void KSBeaconManagerInternal::mergeSyncResult(const KSBeaconSyncResult& result) {
  using Beacons = KSBeaconManagerInternalDelegate::Beacons;
  const std::int64_t code = result.httpStatusCode.value_or(0);
  if (code != 200) {
    if (!(code == 400 || code == 401 || code == 403 || code == 404 || code > 499)) return;
    Beacons concerned;
    const std::string id = result.beaconIdentifierString.value_or("");
    auto add = [&](std::shared_ptr<KSBeacon> b) {
      if (b) concerned.push_back(std::move(b));
    };
    switch (result.beaconIdentifierType) {
      case KSBeaconIdentifierTypeBluetoothAddress:
        add(cachedBeaconWithBluetoothAddress(id));
        break;
      case KSBeaconIdentifierTypeIBeaconKey:
        add(cachedBeaconWithIBeaconKey(id));
        break;
      case KSBeaconIdentifierTypeEddystoneUID:
        add(cachedBeaconWithEddystoneUIDString(id));
        break;
      case KSBeaconIdentifierTypeSerialNumber:
        add(cachedBeaconWithSerialNumber(id));
        break;
      case 0:
        if (nonEmpty(result.siteID)) {
          for (auto& b : allCachedBeacons()) {
            if (b->siteID() == result.siteID) concerned.push_back(std::move(b));
          }
        }
        break;
      default:
        break;
    }
    for (const auto& b : concerned) updateBeaconToSyncStatus(b, KSSyncStatusUnauthorized);
    return;
  }

  Beacons cached;
  Beacons synced;
  for (const auto& incoming : result.beacons) {
    if (!incoming) continue;
    switch (cacheBeacon(incoming, true, false)) {
      case KSCacheBeaconResultNewWithSync:
        cached.push_back(incoming);
        synced.push_back(incoming);
        break;
      case KSCacheBeaconResultUpdatedWithSync:
        if (auto b = cachedBeaconForBeacon(incoming)) synced.push_back(std::move(b));
        break;
      case KSCacheBeaconResultCachedWithoutSync:
        cached.push_back(incoming);
        break;
      default:
        break;
    }
  }

  const auto at = now();
  const bool forSite = nonEmpty(result.siteID);
  std::map<std::string, Beacons> bySite;
  if (forSite) bySite[*result.siteID];
  std::int64_t count = 0;
  if (!result.modifiedAfter && (result.includeLatestForApp || forSite)) {
    // A full sync: what it did not confirm within the day loses access.
    for (const auto& b : allCachedBeacons()) {
      const auto site = b->siteID();
      if (forSite && site != result.siteID) continue;
      auto access = b->networkAccess();
      const bool isPublic = access && access->ownership() && access->ownership()->networkAccessOwnershipID() == 3;
      if (result.includeLatestForApp && isPublic) continue;
      const auto syncedAt = b->syncedAt();
      if (syncedAt && at.timeIntervalSince(*syncedAt) <= KSCacheRefreshTimeIntervalLowPriorityInSeconds) {
        ++count;
        if (nonEmpty(site)) bySite[*site].push_back(b);
      } else if (b->syncStatus() != KSSyncStatusUnauthorized) {
        updateBeaconToSyncStatus(b, KSSyncStatusUnauthorized);
      }
    }
  }
  auto latestOf = [](const Beacons& beacons) {
    std::optional<platform::Date> latest;
    for (const auto& b : beacons) {
      if (auto m = b->modifiedAt(); m && (!latest || *m > *latest)) latest = m;
    }
    return latest;
  };
  std::vector<std::pair<std::string, std::shared_ptr<KSCacheState>>> siteStates;
  for (const auto& [site, list] : bySite) siteStates.emplace_back(site, cacheStateForSiteID(site));
  {
    std::lock_guard lock(cacheMutex_);
    if (result.includeLatestForApp) {
      auto& app = *cacheStateForApp_;
      if (count > 0) app.setObjectCountAfterLastSync(count);
      app.setLastCompletedRefresh(at);
      if (auto latest = latestOf(result.beacons)) app.setLatestModifiedAt(latest);
      if (!result.modifiedAfter) app.setLastCompletedFullSync(at);
    }
    for (const auto& [site, state] : siteStates) {
      if (!state) continue;
      const auto& list = bySite[site];
      state->setObjectCountAfterLastSync(static_cast<std::int64_t>(list.size()));
      state->setLastCompletedRefresh(at);
      if (auto latest = latestOf(list)) state->setLatestModifiedAt(latest);
      if (!result.modifiedAfter) state->setLastCompletedFullSync(at);
    }
  }
  if (!cached.empty()) multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidCacheBeacons, cached);
  if (!synced.empty()) {
    if (auto s = store()) s->saveContext();
    multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidSyncBeacons, synced);
  }
}

// --- visits

std::shared_ptr<KSBeacon> KSBeaconManagerInternal::cachedBeaconForBeaconVisit(
    const std::optional<std::string>& proximityUUIDString, std::optional<std::uint16_t> major,
    std::optional<std::uint16_t> minor, const std::optional<std::string>& bluetoothAddress) const {
  if (nonEmpty(bluetoothAddress)) {
    if (auto b = cachedBeaconWithBluetoothAddress(*bluetoothAddress)) return b;
  }
  return cachedBeaconWithProximityUUIDString(proximityUUIDString, major, minor);
}

void KSBeaconManagerInternal::processEndedBeaconVisit(const std::optional<std::string>& proximityUUIDString,
                                                      std::optional<std::uint16_t> major,
                                                      std::optional<std::uint16_t> minor,
                                                      const std::optional<std::string>& bluetoothAddress) {
  auto beacon = cachedBeaconForBeaconVisit(proximityUUIDString, major, minor, bluetoothAddress);
  if (!beacon) return;
  centralManagerClient()->clearMetaDataForPeripheralUUID(beacon->peripheralIdentifier());
  beacon->needsToRediscoverPeripheral();
}

// --- the central client

bool KSBeaconManagerInternal::centralManagerClientShouldScanForPeripherals(KSCentralManagerClient&) {
  return isBeaconDiscoveringEnabled();
}

void KSBeaconManagerInternal::centralManagerClientDidUpdateState(KSCentralManagerClient& client) {
  // The client reporting, not the one kept: its first report may come before start keeps it.
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidUpdateBluetoothPoweredOn,
            client.isCentralManagerPoweredOn());
}

void KSBeaconManagerInternal::centralManagerClientDidDiscoverPeripheral(KSCentralManagerClient&,
                                                                        const platform::Uuid& peripheral,
                                                                        const platform::Value& adData, int rssi,
                                                                        const std::string& scanID) {
  auto sighting = std::make_shared<Sighting>();
  sighting->peripheral = peripheral;
  sighting->adData = adData;
  sighting->rssi = rssi;
  sighting->scanID = scanID;
  workQueue_->async([weak = weak_from_this(), sighting] {
    if (auto self = weak.lock()) {
      sighting->read();
      self->processAdvertisement(*sighting);
    }
  });
}

namespace {

enum class Learned { Nothing, Learned, Drop };

}  // namespace

void KSBeaconManagerInternal::processAdvertisement(Sighting& s) {
  const auto at = now();
  evictQuietBeaconsIfDue(at);
  const std::string& cacheKeyAddress = s.bluetoothAddress.value_or("");

  // The first identifier the beacon lacks, mapped in the same step. Under cacheMutex_.
  auto learnLocked = [&](KSBeacon& beacon, const std::string& cacheIdentifier) {
    if (s.bluetoothAddress && !nonEmpty(beacon.bluetoothAddress())) {
      beacon.setBluetoothAddress(s.bluetoothAddress);
      mapIdentifiersLocked(beacon, cacheIdentifier);
    } else if (s.iBeaconKey && !nonEmpty(beacon.iBeaconKey())) {
      beacon.setProximityUUIDString(s.proximityUUIDString);
      beacon.setMajor(platform::Value(*s.major));
      beacon.setMinor(platform::Value(*s.minor));
      mapIdentifiersLocked(beacon, cacheIdentifier);
    } else if (s.uid && !nonEmpty(eddystoneUIDOf(beacon))) {
      auto parts = KSEddystone::namespaceIDAndInstanceIDFromUIDString(*s.uid);
      if (parts.size() != 2) return Learned::Drop;
      auto eddystone = beacon.eddystone();
      if (!eddystone) {
        eddystone = std::make_shared<KSEddystone>();
        beacon.setEddystone(eddystone);
      }
      eddystone->setUIDString(s.uid);
      eddystone->setNamespaceID(parts[0]);
      eddystone->setInstanceID(parts[1]);
      mapIdentifiersLocked(beacon, cacheIdentifier);
    } else if (s.url) {
      auto eddystone = beacon.eddystone();
      if (!eddystone) {
        eddystone = std::make_shared<KSEddystone>();
        beacon.setEddystone(eddystone);
      }
      eddystone->setURLString(s.url);
    } else if (s.identifierData) {
      beacon.setIdentifierDataStringWithData(*s.identifierData);
    } else {
      return Learned::Nothing;
    }
    return Learned::Learned;
  };
  auto learn = [&](const std::shared_ptr<KSBeacon>& beacon) {
    std::lock_guard lock(cacheMutex_);
    const auto id = beacon->cacheIdentifier();
    if (!nonEmpty(id)) return Learned::Drop;
    return learnLocked(*beacon, *id);
  };
  // Called once per sighting: the record takes the dictionary over.
  auto takeAdvertisement = [&](KSBeacon& beacon) {
    if (auto battery = s.adData[KSAdDataBatteryLevelKey]; !battery.isAbsent()) beacon.setLastKnownBatteryLevel(battery);
    beacon.setAdData(std::move(s.adData), s.type);
  };

  // Matched: the cache by one key, else the peripheral the beacon was last heard from.
  std::shared_ptr<KSBeacon> beacon;
  if (s.bluetoothAddress) {
    beacon = cachedBeaconWithBluetoothAddress(cacheKeyAddress);
  } else if (s.iBeaconKey) {
    beacon = cachedBeaconWithIBeaconKey(*s.iBeaconKey);
  } else if (s.uid) {
    beacon = cachedBeaconWithEddystoneUIDString(*s.uid);
  }
  if (!beacon) {
    std::lock_guard lock(cacheMutex_);
    if (auto id = lookup(cacheIdentifierForPeripheralIdentifier_, s.peripheral)) {
      if (auto known = cachedBeaconLocked(*id)) {
        if (learnLocked(*known, *id) == Learned::Drop) return;
        beacon = known;
      }
    }
  }

  if (!beacon) {
    if (!s.hasAnyIdentifier()) return;
    // The store, by one key only; the iBeacon key comes first here.
    std::shared_ptr<KSBeacon> candidate;
    if (s.iBeaconKey) {
      candidate = beaconFromLocalStorageForIBeaconKey(*s.iBeaconKey);
    } else if (s.bluetoothAddress) {
      candidate = beaconFromLocalStorageForBluetoothAddress(*s.bluetoothAddress);
    } else if (s.uid) {
      candidate = beaconFromLocalStorageForEddystoneUIDString(*s.uid);
    }
    if (!candidate) {
      candidate = std::make_shared<KSBeacon>();
      candidate->setProximityUUIDString(s.proximityUUIDString);
      candidate->setMajor(s.major ? platform::Value(*s.major) : platform::Value());
      candidate->setMinor(s.minor ? platform::Value(*s.minor) : platform::Value());
      candidate->setBluetoothAddress(s.bluetoothAddress);
      auto eddystone = std::make_shared<KSEddystone>();
      candidate->setEddystone(eddystone);
      if (s.uid) {
        auto parts = KSEddystone::namespaceIDAndInstanceIDFromUIDString(*s.uid);
        if (parts.size() != 2) return;
        eddystone->setUIDString(s.uid);
        eddystone->setNamespaceID(parts[0]);
        eddystone->setInstanceID(parts[1]);
      } else if (s.url) {
        eddystone->setURLString(s.url);
      } else if (s.identifierData) {
        candidate->setIdentifierDataStringWithData(*s.identifierData);
      }
    }

    if (auto cached = cachedBeaconForBeacon(candidate)) {
      // Already cached under another of its identifiers: that record learns this one.
      if (learn(cached) == Learned::Drop) return;
      beacon = cached;
    } else {
      candidate->setLastDiscoveredAt(at);
      candidate->setPeripheralIdentifier(s.peripheral);
      candidate->setDelegate(shared_from_this());
      takeAdvertisement(*candidate);
      if (!candidate->firstDiscoveredAt()) candidate->setFirstDiscoveredAt(at);
      cacheBeacon(candidate, true);
      const auto id = candidate->cacheIdentifier();
      if (!nonEmpty(id) || cachedBeaconWithCacheIdentifier(*id) != candidate) {
        platform::Log::warning(kLog, "CacheID Required: a sighting of {} was not cached and is dropped", s.type);
        return;
      }
      multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidFirstDiscoverBeacon, candidate);
      {
        std::lock_guard lock(cacheMutex_);
        cacheIdentifierForPeripheralIdentifier_[s.peripheral] = *id;
      }
      centralManagerClient()->didUpdatePeripheralIdentifierForBeacon(candidate);
      noteHeard(candidate, at);
      ranger_->discoveredBeacon(*id, s.scanID, s.rssi);
      validateAndSyncBeacon(candidate);
      return;
    }
  }

  // A cached beacon.
  const auto id = beacon->cacheIdentifier();
  if (!nonEmpty(id)) {
    platform::Log::warning(kLog, "CacheID Required: a matched beacon has no cache identifier");
    return;
  }
  beacon->setLastDiscoveredAt(at);
  beacon->setDelegate(shared_from_this());
  if (beacon->peripheralIdentifier() != s.peripheral) {
    {
      std::lock_guard lock(cacheMutex_);
      if (auto old = beacon->peripheralIdentifier()) cacheIdentifierForPeripheralIdentifier_.erase(*old);
      beacon->setPeripheralIdentifier(s.peripheral);
      cacheIdentifierForPeripheralIdentifier_[s.peripheral] = *id;
    }
    centralManagerClient()->didUpdatePeripheralIdentifierForBeacon(beacon);
  }
  takeAdvertisement(*beacon);
  if (!beacon->firstDiscoveredAt()) {
    beacon->setFirstDiscoveredAt(at);
    multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidFirstDiscoverBeacon, beacon);
  }
  noteHeard(beacon, at);
  ranger_->discoveredBeacon(*id, s.scanID, s.rssi);
  validateAndSyncBeacon(beacon);
}

// --- the location client

void KSBeaconManagerInternal::locationManagerClientDidRangeBeaconsInBeaconRegion(
    KSLocationManagerClient*, const std::vector<platform::location::Beacon>& beacons,
    const std::shared_ptr<KSBeaconRegion>& region) {
  workQueue_->async([weak = weak_from_this(), beacons, region] {
    if (auto self = weak.lock()) self->processLocationRanging(beacons, region);
  });
}

void KSBeaconManagerInternal::processLocationRanging(const std::vector<platform::location::Beacon>& beacons,
                                                     const std::shared_ptr<KSBeaconRegion>& region) {
  const auto at = now();
  evictQuietBeaconsIfDue(at);
  std::vector<platform::location::Beacon> accepted;
  KSBeaconManagerInternalDelegate::Beacons newlyCached;
  for (const auto& cl : beacons) {
    const std::string uuid = cl.proximityUUID.string();
    if (KSBeaconUtilities::isDefaultKeepAliveMajor(cl.major, cl.minor, uuid)) continue;
    if (region && cl_beacon::isInKeepAliveRegion(cl, *region)) continue;
    auto beacon = cachedBeaconWithProximityUUIDString(uuid, cl.major, cl.minor);
    if (!beacon) {
      auto key = KSBeaconUtilities::iBeaconKeyForProximityUUIDString(uuid, cl.major, cl.minor);
      beacon = key ? beaconFromLocalStorageForIBeaconKey(*key) : nullptr;
      if (!beacon) {
        beacon = std::make_shared<KSBeacon>();
        beacon->setProximityUUIDString(uuid);
        beacon->setMajor(platform::Value(cl.major));
        beacon->setMinor(platform::Value(cl.minor));
      }
      beacon->setRssi(platform::Value(cl.rssi));
      beacon->setAccuracy(cl.accuracy);
      const int result = cacheBeacon(beacon, false);
      if (result == KSCacheBeaconResultCachedWithoutSync) {
        newlyCached.push_back(beacon);
      } else if (auto cached = cachedBeaconForBeacon(beacon); cached && cached != beacon) {
        beacon = cached;  // already cached under another identifier
      }
    }
    platform::Value ad;
    ad.set(KSAdDataTypeKey, platform::Value(KSAdDataTypeAppleIBeaconKey));
    ad.set(KSAdDataTimestampKey, platform::Value(at));
    ad.set(KSAdDataProximityUUIDStringKey, platform::Value(uuid));
    ad.set(KSAdDataMajorKey, platform::Value(cl.major));
    ad.set(KSAdDataMinorKey, platform::Value(cl.minor));
    beacon->setAdData(std::move(ad), KSAdDataTypeAppleIBeaconKey);
    noteHeard(beacon, at);
    validateAndSyncBeacon(beacon);
    accepted.push_back(cl);
  }
  if (!newlyCached.empty()) {
    multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidCacheBeacons, newlyCached);
  }
  ranger_->locationManagerRangedCLBeacons(std::move(accepted), region ? region->identifier().value_or("") : "");
}

// --- the ranger and the beacons

void KSBeaconManagerInternal::beaconRangerDidRangeBeacons(KSBeaconRanger&,
                                                          const std::vector<std::shared_ptr<KSBeacon>>& beacons) {
  auto lists = KSRangedBeaconLists::fromRangedBeacons(beacons);
  crowdSourceUpdates(lists.crowdSourceCandidates);
  using P = KSBeaconManagerInternalDelegate;
  multicast(&P::beaconManagerInternalDidRangeKestrineBeacons, std::move(lists.kestrine));
  multicast(&P::beaconManagerInternalDidRangeKestrineBeaconsForAnalytics, std::move(lists.analytics));
  multicast(&P::beaconManagerInternalDidRangeNewbornBeacons, std::move(lists.newborn));
  multicast(&P::beaconManagerInternalDidRangeIBeacons, std::move(lists.iBeacons));
  multicast(&P::beaconManagerInternalDidRangeEddystoneBeacons, std::move(lists.eddystone));
  multicast(&P::beaconManagerInternalDidRangeBeacons, std::move(lists.all));
  multicast(&P::beaconManagerInternalDidRangeMeasurementBeacons, std::move(lists.measurement));
}

KSBeaconDelegate::Taken KSBeaconManagerInternal::beaconDidUpdateMeasurements(
    const std::shared_ptr<KSBeacon>& beacon, const std::vector<std::shared_ptr<KSMeasurement>>& measurements) {
  multicast(&KSBeaconManagerInternalDelegate::beaconManagerInternalDidDiscoverMeasurements, measurements, beacon);
  return std::monostate{};
}

// --- beacon operations

std::shared_ptr<KSBeaconOperationFactory> KSBeaconManagerInternal::operationFactory() const {
  if (ports_.operationFactory) return ports_.operationFactory;
  auto provider = provider_.lock();
  return provider ? provider->singleton<KSBeaconOperationFactory>(KSBeaconOperationFactory::kSingletonName, nullptr)
                  : nullptr;
}

void KSBeaconManagerInternal::failOnMainQueue(Failure failure, std::string message) {
  if (!failure) return;
  scheduler_->mainQueue()->async([failure = std::move(failure), message = std::move(message)] {
    failure(errorWithDescription(message));
  });
}

void KSBeaconManagerInternal::schedule(const std::shared_ptr<KSBeacon>& beacon,
                                       const std::shared_ptr<KSBeaconOperationRef>& operation, Success success,
                                       Status status, std::function<void(double)> progress, Failure failure,
                                       std::function<platform::Value(const KSBeaconOperationRef&)> result) {
  if (!operation) {
    failOnMainQueue(std::move(failure), "Beacon operations over Bluetooth are not available.");
    return;
  }
  // The beacon stays cached while the operation runs; its end, either way, lets it go.
  std::function<void()> release = [] {};
  if (auto id = beacon ? beacon->cacheIdentifier() : std::nullopt; nonEmpty(id)) {
    {
      std::lock_guard lock(cacheMutex_);
      ++operationsForCacheIdentifier_[*id];
    }
    auto once = std::make_shared<std::atomic<bool>>(false);
    release = [weak = weak_from_this(), id = *id, once] {
      if (once->exchange(true)) return;
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard lock(self->cacheMutex_);
      auto it = self->operationsForCacheIdentifier_.find(id);
      if (it != self->operationsForCacheIdentifier_.end() && --it->second == 0) {
        self->operationsForCacheIdentifier_.erase(it);
      }
    };
  }
  operation->setBeaconOperationCompletionBlockWithSuccess(
      [success, result, release](const KSBeaconOperationRef::Ref& op) {
        release();
        if (success) success(result(*op));
      },
      [failure, release](const KSBeaconOperationRef::Ref&, const platform::Error& error) {
        release();
        if (failure) failure(error);
      });
  if (status) {
    operation->setBeaconOperationStatusBlock(
        [status](const KSBeaconOperationRef::Ref&, const std::string& text) { status(platform::Value(text)); });
  }
  if (progress) {
    operation->setBeaconOperationProgressBlock(
        [progress](const KSBeaconOperationRef::Ref&, double value) { progress(value); });
  }
  centralManagerClient()->scheduleBeaconOperation(operation);
}

namespace {

platform::Value finishedOperation(const KSBeaconOperationRef& op) {
  return platform::Value(std::const_pointer_cast<KSBeaconOperationRef>(op.shared_from_this()));
}

constexpr std::string_view kEndpointMessage = "KSBeaconEndpointSerial is the only supported endpoint.";

}  // namespace

void KSBeaconManagerInternal::updateFirmwareInBeacon(const std::shared_ptr<KSBeacon>& beacon,
                                                     const std::string& toFirmwareVersion, Success success,
                                                     Status status, std::function<void(double)> progress,
                                                     Failure failure) {
  auto cached = cachedBeaconForBeacon(beacon);
  const std::uint32_t mask = cached ? cached->featureBitmask() : 0;
  const auto peripheral = cached ? cached->peripheralIdentifier() : std::nullopt;
  auto factory = operationFactory();
  std::shared_ptr<KSBeaconOperationRef> op;
  if (mask & KSFeatureBitmaskAES128CMACBLEFirmwareUpdate) {
    if (factory) op = factory->makeFirmwareEncryptedUpdateOperation(cached, peripheral, toFirmwareVersion);
  } else if (mask & KSFeatureBitmaskUnencryptedBLEFirmwareUpdate) {
    if (factory) op = factory->makeFirmwareUpdateOperation(cached, peripheral, toFirmwareVersion);
  } else if (mask & KSFeatureBitmaskLegacyBLEFirmwareUpdate) {
    if (factory) op = factory->makeFirmwareUpdateLegacyOperation(cached, peripheral);
  } else {
    if (failure) {
      failure(errorWithDescription(
          fmt::format("Firmware update not supported. Device supports: {}", beacon_updates::featureSupportDebug(mask))));
    }
    return;
  }
  schedule(cached, op, std::move(success), std::move(status), std::move(progress), std::move(failure), finishedOperation);
}

void KSBeaconManagerInternal::updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon, Success success,
                                                     Status status, Failure failure) {
  auto cached = cachedBeaconForBeacon(beacon);
  const std::uint32_t mask = cached ? cached->featureBitmask() : 0;
  const auto peripheral = cached ? cached->peripheralIdentifier() : std::nullopt;
  auto factory = operationFactory();
  std::shared_ptr<KSBeaconOperationRef> op;
  if (mask & KSFeatureBitmaskAES128CMACBLESettingsUpdate) {
    if (factory) op = factory->makeSettingsUpdateOperation(cached, peripheral);
  } else if (mask & KSFeatureBitmaskLegacyBLESettingsUpdate) {
    if (factory) op = factory->makeSettingsUpdateLegacyOperation(cached, peripheral);
  } else {
    if (failure) {
      failure(errorWithDescription(
          fmt::format("Settings Update Not Supported. Device Supports: {}", beacon_updates::featureSupportDebug(mask))));
    }
    return;
  }
  schedule(cached, op, std::move(success), std::move(status), nullptr, std::move(failure), finishedOperation);
}

void KSBeaconManagerInternal::updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon,
                                                     const platform::Dict& settings, Success success, Status status,
                                                     Failure failure) {
  auto cached = cachedBeaconForBeacon(beacon);
  const auto peripheral = cached ? cached->peripheralIdentifier() : std::nullopt;
  auto factory = operationFactory();
  std::shared_ptr<KSBeaconOperationRef> op;
  if (factory) {
    op = settings.contains(std::string(KSEddyConfigDataSlotDictionaryKey))
             ? factory->makeEddystoneConfigOperation(cached, peripheral, settings)
             : factory->makeSettingsUpdateOfflineOperation(cached, peripheral, settings);
  }
  schedule(cached, op, std::move(success), std::move(status), nullptr, std::move(failure), finishedOperation);
}

void KSBeaconManagerInternal::sendDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                                              std::uint64_t endpoint, Success success, Status status,
                                              Failure failure) {
  if (request.empty()) return failOnMainQueue(std::move(failure), "requestData parameter is required.");
  if (request.size() >= 251) {
    return failOnMainQueue(std::move(failure),
                           "requestData too long. Use transportDataRequest if beacon host supports it or shorten "
                           "request.");
  }
  if (endpoint != KSBeaconEndpointSerial) return failOnMainQueue(std::move(failure), std::string(kEndpointMessage));
  auto cached = cachedBeaconForBeacon(beacon);
  auto factory = operationFactory();
  auto op = factory ? factory->makeDataRequestOperation(cached, cached ? cached->peripheralIdentifier() : std::nullopt,
                                                        {request})
                    : nullptr;
  schedule(cached, op, std::move(success), std::move(status), nullptr, std::move(failure), [](const KSBeaconOperationRef& o) {
    auto responses = o.responseDataArray();
    return responses.empty() ? platform::Value() : platform::Value(responses.front());
  });
}

void KSBeaconManagerInternal::sendDataRequests(const std::vector<platform::Bytes>& requests,
                                               const std::shared_ptr<KSBeacon>& beacon, std::uint64_t endpoint,
                                               Success success, Status status, Failure failure) {
  if (requests.empty()) return failOnMainQueue(std::move(failure), "requestDataArray parameter is required.");
  if (endpoint != KSBeaconEndpointSerial) return failOnMainQueue(std::move(failure), std::string(kEndpointMessage));
  for (std::size_t i = 0; i < requests.size(); ++i) {
    // An empty element is accepted: only its length is limited.
    if (requests[i].size() >= 251) {
      return failOnMainQueue(std::move(failure),
                             fmt::format("requestDataArray[{}] too long. Use transportDataRequest if beacon host "
                                         "supports it or shorten request.",
                                         i));
    }
  }
  auto cached = cachedBeaconForBeacon(beacon);
  auto factory = operationFactory();
  auto op = factory ? factory->makeDataRequestOperation(cached, cached ? cached->peripheralIdentifier() : std::nullopt,
                                                        requests)
                    : nullptr;
  schedule(cached, op, std::move(success), std::move(status), nullptr, std::move(failure), [](const KSBeaconOperationRef& o) {
    platform::Array out;
    for (auto& r : o.responseDataArray()) out.emplace_back(std::move(r));
    return platform::Value(std::move(out));
  });
}

void KSBeaconManagerInternal::transportDataRequest(const platform::Bytes& request,
                                                   const std::shared_ptr<KSBeacon>& beacon, std::uint64_t endpoint,
                                                   Success success, Status status, Failure failure) {
  if (request.empty()) return failOnMainQueue(std::move(failure), "requestData parameter is required");
  if (endpoint != KSBeaconEndpointSerial) return failOnMainQueue(std::move(failure), std::string(kEndpointMessage));
  auto cached = cachedBeaconForBeacon(beacon);
  auto factory = operationFactory();
  auto op = factory ? factory->makeTransportDataRequestOperation(
                          cached, cached ? cached->peripheralIdentifier() : std::nullopt, request)
                    : nullptr;
  schedule(cached, op, std::move(success), std::move(status), nullptr, std::move(failure),
           [](const KSBeaconOperationRef& o) { return platform::Value(o.responseData()); });
}

void KSBeaconManagerInternal::sendOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data,
                                         const std::shared_ptr<KSBeacon>& beacon, Success success, Failure failure) {
  auto cached = cachedBeaconForBeacon(beacon);
  auto factory = operationFactory();
  auto op = factory ? factory->makeControlOperation(cached, cached ? cached->peripheralIdentifier() : std::nullopt,
                                                    opcode, data)
                    : nullptr;
  schedule(cached, op, std::move(success), nullptr, nullptr, std::move(failure), finishedOperation);
}

// --- crowd-sourced settings updates

bool KSBeaconManagerInternal::crowdSourceBeaconUpdates() const {
  return configurator_ && configurator_->crowdSourceBeaconUpdates();
}

bool KSBeaconManagerInternal::shouldCrowdSourceUpdateBeacon(const std::shared_ptr<KSBeacon>& beacon) const {
  if (!beacon) return false;
  const auto id = cacheIdentifierForBeacon(beacon);
  if (!id) return false;
  {
    std::lock_guard lock(cacheMutex_);
    if (lastCrowdSourceUpdateAttempt_ && std::abs(now().timeIntervalSince(*lastCrowdSourceUpdateAttempt_)) <= 60.0) {
      return false;
    }
    if (attemptedBeaconSettingsUpdateAtForCacheIdentifier_.contains(*id)) return false;
  }
  if (!crowdSourceBeaconUpdates()) return false;
  const auto rssi = beacon->rssi().toInt64();
  if (!rssi || *rssi <= -80) return false;
  return beacon_updates::shouldUpdateSettingsCrowdSourced(*beacon, true);
}

void KSBeaconManagerInternal::crowdSourceUpdateBeacon(const std::shared_ptr<KSBeacon>& beacon, Success success,
                                                      Status status, Failure failure) {
  const auto at = now();
  if (auto id = cacheIdentifierForBeacon(beacon)) {
    std::lock_guard lock(cacheMutex_);
    attemptedBeaconSettingsUpdateAtForCacheIdentifier_[*id] = at;
    lastCrowdSourceUpdateAttempt_ = at;
  }
  updateSettingsInBeacon(beacon, std::move(success), std::move(status), std::move(failure));
}

void KSBeaconManagerInternal::crowdSourceUpdates(const std::vector<std::shared_ptr<KSBeacon>>& candidates) {
  for (const auto& beacon : candidates) {
    if (shouldCrowdSourceUpdateBeacon(beacon)) crowdSourceUpdateBeacon(beacon, nullptr, nullptr, nullptr);
  }
}

}  // namespace velmora::kestrine
