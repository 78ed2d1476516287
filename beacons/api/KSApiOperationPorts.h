#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "beacons/model/KSBeaconRegionSyncResult.h"
#include "beacons/model/KSBeaconSyncResult.h"
#include "beacons/model/KSSiteSyncResult.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;
class KSSite;

// What the cloud synchronisation asks of the objects above it. Each owner implements its
// port; the operation manager finds them through KSApiOperationManagerPorts at the moment of
// use, so objects made after it are found, and a missing one is skipped.

// The internal beacon manager: its cache of beacons and its refresh rules.
class KSApiBeaconCachePort {
 public:
  virtual ~KSApiBeaconCachePort() = default;
  virtual void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) = 0;
  virtual bool canCacheRefreshForApp() = 0;
  virtual bool canCacheFullSyncForApp() = 0;
  virtual bool canCacheRefreshForSiteID(const std::string& siteID) = 0;
  virtual bool canCacheFullSyncForSiteID(const std::string& siteID) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string& serialNumber) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string& address) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string& beaconID) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string& key) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string& uid) = 0;
};

// The internal site manager: its cache of sites.
class KSApiSiteCachePort {
 public:
  virtual ~KSApiSiteCachePort() = default;
  virtual void cacheSitesFromSyncResult(const KSSiteSyncResult& result) = 0;
  virtual std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) = 0;
  virtual bool hasCacheExpiredForSiteWithID(const std::string& siteID) = 0;
  virtual bool hasCacheExpiredForSitesForApp() = 0;
  // One site created or deleted through the record calls.
  virtual void cacheSite(const std::shared_ptr<KSSite>& /*site*/, bool /*multicast*/) {}
  virtual void removeCachedSite(const std::shared_ptr<KSSite>& /*site*/) {}
};

// The beacon-region manager.
class KSApiRegionCachePort {
 public:
  virtual ~KSApiRegionCachePort() = default;
  virtual void cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& result) = 0;
};

// The SDK entry and its configurator.
class KSApiSDKPort {
 public:
  virtual ~KSApiSDKPort() = default;
  // KSAppTokenStatus of the configured token (0 without one).
  virtual int appTokenVerificationStatus() = 0;
  virtual bool isUsingApi() = 0;
  virtual void stopRunning() = 0;
};

// The local storage manager: what marking posted records needs.
class KSApiStorePort {
 public:
  virtual ~KSApiStorePort() = default;
  virtual void saveContext() = 0;
  virtual void updateEventPostedAt(const std::string& eventID, platform::Date postedAt) = 0;
};

struct KSApiOperationManagerPorts {
  std::function<std::shared_ptr<KSApiBeaconCachePort>()> beaconCache;
  std::function<std::shared_ptr<KSApiSiteCachePort>()> siteCache;
  std::function<std::shared_ptr<KSApiRegionCachePort>()> regionCache;
  std::function<std::shared_ptr<KSApiSDKPort>()> sdk;
  std::function<std::shared_ptr<KSApiStorePort>()> store;
};

}  // namespace velmora::kestrine
