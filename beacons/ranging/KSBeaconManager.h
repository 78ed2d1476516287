#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "beacons/ranging/KSBeaconManagerInternalDelegate.h"
#include "beacons/ranging/KSSiteManagerInternalDelegate.h"

namespace velmora::platform::dispatch {
class Queue;
}

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconManager;
class KSBeaconManagerInternal;
class KSBeaconRegion;
class KSBeaconRegionCaching;
class KSInstanceProvider;
class KSMeasurement;
class KSSite;

// What the beacon manager tells its host. Every method is optional; all run on the
// manager's queue. `state` is the platform's region state: 0 unknown, 1 inside, 2 outside.
class KSBeaconManagerDelegate {
 public:
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  virtual ~KSBeaconManagerDelegate() = default;

  virtual void beaconManagerDidEnterSite(KSBeaconManager&, std::shared_ptr<KSSite>) {}
  virtual void beaconManagerDidExitSite(KSBeaconManager&, std::shared_ptr<KSSite>) {}
  virtual void beaconManagerDidDetermineStateForSite(KSBeaconManager&, unsigned long /*state*/,
                                                     std::shared_ptr<KSSite>) {}
  virtual void beaconManagerDidRangeKestrineBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidRangeNewbornBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidRangeIBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidRangeEddystoneBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons) {}
  // Declared for hosts; identifier beacons come with didRangeBeacons.
  virtual void beaconManagerDidRangeIdentifierBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidRangeMeasurementBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidEnterBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidExitBeacons(KSBeaconManager&, Beacons) {}
  virtual void beaconManagerDidDetermineStateForBeacon(KSBeaconManager&, unsigned long /*state*/,
                                                       std::shared_ptr<KSBeacon>) {}
  virtual void beaconManagerDidDiscoverEddystoneURL(KSBeaconManager&, std::string /*url*/) {}
  virtual void beaconManagerDidDiscoverMeasurements(KSBeaconManager&, std::vector<std::shared_ptr<KSMeasurement>>,
                                                    std::shared_ptr<KSBeacon>) {}
};

// The beacon manager a host app creates to hear about beacons and sites. It listens to the
// hub and the site manager and passes what they report to one delegate on one queue (the
// main queue unless another is given), working out entered and exited beacons between
// successive ranging passes. It also lets the app monitor beacon regions of its own.
//
// Several may exist at once; each listens for itself until it is destroyed. The delegate is
// held weakly and read again when each callback runs. Entered and exited beacons are
// consistent on a serial queue.
class KSBeaconManager : public KSBeaconManagerInternalDelegate,
                        public KSSiteManagerInternalDelegate,
                        public std::enable_shared_from_this<KSBeaconManager> {
 public:
  struct Ports {
    std::shared_ptr<KSBeaconManagerInternal> hub;
    std::shared_ptr<KSSiteManagerSubscription> siteManager;  // may be null: no site reports
    std::shared_ptr<KSBeaconRegionCaching> regionCache;      // may be null: region calls do nothing
    std::shared_ptr<platform::dispatch::Queue> mainQueue;    // null: the hub's scheduler's
  };

  // Over the registry's hub, site manager and region cache (made if need be).
  static std::shared_ptr<KSBeaconManager> create();
  static std::shared_ptr<KSBeaconManager> create(KSInstanceProvider& provider);
  static std::shared_ptr<KSBeaconManager> create(Ports ports);
  // A null queue keeps the main queue.
  static std::shared_ptr<KSBeaconManager> initWithDelegate(Ports ports,
                                                           const std::shared_ptr<KSBeaconManagerDelegate>& delegate,
                                                           std::shared_ptr<platform::dispatch::Queue> queue);
  ~KSBeaconManager() override;

  // Held weakly.
  std::shared_ptr<KSBeaconManagerDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<KSBeaconManagerDelegate>& delegate);
  std::shared_ptr<platform::dispatch::Queue> queue() const;
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue);

  // A region with a valid proximity UUID is marked app-managed and cached (told and
  // stored); anything else is ignored.
  void startMonitoringBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region);
  void stopMonitoringBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region);
  std::vector<std::shared_ptr<KSBeaconRegion>> monitoredBeaconRegions() const;
  void requestStateForSite(const std::shared_ptr<KSSite>& site);
  // Inside (1) when a beacon of the last pass has the same cache identifier, else outside (2).
  void requestStateForBeacon(const std::shared_ptr<KSBeacon>& beacon);

  // The beacons of the previous pass, as last recorded on the queue.
  std::vector<std::shared_ptr<KSBeacon>> lastRangedBeacons() const;

  // --- from the hub
  void beaconManagerInternalDidRangeBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidRangeMeasurementBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidRangeIBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidRangeEddystoneBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidRangeNewbornBeacons(Hub, Beacons beacons) override;
  void beaconManagerInternalDidFirstDiscoverBeacon(Hub, std::shared_ptr<KSBeacon> beacon) override;
  void beaconManagerInternalDidDiscoverMeasurements(Hub, std::vector<std::shared_ptr<KSMeasurement>> measurements,
                                                    std::shared_ptr<KSBeacon> beacon) override;
  // --- from the site manager
  void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> site) override;
  void siteManagerInternalDidExitSite(std::shared_ptr<KSSite> site) override;
  void siteManagerInternalDidRangeBeacons(std::vector<std::shared_ptr<KSBeacon>> beacons) override;
  void siteManagerInternalDidDetermineStateForSite(unsigned long state, std::shared_ptr<KSSite> site) override;

 private:
  struct Token {};

 public:
  KSBeaconManager(Token, Ports ports);

 private:
  using Call = std::function<void(KSBeaconManager&, KSBeaconManagerDelegate&)>;
  bool hasDelegate() const {
    std::lock_guard lock(mutex_);
    return !delegate_.expired();
  }
  // Queues the call when there is a delegate (a method it does not override does nothing);
  // the delegate is read again when the call runs.
  template <class R, class... A>
  void dispatch(R (KSBeaconManagerDelegate::*)(A...), Call call) {
    if (hasDelegate()) post(std::move(call));
  }
  void post(Call call);
  void subscribe();

  const Ports ports_;
  mutable std::mutex mutex_;  // guards everything below
  std::weak_ptr<KSBeaconManagerDelegate> delegate_;
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::vector<std::shared_ptr<KSBeacon>> lastRangedBeacons_;  // written on the queue
};

}  // namespace velmora::kestrine
