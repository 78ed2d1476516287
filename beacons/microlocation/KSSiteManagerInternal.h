#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/api/KSApiOperationPorts.h"
#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/microlocation/KSSiteActivityMonitor.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSSiteSyncResult.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "beacons/ranging/KSSiteManagerInternalDelegate.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/location/Location.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSInstanceProvider;

// The other notification names and the siteID key come with their listeners: cache and
// removal with the hub, enter, exit and the key with the central client's ports.
inline constexpr std::string_view KSSiteManagerDidUpdateNearbySites = "KSSiteManagerDidUpdateNearbySites";

// Bits of a cache result: the site went into the cache (or was refreshed without the synced
// status), and the site now carries the synced status.
enum KSSiteCacheResult : int {
  KSSiteCacheResultNone = 0,
  KSSiteCacheResultCached = 1,
  KSSiteCacheResultSynced = 2,
  KSSiteCacheResultCachedAndSynced = 3,
};

// The site requests of the cloud sync.
class KSSiteSyncRequesting {
 public:
  virtual ~KSSiteSyncRequesting() = default;
  virtual void syncAllSitesForAppModifiedAfter(std::optional<platform::Date> modifiedAfter) = 0;
  virtual void syncSiteWithSiteID(const std::string& siteID) = 0;
};

// The site rows of the local store. fetchSiteForSiteID answers before it returns.
class KSSiteStorePort {
 public:
  virtual ~KSSiteStorePort() = default;
  virtual void storeSite(const std::shared_ptr<KSSite>& site) = 0;
  virtual std::shared_ptr<KSSite> fetchSiteForSiteID(const std::string& siteID) = 0;
  virtual void saveContext() = 0;
};

// The copy of a fetched site's server fields into a cached one; the sync state, cachedAt and
// the record's own caches stay.
void copyApiPropertiesFromSite(KSSite& site, const KSSite& fetched);

// The site engine of the beacon layer: the cache of sites (filled from the beacons the hub
// caches, from the cloud's site syncs and from the store), the rules for fetching a site
// again, and the enter and exit of sites from the hub's ranging passes. Keeps one activity
// record per site seen in range or asked about, and tells its subscribers on its serial
// queue "com.kestrine.siteManagerInternal", each message in send order, and the default
// notification centre.
//
// The cache and the records live in two maps under one lock that is never held while
// calling out (subscribers, store, sync requests, notifications). Passes are handled in the
// order of their groups' first appearance; the exit rule walks the records by siteID.
// Caching never downgrades: a sighting that is not from the API and not synced leaves a
// cached site untouched.
class KSSiteManagerInternal : public KSBeaconManagerInternalDelegate,
                              public KSSiteManagerSubscription,
                              public KSApiSiteCachePort,
                              public std::enable_shared_from_this<KSSiteManagerInternal> {
 public:
  static constexpr std::string_view kSingletonName = "KSSiteManagerInternal";
  static constexpr std::string_view kDelegateQueueLabel = "com.kestrine.siteManagerInternal";
  static constexpr double kExitAfterSeconds = 5.0;
  static constexpr double kStaleSiteAfterSeconds = 432000.0;  // 5 days

  using Sites = std::vector<std::shared_ptr<KSSite>>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using BeaconsForSiteID = std::map<std::string, Beacons>;

  struct Settings {
    std::function<double()> cacheRefreshTimeInterval;  // none: 3600
    std::function<bool()> cacheAllBeaconsForApp;        // none: false
    std::function<bool()> discoverBeaconsNearby;        // none: true
  };
  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the shared one
    std::shared_ptr<platform::NotificationCenter> center;      // none: no notifications
    const void* application = nullptr;  // the sender of did-enter-background
    std::function<std::shared_ptr<KSSiteSyncRequesting>()> sync;
    std::function<std::shared_ptr<KSSiteStorePort>()> store;
    std::function<std::optional<platform::location::Location>()> location;
    std::function<void(const std::string&)> exitedSite;  // the hub's hook
    Settings settings;
  };

  // The registry's site manager, made with the registry's hub (which it subscribes to),
  // configurator, location services and, when registered, the API operation manager.
  static std::shared_ptr<KSSiteManagerInternal> sharedInternal(KSInstanceProvider& provider);
  // Makes the registry's site manager with these ports (filled from the registry where
  // empty); it is also found as the site-manager subscription.
  static void installMaker(KSInstanceProvider& provider) { installMaker(provider, Ports()); }
  static void installMaker(KSInstanceProvider& provider, Ports ports);
  // As above; `onMade` runs with the new manager right after it is made (under the making
  // lock: it may install makers, not make singletons).
  using MadeHook = std::function<void(KSInstanceProvider&, const std::shared_ptr<KSSiteManagerInternal>&)>;
  static void installMaker(KSInstanceProvider& provider, Ports ports, MadeHook onMade);
  static std::shared_ptr<KSSiteManagerInternal> create(Ports ports);
  ~KSSiteManagerInternal() override;

  // --- subscribers
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> delegate) override {
    std::lock_guard lock(delegateMutex_);
    multicast_.addDelegate(delegate, delegateQueue_);
  }
  void removeDelegate(const KSSiteManagerInternalDelegate* delegate) override {
    std::lock_guard lock(delegateMutex_);
    multicast_.removeDelegate(delegate);
  }
  const std::shared_ptr<platform::dispatch::Queue>& delegateQueue() const { return delegateQueue_; }
  // Registrations, with those of subscribers destroyed without removing themselves.
  std::size_t delegateCount() const {
    std::lock_guard lock(delegateMutex_);
    return multicast_.count();
  }

  // --- the cache
  Sites allCachedSites() const;
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& siteID) override;
  Sites cachedSitesWithSiteIDs(const std::vector<std::string>& siteIDs) const;
  void removeCachedSite(const std::shared_ptr<KSSite>& site) override;
  bool hasCacheExpiredForSiteWithID(const std::string& siteID) override;
  bool shouldCacheAllSitesForApp() const;
  bool hasCacheExpiredForSitesForApp() override;
  // A KSSiteCacheResult.
  int cacheSite(const std::shared_ptr<KSSite>& site, bool fromApi, bool multicast);
  void cacheSite(const std::shared_ptr<KSSite>& site, bool multicast) override { (void)cacheSite(site, false, multicast); }
  void syncSite(const std::shared_ptr<KSSite>& site);
  void cacheSitesFromBeacons(const Beacons& beacons);
  void cacheSitesFromSyncResult(const KSSiteSyncResult& result) override;
  void updateSiteToSyncStatus(const std::shared_ptr<KSSite>& site, std::int64_t syncStatus);
  std::shared_ptr<KSSite> siteFromLocalStorageForSiteID(const std::string& siteID);
  std::optional<platform::Date> lastCacheRefreshForAllSitesForApp() const;
  std::optional<platform::Date> latestCachedSiteModifiedAtForApp() const;
  void updateLastRefreshedSiteCacheForApp();
  void clearLastRefreshedSiteCacheForApp();

  // --- activity records
  std::shared_ptr<KSSiteActivityMonitor> siteActivityMonitorWithSite(const std::shared_ptr<KSSite>& site);
  // The record when there is one (none is made).
  std::shared_ptr<KSSiteActivityMonitor> existingSiteActivityMonitorForSiteID(const std::string& siteID) const;
  void removeSiteActivityMonitorWithSite(const std::shared_ptr<KSSite>& site);
  std::vector<std::string> monitoredSiteIDs() const;
  std::vector<std::string> rangedSiteIDs() const;
  // Groups in the beacons' order; "" for beacons without a siteID.
  static BeaconsForSiteID beaconsForSiteIDFromArray(const Beacons& beacons);
  void exitSite(const std::shared_ptr<KSSite>& site);
  void determineStateChangeToOutsideForAllMonitoredSites();

  // Cached sites within the distance of the device, nearest first, behind the synced sites
  // the device is inside (the last one inserted in front).
  Sites nearbySitesUsingDistanceFilter(double distance);
  void requestStateForSite(std::shared_ptr<KSSite> site) override;

  // --- the hub
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidCacheBeacons(Hub, Beacons beacons) override { cacheSitesFromBeacons(beacons); }
  void beaconManagerInternalDidSyncBeacons(Hub, Beacons beacons) override { cacheSitesFromBeacons(beacons); }
  void beaconManagerInternalDidStopDiscoveringBeacons(Hub) override;

  // --- the app
  void applicationDidEnterBackground() {}
  void applicationDidBecomeActive();

 private:
  struct Token {};

 public:
  KSSiteManagerInternal(Token, Ports ports);

 private:
  void subscribe();
  platform::Date now() const;
  double refreshInterval() const;
  std::shared_ptr<KSSiteSyncRequesting> sync() const;
  std::shared_ptr<KSSiteStorePort> store() const;
  void post(std::string_view name, const std::string& siteID);
  template <class M, class... A>
  void multicast(M method, A&&... args) {
    multicast_.invoke(method, std::forward<A>(args)...);
  }

  Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<const platform::Clock> clock_;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;

  mutable std::mutex delegateMutex_;
  KSGCDMulticastDelegate<KSSiteManagerInternalDelegate> multicast_;

  mutable std::mutex mutex_;  // the two maps and the app-wide dates
  std::map<std::string, std::shared_ptr<KSSite>> siteForSiteID_;
  std::map<std::string, std::shared_ptr<KSSiteActivityMonitor>> siteActivityMonitorForSiteID_;
  std::optional<platform::Date> lastCacheRefreshForAllSitesForApp_;
  std::optional<platform::Date> latestCachedSiteModifiedAtForApp_;
};

}  // namespace velmora::kestrine
