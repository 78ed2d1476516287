#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/model/KSBeaconRegionSyncResult.h"
#include "beacons/ranging/KSBeaconRegionCaching.h"
#include "platform/core/Date.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSApiOperationManaging;
class KSBeaconRegion;
class KSBeaconRegionManager;
class KSConfigurator;
class KSInstanceProvider;
class KSUserDefaultsManager;

inline constexpr std::string_view KSBeaconRegionIdentifier = "com.kestrine.beaconRegion1";
inline constexpr std::string_view KSBeaconRegionManagerNotificationDidCacheBeaconRegion =
    "KSBeaconRegionManagerNotificationDidCacheBeaconRegion";
// The words stand in another order than in the constant's name; observers compare the text.
inline constexpr std::string_view KSBeaconRegionManagerNotificationDidRemoveCachedBeaconRegion =
    "KSBeaconRegionNotificationManagerDidRemoveCachedBeaconRegion";
inline constexpr std::string_view KSBeaconRegionManagerNotificationRegionIdentifierItem =
    "KSBeaconRegionManagerNotificationRegionIdentifierItem";

// What the region manager tells its listeners after a change, in this order. All optional;
// each is delivered on the manager's delegate queue.
class KSBeaconRegionManagerDelegate {
 public:
  using Manager = std::shared_ptr<KSBeaconRegionManager>;
  using Regions = std::vector<std::shared_ptr<KSBeaconRegion>>;
  virtual ~KSBeaconRegionManagerDelegate() = default;
  virtual void beaconRegionManagerDidCacheBeaconRegions(Manager, Regions) {}
  virtual void beaconRegionManagerDidRemoveCachedBeaconRegions(Manager, Regions) {}
  virtual void beaconRegionManagerDidChangeBeaconRegionCache(Manager) {}
};

// The beacon regions the SDK monitors and ranges, by identifier: loaded from the user
// defaults, synchronised from the cloud (the app's regions), extended and reduced by the
// host app through the public facade, and written back to the user defaults.
//
// A region sync is asked for only while the token is verified, not before the next-attempt
// time (300 s after an accepted request, a day after a result), and, once regions are
// cached, only while Bluetooth is on and location use is authorised. Regions the host app
// added survive every sync.
//
// The cache sits under one lock; the proximity UUIDs and namespaces the central client reads
// for every advertisement are a snapshot rebuilt at each change. Listeners are called on the
// serial delegate queue. Thread-safe.
class KSBeaconRegionManager : public KSBeaconRegionCaching,
                              public KSRegionCaching,
                              public KSBeaconRegionSource,
                              public std::enable_shared_from_this<KSBeaconRegionManager> {
 public:
  static constexpr std::string_view kSingletonName = "KSBeaconRegionManager";
  static constexpr std::string_view kDelegateQueueLabel = "com.kestrine.beaconRegionManager";
  using Regions = std::vector<std::shared_ptr<KSBeaconRegion>>;

  // What the due test reads of the SDK, and the API it asks. Empty functions take the
  // SDK's own answers on this registry.
  struct Ports {
    std::function<int()> appTokenVerificationStatus;
    std::function<bool()> isBluetoothEnabled;
    std::function<bool()> isLocationAuthorized;
    std::function<std::shared_ptr<KSApiOperationManaging>()> api;
  };

  static std::shared_ptr<KSBeaconRegionManager> sharedManager();
  static std::shared_ptr<KSBeaconRegionManager> sharedManager(KSInstanceProvider& provider);
  // Makes the registry's manager with these ports on first use; it is also the registry's
  // region cache of the public facade.
  static void installMaker(KSInstanceProvider& provider, Ports ports = {});
  static std::shared_ptr<KSBeaconRegionManager> create(std::shared_ptr<KSInstanceProvider> provider,
                                                       Ports ports = {});
  ~KSBeaconRegionManager() override;

  void addDelegate(const std::shared_ptr<KSBeaconRegionManagerDelegate>& delegate) {
    multicast_.addDelegate(delegate, delegateQueue_);
  }
  void removeDelegate(const KSBeaconRegionManagerDelegate* delegate) { multicast_.removeDelegate(delegate); }

  // --- syncs
  bool shouldRetryCacheRegion();
  void cacheBeaconRegions() override;
  void forceSyncBeaconRegions();
  void cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& syncResult);
  std::optional<platform::Date> regionCacheNextAttempt() const;

  // --- the cache
  // Each of these first asks for a sync when one is due.
  Regions allCachedBeaconRegions() override;
  std::shared_ptr<KSBeaconRegion> cachedBeaconRegionWithRegionIdentifier(const std::string& identifier);
  // Found regions in the given order; missing ones are left out.
  Regions cachedBeaconRegionsWithRegionIdentifiers(const std::vector<std::string>& identifiers);
  // Caller errors (no region, no valid UUID or no identifier) are reported and cache nothing.
  void cacheBeaconRegion(std::shared_ptr<KSBeaconRegion> region, bool multicastAndUpdateStore) override;
  void removeCachedBeaconRegion(std::shared_ptr<KSBeaconRegion> region, bool multicastAndUpdateStore) override;
  void forceDelegateToRefreshCachedBeaconRegions();

  // --- what the central client reads: a snapshot of the cache, no sync asked for
  std::vector<std::string> cachedProximityUUIDStrings() override;
  std::vector<std::string> cachedNamespaceIDs() override;
  std::uint64_t changeCount() override { return changeCount_.load(); }

 private:
  struct Token {};

 public:
  KSBeaconRegionManager(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports);

 private:
  void start();
  void storeCache();
  void cacheChangedLocked();  // rebuilds the snapshots; under mutex_
  void post(std::string_view name, const std::string& identifier);
  platform::Date now() const;
  std::shared_ptr<KSConfigurator> configurator() const;
  std::shared_ptr<KSApiOperationManaging> api() const;
  template <class M, class... A>
  void multicast(M method, A&&... args) {
    multicast_.invoke(method, shared_from_this(), std::forward<A>(args)...);
  }

  const std::weak_ptr<KSInstanceProvider> provider_;
  Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::NotificationCenter> center_;
  std::weak_ptr<KSUserDefaultsManager> userDefaults_;
  std::weak_ptr<KSConfigurator> configurator_;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue_;
  KSGCDMulticastDelegate<KSBeaconRegionManagerDelegate> multicast_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;

  mutable std::mutex mutex_;  // the cache, its snapshots and the next attempt
  std::map<std::string, std::shared_ptr<KSBeaconRegion>> beaconRegionForRegionIdentifier_;
  std::vector<std::string> proximityUUIDStrings_;
  std::vector<std::string> namespaceIDs_;
  std::optional<platform::Date> regionCacheNextAttempt_;
  std::atomic<std::uint64_t> changeCount_{0};
};

}  // namespace velmora::kestrine
