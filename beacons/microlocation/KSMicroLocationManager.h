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

#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/microlocation/KSSiteActivityMonitor.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/ranging/KSSiteManagerInternalDelegate.h"
#include "platform/core/Error.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/location/LocationManager.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {

class KSInstanceProvider;
class KSMicroLocationManager;
class KSSite;
class KSSiteManagerInternal;

inline constexpr std::string_view KSMicroLocationManagerDidEnterSite = "KSMicroLocationManagerDidEnterSite";
inline constexpr std::string_view KSMicroLocationManagerDidExitSite = "KSMicroLocationManagerDidExitSite";
inline constexpr std::string_view KSMicroLocationManagerDidUpdateNearbySites = "KSMicroLocationManagerDidUpdateNearbySites";
inline constexpr std::string_view KSMicroLocationManagerDidUpdateMicroLocationServicesAvailibility =
    "KSMicroLocationManagerDidUpdateMicroLocationServicesAvailibility";
inline constexpr std::string_view KSMicroLocationManagerNotificationSiteItem = "KSMicroLocationManagerNotificationSiteItem";
inline constexpr std::string_view KSMicroLocationManagerNotificationNewLocationItem =
    "KSMicroLocationManagerNotificationNewLocationItem";

// What the micro-location manager tells the host. Every method is optional. The failure
// methods are part of the protocol but never called.
class KSMicroLocationManagerDelegate {
 public:
  using Sites = std::vector<std::shared_ptr<KSSite>>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using MicroLocations = std::vector<std::shared_ptr<KSMicroLocation>>;
  using SerialNumbers = std::vector<std::string>;

  virtual ~KSMicroLocationManagerDelegate() = default;
  virtual void microLocationManagerDidFailWithError(KSMicroLocationManager*, platform::Error) {}
  virtual void microLocationManagerDidUpdateNearbySites(KSMicroLocationManager*, Sites) {}
  virtual void microLocationManagerDidStartMonitoringForSite(KSMicroLocationManager*, std::shared_ptr<KSSite>) {}
  virtual void microLocationManagerMonitoringDidFailForSiteWithError(KSMicroLocationManager*, std::shared_ptr<KSSite>,
                                                                    platform::Error) {}
  virtual void microLocationManagerDidDetermineStateForSite(KSMicroLocationManager*, std::uint64_t /*state*/,
                                                            std::shared_ptr<KSSite>) {}
  virtual void microLocationManagerDidEnterSite(KSMicroLocationManager*, std::shared_ptr<KSSite>) {}
  virtual void microLocationManagerDidExitSite(KSMicroLocationManager*, std::shared_ptr<KSSite>) {}
  virtual void microLocationManagerRangingBeaconsDidFailForSiteWithError(KSMicroLocationManager*,
                                                                        std::shared_ptr<KSSite>, platform::Error) {}
  // The site is null when the pass listed none with the group's id.
  virtual void microLocationManagerDidRangeBeaconsInSite(KSMicroLocationManager*, Beacons, std::shared_ptr<KSSite>) {}
  // One or two snapshots, oldest first.
  virtual void microLocationManagerDidUpdateMicroLocations(KSMicroLocationManager*, MicroLocations) {}
  virtual void microLocationManagerDidUpdateMicroLocationServicesAvailibility(KSMicroLocationManager*, bool) {}
  virtual void microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers) {}
  virtual void microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*, SerialNumbers) {}
};

// The host's entry to sites: monitoring and ranging them, micro-location snapshots, nearby
// sites and beacon visits, all from the site manager's and the visit tracker's messages,
// turned into calls on the host's delegate on the delegate queue it chose (the main queue
// by default; did-start-monitoring always goes to the main queue). The delegate is held
// weakly.
//
// One lock guards the activity records' transitions, the snapshot, the nearby set and the
// flags. Delegate calls are queued while it is held, so they keep the order of the changes
// that caused them; notifications are posted after it is released, on the thread that did
// the work; no host code runs under it.
class KSMicroLocationManager : public KSSiteManagerInternalDelegate,
                               public KSVisitTrackerDelegate,
                               public std::enable_shared_from_this<KSMicroLocationManager> {
 public:
  using Sites = std::vector<std::shared_ptr<KSSite>>;
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using MicroLocations = std::vector<std::shared_ptr<KSMicroLocation>>;
  using Records = std::vector<std::shared_ptr<KSSiteActivityMonitor>>;

  struct Ports {
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;  // none: the shared one
    std::shared_ptr<platform::NotificationCenter> center;      // none: no notifications
    std::shared_ptr<KSSiteManagerInternal> siteManager;
    std::shared_ptr<KSVisitTracker> visitTracker;
    std::shared_ptr<platform::dispatch::Queue> delegateQueue;  // none: the main queue
  };

  // The process's manager, made on first use over the shared registry's site manager and
  // visit tracker; setSharedManager replaces it.
  static std::shared_ptr<KSMicroLocationManager> sharedManager();
  static void setSharedManager(std::shared_ptr<KSMicroLocationManager> manager);
  // A manager over the registry's site manager and visit tracker.
  static std::shared_ptr<KSMicroLocationManager> create(KSInstanceProvider& provider,
                                                        std::shared_ptr<platform::dispatch::Queue> delegateQueue = nullptr);
  // Subscribes to the site manager and the visit tracker given.
  static std::shared_ptr<KSMicroLocationManager> create(Ports ports);
  ~KSMicroLocationManager() override;

  static platform::Error errorWithDescription(std::string_view description);

  // --- availability, from the location services of the registry
  static bool locationServicesEnabled(KSInstanceProvider& provider);
  static platform::location::AuthorizationStatus authorizationStatus(KSInstanceProvider& provider);
  static bool isAuthorized(KSInstanceProvider& provider);
  static bool isSiteMonitoringAvailable(KSInstanceProvider& provider);
  static bool isBeaconRangingAvailable(KSInstanceProvider& provider);
  static bool isMicroLocationUpdatingAvailable(KSInstanceProvider& provider);

  // --- delegate
  // Held weakly.
  void setDelegate(const std::shared_ptr<KSMicroLocationManagerDelegate>& delegate);
  std::shared_ptr<KSMicroLocationManagerDelegate> delegate() const;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue() const;

  // --- options
  bool updateMicroLocationOnlyOnProximityChanges() const;
  void setUpdateMicroLocationOnlyOnProximityChanges(bool on);
  bool isUpdatingMicroLocationEnabled() const;
  double distanceFilter() const;
  // Stores the radius, then checks the nearby sites on the main queue.
  void setDistanceFilter(double metres);
  // The last snapshot sent (none before the first and after a stop).
  std::shared_ptr<KSMicroLocation> microLocation() const;

  // --- sites
  Sites nearbySites();
  void startMonitoringSite(const std::shared_ptr<KSSite>& site);
  void stopMonitoringSite(const std::shared_ptr<KSSite>& site);
  // Only the cached ones among the monitored sites are stopped.
  void stopMonitoringAllSites();
  bool isMonitoringSite(const std::shared_ptr<KSSite>& site);
  void startRangingBeaconsInSite(const std::shared_ptr<KSSite>& site);
  void stopRangingBeaconsInSite(const std::shared_ptr<KSSite>& site);
  // The cached sites whose records monitor (or range), by siteID.
  Sites monitoredSites();
  Sites rangedSites();
  // Answers the record's state on the delegate queue; the site manager is not asked.
  void requestStateForSite(const std::shared_ptr<KSSite>& site);

  // --- snapshots
  void startUpdatingMicroLocation();
  void stopUpdatingMicroLocation();

  // --- records (made when missing)
  std::shared_ptr<KSSiteActivityMonitor> siteActivityMonitorForSiteID(const std::string& siteID);
  std::shared_ptr<KSSiteActivityMonitor> siteActivityMonitorForSite(const std::shared_ptr<KSSite>& site);
  Records siteActivityMonitorsWithSiteState(std::uint64_t state) const;

  static bool microLocationsAreDifferent(const MicroLocations& microLocations);

  void updateMicroLocation();
  void enteredSite(const std::shared_ptr<KSSite>& site);
  void exitedSite(const std::shared_ptr<KSSite>& site);
  void fireDidUpdateNearbySitesIfNeeded();

  // --- the site manager
  void siteManagerDidRemoveAllActivityMonitors() override;
  void siteManagerInternalDidCacheSites(SiteList) override { fireDidUpdateNearbySitesIfNeeded(); }
  void siteManagerInternalDidSyncSites(SiteList) override { fireDidUpdateNearbySitesIfNeeded(); }
  void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> site) override { enteredSite(site); }
  void siteManagerInternalDidExitSite(std::shared_ptr<KSSite> site) override { exitedSite(site); }
  void siteManagerInternalDidDetermineStateForSite(unsigned long state, std::shared_ptr<KSSite> site) override;
  void siteManagerInternalDidRangeBeaconsForSiteIDInSites(BeaconsForSiteID groups, SiteList sites) override;

  // --- the visit tracker
  void visitTrackerDidBeginVisitForBeaconsWithSerialNumbers(SerialNumbers serialNumbers) override;
  void visitTrackerDidEndVisitForBeaconsWithSerialNumbers(SerialNumbers serialNumbers) override;

 private:
  struct Token {};

 public:
  KSMicroLocationManager(Token, Ports ports);

 private:
  // What a change leaves to do once the lock is released.
  struct Pending {
    std::vector<std::function<void()>> posts;
  };
  using Locked = std::unique_lock<std::mutex>;

  void subscribe();
  std::shared_ptr<KSSiteActivityMonitor> recordLocked(const std::string& siteID);
  void enteredSiteLocked(const std::shared_ptr<KSSite>& site, Pending& pending);
  void exitedSiteLocked(const std::shared_ptr<KSSite>& site, Pending& pending);
  void updateMicroLocationLocked();
  void postLater(Pending& pending, std::string_view name, const std::shared_ptr<KSSite>& site);
  void run(Pending& pending);
  // Queues the delegate call on `queue` when there is a delegate (caller holds the lock); a
  // method the delegate does not override does nothing.
  template <class M, class... A>
  void callDelegateLocked(const std::shared_ptr<platform::dispatch::Queue>& queue, M method, A... args);

  const Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;

  mutable std::mutex mutex_;
  std::weak_ptr<KSMicroLocationManagerDelegate> delegate_;
  std::shared_ptr<platform::dispatch::Queue> delegateQueue_;
  bool onlyOnProximityChanges_ = false;
  bool updating_ = false;
  double distanceFilter_ = KSDefaultNearbySitesDistanceFilterInMeters;
  std::shared_ptr<KSMicroLocation> microLocation_;
  std::map<std::string, std::shared_ptr<KSSiteActivityMonitor>> records_;
  Sites lastNearbySites_;
};

}  // namespace velmora::kestrine
