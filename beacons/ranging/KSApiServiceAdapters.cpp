#include "beacons/ranging/KSApiServiceAdapters.h"

#include "beacons/api/KSAccountManager.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSApp.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "beacons/storage/KSLocalStorageManager.h"

namespace velmora::kestrine {

// --- the operation manager

KSApiOperationManagerAdapter::KSApiOperationManagerAdapter(std::shared_ptr<KSApiOperationManager> manager)
    : manager_(std::move(manager)) {}

void KSApiOperationManagerAdapter::syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) {
  manager_->syncAllBeaconsForAppModifiedAfter(modifiedAfter);
}
void KSApiOperationManagerAdapter::syncBeaconsInSiteWithSiteID(const std::string& siteID,
                                                               std::optional<platform::Date> modifiedAfter) {
  manager_->syncBeaconsInSiteWithSiteID(siteID, modifiedAfter);
}
void KSApiOperationManagerAdapter::syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address) {
  manager_->syncBeaconsNearbyBeaconWithBluetoothAddress(address);
}
void KSApiOperationManagerAdapter::syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& iBeaconKey) {
  manager_->syncBeaconsNearbyBeaconWithIBeaconKey(iBeaconKey);
}
void KSApiOperationManagerAdapter::syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid) {
  manager_->syncBeaconsNearbyBeaconWithEddystoneUIDString(uid);
}
bool KSApiOperationManagerAdapter::syncBeaconRegionsWithAppToken(const std::string& appToken) {
  return manager_->syncBeaconRegionsWithAppToken(appToken);
}
void KSApiOperationManagerAdapter::syncSitesNearbyLocation(const std::optional<platform::location::Location>& location) {
  manager_->syncSitesNearbyLocation(location);
}

// --- the account manager

KSAccountManagerAdapter::KSAccountManagerAdapter(std::shared_ptr<KSAccountManager> manager)
    : manager_(std::move(manager)) {}

void KSAccountManagerAdapter::verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                                                 std::function<void(platform::Error)> failure) {
  manager_->verifyAppWithToken(token, std::move(success), std::move(failure));
}
int KSAccountManagerAdapter::appTokenStatus() { return manager_->appTokenStatus(); }
void KSAccountManagerAdapter::attemptAppRestoreAndVerifyWithToken(const std::string& token) {
  manager_->attemptAppRestoreAndVerifyWithToken(token);
}
std::shared_ptr<KSApp> KSAccountManagerAdapter::verifiedApp() { return manager_->verifiedApp(); }

// --- region rows

KSBeaconRegionStoreAdapter::KSBeaconRegionStoreAdapter(std::shared_ptr<KSLocalStorageManager> store)
    : store_(std::move(store)) {}

void KSBeaconRegionStoreAdapter::storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) {
  store_->storeBeaconRegion(region);
}

// --- the hub

KSHubBeaconCacheAdapter::KSHubBeaconCacheAdapter(std::shared_ptr<KSBeaconManagerInternal> hub) : hub_(std::move(hub)) {}

void KSHubBeaconCacheAdapter::cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) {
  hub_->cacheBeaconsFromSyncResult(result);
}
bool KSHubBeaconCacheAdapter::canCacheRefreshForApp() { return hub_->canCacheRefreshForApp(); }
bool KSHubBeaconCacheAdapter::canCacheFullSyncForApp() { return hub_->canCacheFullSyncForApp(); }
bool KSHubBeaconCacheAdapter::canCacheRefreshForSiteID(const std::string& siteID) {
  return hub_->canCacheRefreshForSiteID(siteID);
}
bool KSHubBeaconCacheAdapter::canCacheFullSyncForSiteID(const std::string& siteID) {
  return hub_->canCacheFullSyncForSiteID(siteID);
}
std::shared_ptr<KSBeacon> KSHubBeaconCacheAdapter::cachedBeaconWithSerialNumber(const std::string& serialNumber) {
  return hub_->cachedBeaconWithSerialNumber(serialNumber);
}
std::shared_ptr<KSBeacon> KSHubBeaconCacheAdapter::cachedBeaconWithBluetoothAddress(const std::string& address) {
  return hub_->cachedBeaconWithBluetoothAddress(address);
}
std::shared_ptr<KSBeacon> KSHubBeaconCacheAdapter::cachedBeaconWithBeaconID(const std::string& beaconID) {
  return hub_->cachedBeaconWithBeaconID(beaconID);
}
std::shared_ptr<KSBeacon> KSHubBeaconCacheAdapter::cachedBeaconWithIBeaconKey(const std::string& key) {
  return hub_->cachedBeaconWithIBeaconKey(key);
}
std::shared_ptr<KSBeacon> KSHubBeaconCacheAdapter::cachedBeaconWithEddystoneUIDString(const std::string& uid) {
  return hub_->cachedBeaconWithEddystoneUIDString(uid);
}

// --- the region manager

KSRegionCacheAdapter::KSRegionCacheAdapter(std::shared_ptr<KSBeaconRegionManager> regions)
    : regions_(std::move(regions)) {}

void KSRegionCacheAdapter::cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& result) {
  regions_->cacheBeaconRegionsFromSyncResult(result);
}

// --- the SDK entry

KSSDKEntryAdapter::KSSDKEntryAdapter(std::weak_ptr<KSInstanceProvider> provider) : provider_(std::move(provider)) {}

int KSSDKEntryAdapter::appTokenVerificationStatus() {
  auto p = provider_.lock();
  return p ? KestrineSDK::appTokenVerificationStatus(*p) : 0;
}

bool KSSDKEntryAdapter::isUsingApi() {
  auto p = provider_.lock();
  if (!p || !p->hasSingleton(KSConfigurator::kSingletonName)) return false;
  auto configurator = p->singleton<KSConfigurator>(KSConfigurator::kSingletonName, nullptr);
  return configurator && configurator->isUsingApi();
}

void KSSDKEntryAdapter::stopRunning() {
  if (auto p = provider_.lock()) KestrineSDK::stopRunning(*p);
}

// --- the store

KSStoreAdapter::KSStoreAdapter(std::shared_ptr<KSLocalStorageManager> store) : store_(std::move(store)) {}

void KSStoreAdapter::saveContext() { store_->saveContext(); }
void KSStoreAdapter::updateEventPostedAt(const std::string& eventID, platform::Date postedAt) {
  store_->updateEvent(eventID, postedAt);
}

// --- the registry's ports

namespace {

template <class T>
std::shared_ptr<T> madeOnly(const std::weak_ptr<KSInstanceProvider>& weak, std::string_view name) {
  auto p = weak.lock();
  if (!p || !p->hasSingleton(name)) return nullptr;
  return p->singleton<T>(name, nullptr);
}

}  // namespace

KSApiOperationManagerPorts KSApiOperationManagerPortsForRegistry(std::weak_ptr<KSInstanceProvider> provider) {
  KSApiOperationManagerPorts ports;
  ports.beaconCache = [provider]() -> std::shared_ptr<KSApiBeaconCachePort> {
    auto hub = madeOnly<KSBeaconManagerInternal>(provider, KSBeaconManagerInternal::kSingletonName);
    return hub ? std::make_shared<KSHubBeaconCacheAdapter>(hub) : nullptr;
  };
  ports.siteCache = [provider]() -> std::shared_ptr<KSApiSiteCachePort> {
    // Made on first use when a maker is installed for it.
    auto p = provider.lock();
    if (!p || !(p->hasSingleton(KSApiSiteCacheSingletonName) || p->hasMaker(KSApiSiteCacheSingletonName))) return nullptr;
    return p->singleton<KSApiSiteCachePort>(KSApiSiteCacheSingletonName, nullptr);
  };
  ports.regionCache = [provider]() -> std::shared_ptr<KSApiRegionCachePort> {
    auto regions = madeOnly<KSBeaconRegionManager>(provider, KSBeaconRegionManager::kSingletonName);
    return regions ? std::make_shared<KSRegionCacheAdapter>(regions) : nullptr;
  };
  ports.sdk = [provider]() -> std::shared_ptr<KSApiSDKPort> { return std::make_shared<KSSDKEntryAdapter>(provider); };
  ports.store = [provider]() -> std::shared_ptr<KSApiStorePort> {
    auto p = provider.lock();
    return p ? std::make_shared<KSStoreAdapter>(KSLocalStorageManager::sharedManager(*p)) : nullptr;
  };
  return ports;
}

}  // namespace velmora::kestrine
