#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/api/KSApiOperationPorts.h"
#include "beacons/ranging/KSRangingServicePorts.h"

namespace velmora::kestrine {

class KSAccountManager;
class KSApiOperationManager;
class KSBeaconManagerInternal;
class KSBeaconRegionManager;
class KSInstanceProvider;
class KSLocalStorageManager;

// The bindings between ranging and the layers below it. The cloud API and the store know
// nothing of ranging: ranging reaches them through the service ports it defines
// (KSRangingServicePorts.h), and they reach the hub, the region manager and the SDK entry
// through the consumer ports the API defines (KSApiOperationPorts.h). Each adapter here
// forwards one port to one real object and holds no state of its own.

// --- ranging's services over the real objects

class KSApiOperationManagerAdapter : public KSApiOperationManaging {
 public:
  explicit KSApiOperationManagerAdapter(std::shared_ptr<KSApiOperationManager> manager);
  const std::shared_ptr<KSApiOperationManager>& manager() const { return manager_; }

  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) override;
  void syncBeaconsInSiteWithSiteID(const std::string& siteID, std::optional<platform::Date> modifiedAfter) override;
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& address) override;
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& iBeaconKey) override;
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& uid) override;
  bool syncBeaconRegionsWithAppToken(const std::string& appToken) override;
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>& location) override;

 private:
  const std::shared_ptr<KSApiOperationManager> manager_;
};

class KSAccountManagerAdapter : public KSAccountManaging {
 public:
  explicit KSAccountManagerAdapter(std::shared_ptr<KSAccountManager> manager);
  const std::shared_ptr<KSAccountManager>& manager() const { return manager_; }

  void verifyAppWithToken(const std::string& token, std::function<void(App)> success,
                          std::function<void(platform::Error)> failure) override;
  int appTokenStatus() override;
  void attemptAppRestoreAndVerifyWithToken(const std::string& token) override;
  std::shared_ptr<KSApp> verifiedApp() override;

 private:
  const std::shared_ptr<KSAccountManager> manager_;
};

// Regions the location client starts monitoring go to the local store.
class KSBeaconRegionStoreAdapter : public KSBeaconRegionStoring {
 public:
  explicit KSBeaconRegionStoreAdapter(std::shared_ptr<KSLocalStorageManager> store);
  void storeBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) override;

 private:
  const std::shared_ptr<KSLocalStorageManager> store_;
};

// --- the API's consumers over ranging and the store

class KSHubBeaconCacheAdapter : public KSApiBeaconCachePort {
 public:
  explicit KSHubBeaconCacheAdapter(std::shared_ptr<KSBeaconManagerInternal> hub);
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) override;
  bool canCacheRefreshForApp() override;
  bool canCacheFullSyncForApp() override;
  bool canCacheRefreshForSiteID(const std::string& siteID) override;
  bool canCacheFullSyncForSiteID(const std::string& siteID) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string& serialNumber) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string& address) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string& beaconID) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string& key) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string& uid) override;

 private:
  const std::shared_ptr<KSBeaconManagerInternal> hub_;
};

class KSRegionCacheAdapter : public KSApiRegionCachePort {
 public:
  explicit KSRegionCacheAdapter(std::shared_ptr<KSBeaconRegionManager> regions);
  void cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& result) override;

 private:
  const std::shared_ptr<KSBeaconRegionManager> regions_;
};

// The SDK entry as the API sees it, on one registry.
class KSSDKEntryAdapter : public KSApiSDKPort {
 public:
  explicit KSSDKEntryAdapter(std::weak_ptr<KSInstanceProvider> provider);
  int appTokenVerificationStatus() override;
  bool isUsingApi() override;
  void stopRunning() override;

 private:
  const std::weak_ptr<KSInstanceProvider> provider_;
};

class KSStoreAdapter : public KSApiStorePort {
 public:
  explicit KSStoreAdapter(std::shared_ptr<KSLocalStorageManager> store);
  void saveContext() override;
  void updateEventPostedAt(const std::string& eventID, platform::Date postedAt) override;

 private:
  const std::shared_ptr<KSLocalStorageManager> store_;
};

// The API operation manager's consumer ports on a registry: each is looked up when the
// manager asks, and only among the singletons already made (a sync result never makes the
// hub). The site cache is whatever is registered under KSApiSiteCacheSingletonName, made on
// first use by its maker.
inline constexpr std::string_view KSApiSiteCacheSingletonName = "KSApiSiteCachePort";
KSApiOperationManagerPorts KSApiOperationManagerPortsForRegistry(std::weak_ptr<KSInstanceProvider> provider);

}  // namespace velmora::kestrine
