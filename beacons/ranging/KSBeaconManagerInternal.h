#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconSyncResult.h"
#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "beacons/ranging/KSBeaconRanger.h"
#include "beacons/ranging/KSLocationManagerClientDelegate.h"
#include "beacons/storage/KSCacheState.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSCentralManagerClient;
class KSConfigurator;
class KSInstanceProvider;
class KSLocalStoragePort;
class KSBeaconSyncRequesting;
class KSBeaconOperationFactory;
class KSBeaconOperationRef;

inline constexpr std::string_view KSNotificationLocationAuthorizationStatusDidChange =
    "KSNotificationLocationAuthorizationStatusDidChange";
inline constexpr std::string_view KSSiteManagerNotificationDidCacheSite = "KSSiteManagerNotificationDidCacheSite";
inline constexpr std::string_view KSSiteManagerNotificationDidRemoveCachedSite =
    "KSSiteManagerNotificationDidRemoveCachedSite";

// Results of cacheBeacon.
enum KSCacheBeaconResult : int {
  KSCacheBeaconResultNotCached = 0,
  KSCacheBeaconResultCachedWithoutSync = 1,
  KSCacheBeaconResultUpdatedWithSync = 2,
  KSCacheBeaconResultNewWithSync = 3,
};

// The hub of the beacon layer: starts and stops discovery (scans through the central client,
// passes through the ranger), turns every advertisement and every location-services
// sighting into the one live record of its beacon (from the cache, else the store, else
// new), feeds the ranger, and multicasts what it learns to its listeners.
//
// Sightings are matched on the serial work queue. The cache and its lookup maps change
// together under one lock, which is never held while calling out, so lookups may come from
// any thread. Listeners are called on the work queue.
class KSBeaconManagerInternal : public KSCentralManagerClientDelegate,
                                public KSLocationManagerClientDelegate,
                                public KSBeaconRangerDelegate,
                                public KSBeaconRangerCache,
                                public KSBeaconDelegate,
                                public KSDiscoveryControl,
                                public KSBeaconHubPort,
                                public std::enable_shared_from_this<KSBeaconManagerInternal> {
 public:
  static constexpr std::string_view kSingletonName = "KSBeaconManagerInternal";
  static constexpr std::string_view kWorkQueueLabel = "com.kestrine.beaconManagerInternal";

  struct Ports {
    std::shared_ptr<KSLocalStoragePort> store;             // null: the registered store, if any
    std::shared_ptr<KSBeaconSyncRequesting> sync;          // null: the registered API operation manager, if any
    std::shared_ptr<KSSessionRunningSource> session;       // null: the registry's session manager
    std::shared_ptr<KSBeaconRegionSource> regions;         // handed to the central client
    std::shared_ptr<KSBeaconOperationManaging> operations; // handed to the central client
    std::shared_ptr<KSBeaconOperationFactory> operationFactory;  // null: the registered one, if any
  };

  // The registry's hub.
  static std::shared_ptr<KSBeaconManagerInternal> sharedInternal();
  static std::shared_ptr<KSBeaconManagerInternal> sharedInternal(KSInstanceProvider& provider);
  // Makes the registry's hub with these ports on first use; it also becomes the beacons' hub port.
  static void installMaker(KSInstanceProvider& provider, Ports ports = {});
  static std::shared_ptr<KSBeaconManagerInternal> create(std::shared_ptr<KSInstanceProvider> provider,
                                                         Ports ports = {});
  ~KSBeaconManagerInternal() override;

  // Domain KSErrorDomain, code -1.
  static platform::Error errorWithDescription(std::string description);

  // --- listeners
  void addDelegate(const std::shared_ptr<KSBeaconManagerInternalDelegate>& delegate) {
    std::lock_guard lock(mutex_);
    multicast_.addDelegate(delegate, workQueue_);
  }
  void removeDelegate(const KSBeaconManagerInternalDelegate* delegate) {
    std::lock_guard lock(mutex_);
    multicast_.removeDelegate(delegate);
  }
  const KSGCDMulticastDelegate<KSBeaconManagerInternalDelegate>& multicastDelegate() const { return multicast_; }
  const std::shared_ptr<platform::dispatch::Queue>& workQueue() const { return workQueue_; }

  // --- discovery
  bool isBeaconDiscoveringEnabled() const;
  bool enableDiscoveringBeaconsWhenLocationServicesAvailable() const;
  bool isCurrentlyInSession() const;
  void setCurrentlyInSession(bool inSession);
  bool isDiscoveringBeacons() override { return isBeaconDiscoveringEnabled(); }
  void startDiscoveringBeacons() override;
  void stopDiscoveringBeacons() override;
  void cacheBeaconsForApp() override;
  bool isBluetoothPoweredOn() const;
  bool locationServicesAvailable() const;

  // --- cache lookups (any thread)
  std::vector<std::shared_ptr<KSBeacon>> allCachedBeacons() const;
  // Cached beacons passing the predicate (when given) whose access permits role 2.
  std::vector<std::shared_ptr<KSBeacon>> cachedBeaconsForRangingWithPredicate(
      const std::function<bool(const KSBeacon&)>& predicate) const;
  std::vector<std::shared_ptr<KSBeacon>> cachedBeaconsForRangingWithPredicate(
      const KSBeaconPredicate& predicate) override {
    return std::as_const(*this).cachedBeaconsForRangingWithPredicate(predicate);
  }
  std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& cacheIdentifier) override;
  std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string& address) const;
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string& iBeaconKey) override;
  // Only a 32-character UID can match.
  std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string& uid) const;
  std::shared_ptr<KSBeacon> cachedBeaconWithProximityUUIDString(const std::optional<std::string>& proximityUUIDString,
                                                                std::optional<std::uint16_t> major,
                                                                std::optional<std::uint16_t> minor) const;
  std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string& serialNumber) const;
  std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string& beaconID) const;
  std::optional<std::string> cacheIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon) const;
  std::shared_ptr<KSBeacon> cachedBeaconForBeacon(const std::shared_ptr<KSBeacon>& beacon) const;
  std::optional<std::string> cacheIdentifierForPeripheralIdentifier(const platform::Uuid& peripheral) const;
  // The state, made empty on first use; nullptr for an empty ID.
  std::shared_ptr<KSCacheState> cacheStateForBeaconID(const std::string& beaconID);
  std::shared_ptr<KSCacheState> cacheStateForSiteID(const std::string& siteID);
  std::shared_ptr<KSCacheState> cacheStateForApp() const;
  std::optional<platform::Date> lastCacheRefreshForApp() const;
  std::optional<platform::Date> lastCacheRefreshForApp() override { return std::as_const(*this).lastCacheRefreshForApp(); }

  // --- cache changes
  int cacheBeacon(const std::shared_ptr<KSBeacon>& beacon, bool multicast) {
    return cacheBeacon(beacon, false, multicast);
  }
  // A KSCacheBeaconResult. Caching never downgrades: a sighting (not from the API, not
  // synced) of a cached beacon leaves it untouched and answers NotCached.
  int cacheBeacon(const std::shared_ptr<KSBeacon>& beacon, bool fromApi, bool multicast);
  void updateBeaconToSyncStatus(const std::shared_ptr<KSBeacon>& beacon, std::int64_t syncStatus);
  void removeCachedBeacon(const std::shared_ptr<KSBeacon>& beacon);
  void removeCachedBeaconsInArray(const std::vector<std::shared_ptr<KSBeacon>>& beacons);

  // --- bounds over a long run. A beacon that is neither synced nor restored, that no beacon
  // operation of this hub is using and that has not been heard for the quiet time leaves the
  // cache (listeners hear of it as a removal); so does, beyond the cap, the longest unheard
  // such beacon outside the current pass. Synced and restored beacons stay until discovery
  // stops. Sightings sweep the cache at most once a sweep interval, and sooner when it grows
  // past the cap.
  static constexpr double kQuietTimeBeforeEvictionInSeconds = 600.0;
  static constexpr double kCurrentPassTimeInSeconds = 30.0;
  static constexpr double kEvictionSweepIntervalInSeconds = 60.0;
  static constexpr std::size_t kMaximumCachedBeacons = 4096;
  std::size_t cachedBeaconCount() const;
  // Sweeps now, on the caller's thread (the work queue, or a test's); answers how many went.
  std::size_t evictQuietBeacons();

  // --- store reads: only rows with a beacon ID count, and come back restored
  std::shared_ptr<KSBeacon> beaconFromLocalStorageForIBeaconKey(const std::string& key);
  std::shared_ptr<KSBeacon> beaconFromLocalStorageForBluetoothAddress(const std::string& address);
  std::shared_ptr<KSBeacon> beaconFromLocalStorageForEddystoneUIDString(const std::string& uid);

  // --- cloud sync: when to ask for the app's, a site's or a beacon's neighbourhood's beacons
  bool isCacheFullSyncEnabledForApp() const;
  bool isCacheFullSyncEnabledForSite() const;
  bool canCacheFullSyncForApp() const;
  bool shouldCacheFullSyncForApp() const;
  bool shouldCacheFullSyncForApp() override { return std::as_const(*this).shouldCacheFullSyncForApp(); }
  bool canCacheRefreshForApp() const;
  bool shouldCacheRefreshForApp() const { return canCacheRefreshForApp(); }
  bool canCacheFullSyncForSiteID(const std::string& siteID);
  bool shouldCacheFullSyncForSiteID(const std::string& siteID);
  bool canCacheRefreshForSiteID(const std::string& siteID) override;
  bool shouldCacheRefreshForSiteID(const std::string& siteID) override;
  // Each answers whether it asked for a sync.
  bool syncCachedBeaconsForApp();
  bool syncCachedBeaconsForSiteID(const std::string& siteID);
  bool syncCachedBeacon(const std::shared_ptr<KSBeacon>& beacon);
  // Ages the sync status of a synced or restored beacon by its network access.
  void validateSyncStatusForBeacon(const std::shared_ptr<KSBeacon>& beacon);
  // Called for every sighting: ages the beacon, then asks for the first sync that is due.
  void validateAndSyncBeacon(const std::shared_ptr<KSBeacon>& beacon);

  // Merges a sync result on the work queue, then calls the completion there.
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result, std::function<void()> completion);
  // The same, returning once merged. Called on the work queue itself it merges inline.
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& result) override;

  // --- visits and sites
  // Finds the cached beacon of an ended visit (by address, else iBeacon key) and makes it
  // rediscover its peripheral.
  void processEndedBeaconVisit(const std::optional<std::string>& proximityUUIDString,
                               std::optional<std::uint16_t> major, std::optional<std::uint16_t> minor,
                               const std::optional<std::string>& bluetoothAddress);
  template <class Visit>
  void processEndedBeaconVisit(const Visit& visit) {
    processEndedBeaconVisit(visit.proximityUUIDString(), (visit.major)(), (visit.minor)(), visit.bluetoothAddress());
  }
  std::shared_ptr<KSBeacon> cachedBeaconForBeaconVisit(const std::optional<std::string>& proximityUUIDString,
                                                       std::optional<std::uint16_t> major,
                                                       std::optional<std::uint16_t> minor,
                                                       const std::optional<std::string>& bluetoothAddress) const;
  void siteManagerExitedSiteWithSiteID(const std::string&) {}

  // --- the central client
  bool centralManagerClientShouldScanForPeripherals(KSCentralManagerClient& client) override;
  void centralManagerClientDidUpdateState(KSCentralManagerClient& client) override;
  void centralManagerClientDidDiscoverPeripheral(KSCentralManagerClient& client, const platform::Uuid& peripheral,
                                                 const platform::Value& adData, int rssi,
                                                 const std::string& scanID) override;
  // --- the location client
  void locationManagerClientDidRangeBeaconsInBeaconRegion(KSLocationManagerClient* client,
                                                          const std::vector<platform::location::Beacon>& beacons,
                                                          const std::shared_ptr<KSBeaconRegion>& region) override;
  // --- the ranger
  void beaconRangerDidRangeBeacons(KSBeaconRanger& ranger,
                                   const std::vector<std::shared_ptr<KSBeacon>>& beacons) override;
  // --- cached beacons
  Taken beaconDidUpdateMeasurements(const std::shared_ptr<KSBeacon>& beacon,
                                    const std::vector<std::shared_ptr<KSMeasurement>>& measurements) override;

  // --- beacon operations over Bluetooth. Each works on the cached beacon for the one given
  // (none when it is not cached), picks the operation by the beacon's feature bits, and
  // schedules it on the central client. Unsupported features fail at once on the caller's
  // thread; bad data-request arguments fail on the main queue; nothing is scheduled then.
  void updateFirmwareInBeacon(const std::shared_ptr<KSBeacon>& beacon, const std::string& toFirmwareVersion,
                              Success success, Status status, std::function<void(double)> progress,
                              Failure failure);
  void updateFirmwareInBeacon(const std::shared_ptr<KSBeacon>& beacon, Success success, Status status,
                              std::function<void(double)> progress, Failure failure) {
    updateFirmwareInBeacon(beacon, "latest", std::move(success), std::move(status), std::move(progress),
                           std::move(failure));
  }
  void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon, Success success, Status status,
                              Failure failure);
  // --- crowd-sourced settings updates: at most one attempt per cached beacon, and one a minute
  bool crowdSourceBeaconUpdates() const;
  bool shouldCrowdSourceUpdateBeacon(const std::shared_ptr<KSBeacon>& beacon) const;
  void crowdSourceUpdateBeacon(const std::shared_ptr<KSBeacon>& beacon, Success success, Status status,
                               Failure failure);
  void sendDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                       std::uint64_t endpoint, Success success, Status status, Failure failure) override;
  void sendDataRequests(const std::vector<platform::Bytes>& requests, const std::shared_ptr<KSBeacon>& beacon,
                        std::uint64_t endpoint, Success success, Status status, Failure failure) override;
  void transportDataRequest(const platform::Bytes& request, const std::shared_ptr<KSBeacon>& beacon,
                            std::uint64_t endpoint, Success success, Status status, Failure failure) override;
  void updateSettingsInBeacon(const std::shared_ptr<KSBeacon>& beacon, const platform::Dict& settings,
                              Success success, Status status, Failure failure) override;
  void sendOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data,
                  const std::shared_ptr<KSBeacon>& beacon, Success success, Failure failure) override;

  const std::shared_ptr<KSBeaconRanger>& beaconRanger() const { return ranger_; }
  std::shared_ptr<KSCentralManagerClient> centralManagerClient() const {
    std::lock_guard lock(centralMutex_);
    return central_;
  }

 private:
  struct Token {};

 public:
  KSBeaconManagerInternal(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports);

 private:
  struct Sighting;
  void start();
  void subscribe();
  void processAdvertisement(Sighting& s);
  void processLocationRanging(const std::vector<platform::location::Beacon>& beacons,
                              const std::shared_ptr<KSBeaconRegion>& region);
  void locationAuthorizationStatusDidChange();
  void applicationDidEnterBackground();
  void applicationDidBecomeActive();
  void sessionDidBeginOrResume();
  void sessionDidEnd();
  // The full sync at discovery start, the site notifications and the crowd-sourced
  // settings step of a pass.
  void startFullSyncForAppIfDue();
  void siteManagerDidCacheSite(const std::string& siteID);
  void siteManagerDidRemoveCachedSite(const std::string& siteID);
  void mergeSyncResult(const KSBeaconSyncResult& result);
  std::shared_ptr<KSBeaconSyncRequesting> sync() const;
  // Copies of a cache state's dates, read under cacheMutex_.
  struct CacheDates {
    std::optional<platform::Date> lastCompletedFullSync, lastCompletedRefresh, latestModifiedAt;
  };
  CacheDates appDates() const;
  CacheDates siteDates(const std::string& siteID);
  bool expired(const std::optional<platform::Date>& date, double seconds) const;
  void crowdSourceUpdates(const std::vector<std::shared_ptr<KSBeacon>>& candidates);
  std::shared_ptr<KSBeaconOperationFactory> operationFactory() const;
  // Sets the operation's blocks and schedules it; `result` turns the finished operation into
  // what the caller's success block receives.
  void schedule(const std::shared_ptr<KSBeacon>& beacon, const std::shared_ptr<KSBeaconOperationRef>& operation,
                Success success, Status status,
                std::function<void(double)> progress, Failure failure,
                std::function<platform::Value(const KSBeaconOperationRef&)> result);
  void failOnMainQueue(Failure failure, std::string message);

  std::shared_ptr<KSBeacon> cachedBeaconLocked(const std::string& cacheIdentifier) const;  // under cacheMutex_
  std::optional<std::string> cacheIdentifierForBeaconLocked(const KSBeacon& beacon) const;  // under cacheMutex_
  void mapIdentifiersLocked(const KSBeacon& beacon, const std::string& cacheIdentifier);    // under cacheMutex_
  void removeCachedBeaconLocked(const KSBeacon& beacon);                                    // under cacheMutex_
  void evictCachedBeaconLocked(const KSBeacon& beacon);                                     // under cacheMutex_
  void evictQuietBeaconsIfDue(platform::Date now);
  void noteHeard(const std::shared_ptr<KSBeacon>& beacon, platform::Date at);
  std::shared_ptr<KSBeacon> restored(std::shared_ptr<KSBeacon> fromStore);
  std::shared_ptr<KSLocalStoragePort> store() const;
  void storeBeacon(const std::shared_ptr<KSBeacon>& beacon);
  platform::Date now() const;
  template <class M, class... A>
  void multicast(M method, A&&... args) {
    multicast_.invoke(method, shared_from_this(), std::forward<A>(args)...);
  }

  // Held weakly: the registry keeps the hub, and a strong reference back would keep both
  // alive for good.
  const std::weak_ptr<KSInstanceProvider> provider_;
  const KSPlatformBundle platform_;
  const Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::NotificationCenter> center_;
  std::shared_ptr<KSConfigurator> configurator_;
  std::shared_ptr<platform::dispatch::Queue> workQueue_;
  KSGCDMulticastDelegate<KSBeaconManagerInternalDelegate> multicast_;
  std::shared_ptr<KSBeaconRanger> ranger_;
  // Set once at start, while the central's first state report may already run on another
  // thread: read through centralManagerClient().
  mutable std::mutex centralMutex_;
  std::shared_ptr<KSCentralManagerClient> central_;  // under centralMutex_
  std::vector<platform::NotificationCenter::ObserverToken> observers_;

  std::mutex mutex_;  // listener changes
  // Start, stop and their triggers run one at a time; held while calling the ranger and the
  // central client, which never call back into it (they read the flags, which need no lock).
  std::recursive_mutex discoveryMutex_;
  std::atomic<bool> discovering_{false};
  std::atomic<bool> deferredStart_{false};
  std::atomic<bool> inSession_{false};

  mutable std::mutex cacheMutex_;  // the cache, its maps and the cache states
  std::unordered_map<std::string, std::shared_ptr<KSBeacon>> beaconForCacheIdentifier_;
  std::unordered_map<std::string, std::string> cacheIdentifierForBTAddress_;
  std::unordered_map<std::string, std::string> cacheIdentifierForIBeaconKey_;
  std::unordered_map<std::string, std::string> cacheIdentifierForEddystoneUIDString_;
  std::map<platform::Uuid, std::string> cacheIdentifierForPeripheralIdentifier_;
  // The keys (upper case) each cached beacon is indexed under, so that a key its record
  // replaced (a major or minor changed by a settings update) leaves the index.
  struct IndexedKeys {
    std::string address, iBeaconKey, uid;
  };
  std::unordered_map<std::string, IndexedKeys> indexedKeysForCacheIdentifier_;
  std::unordered_map<std::string, std::shared_ptr<KSCacheState>> cacheStateForBeaconID_;
  std::unordered_map<std::string, std::shared_ptr<KSCacheState>> cacheStateForSiteID_;
  std::shared_ptr<KSCacheState> cacheStateForApp_;
  std::unordered_map<std::string, platform::Date> attemptedBeaconSettingsUpdateAtForCacheIdentifier_;
  std::optional<platform::Date> lastCrowdSourceUpdateAttempt_;
  // When each cached beacon was last sighted, and how many of this hub's beacon operations
  // use it; the eviction sweep reads both.
  std::unordered_map<std::string, platform::Date> lastHeardAtForCacheIdentifier_;
  std::unordered_map<std::string, std::size_t> operationsForCacheIdentifier_;
  std::optional<platform::Date> lastEvictionSweep_;
  std::size_t cacheSizeAtLastSweep_ = 0;
};

}  // namespace velmora::kestrine
