#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSConfiguratorPorts.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/ranging/KSBeaconRegionManager.h"
#include "beacons/ranging/KSLocationManagerClientDelegate.h"
#include "platform/location/LocationManager.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::dispatch {
class Scheduler;
}

namespace velmora::kestrine {

class KSApiOperationManaging;
class KSBeaconRegionStoring;
class KSConfigurator;
class KSInstanceProvider;

inline constexpr std::string_view KSLocationManagerClientDidFailToRangeBeaconsInRegion =
    "KSLocationManagerClientDidFailToRangeBeaconsInRegion";

// The beacon layer's side of location services: authorisation and availability, location
// updates (only to keep the nearby sites fresh), monitoring of the cached beacon regions,
// ranging while the device is inside one, and the entries, exits, states and rangings of
// cached regions passed on to listeners as region records.
//
// Every platform callback and every region-cache change is handled on the serial work
// queue, in arrival order; listeners are called on that queue too. The control calls
// (updates, monitoring switch) may come from any thread.
class KSLocationManagerClient : public KSLocationControl,
                                public platform::location::LocationManagerDelegate,
                                public KSBeaconRegionManagerDelegate,
                                public std::enable_shared_from_this<KSLocationManagerClient> {
 public:
  static constexpr std::string_view kSingletonName = "KSLocationManagerClient";
  static constexpr std::string_view kWorkQueueLabel = "com.kestrine.locationmanager";
  using Region = platform::location::BeaconRegion;

  // Empty functions look the service up in the registry.
  struct Ports {
    std::function<std::shared_ptr<KSBeaconRegionStoring>()> store;
    std::function<std::shared_ptr<KSApiOperationManaging>()> api;
  };

  static std::shared_ptr<KSLocationManagerClient> sharedClient();
  static std::shared_ptr<KSLocationManagerClient> sharedClient(KSInstanceProvider& provider);
  static void installMaker(KSInstanceProvider& provider, Ports ports = {});
  static std::shared_ptr<KSLocationManagerClient> create(std::shared_ptr<KSInstanceProvider> provider,
                                                         Ports ports = {});
  ~KSLocationManagerClient() override;

  // --- questions about the device's location services (no instance needed)
  static platform::location::AuthorizationStatus authorizationStatus(KSInstanceProvider& provider);
  // Always, or when in use.
  static bool isAuthorized(KSInstanceProvider& provider);
  static bool locationServicesEnabled(KSInstanceProvider& provider);
  // The capability, and KSOptionRunWithoutLocationServicesAuthorization off.
  static bool isBeaconRegionMonitoringAvailable(KSInstanceProvider& provider);
  static bool isBeaconRangingAvailable(KSInstanceProvider& provider);

  void addDelegate(const std::shared_ptr<KSLocationManagerClientDelegate>& delegate) {
    multicast_.addDelegate(delegate, workQueue_);
  }
  void removeDelegate(const KSLocationManagerClientDelegate* delegate) { multicast_.removeDelegate(delegate); }

  std::optional<platform::location::Location> location() const;
  void requestAlwaysAuthorization();
  void requestWhenInUseAuthorization();

  // --- KSLocationControl
  void startUpdatingLocation() override;
  void stopUpdatingLocation() override;
  void setBeaconRegionMonitoringEnabled(bool enabled) override;
  bool isLocationUpdatingEnabled() const { return locationUpdatingEnabled_.load(); }
  bool enableLocationUpdatingWhenAuthorized() const { return enableLocationUpdatingWhenAuthorized_.load(); }
  bool isBeaconRegionMonitoringEnabled() const { return beaconRegionMonitoringEnabled_.load(); }

  // --- monitoring and ranging
  void startMonitoringBeaconRegionArray(const std::vector<std::shared_ptr<KSBeaconRegion>>& regions);
  void startMonitoringBeaconRegion(const std::optional<Region>& region);
  void stopMonitoringBeaconRegion(const Region& region);
  void stopMonitoringAllBeaconRegions();
  // Stops the monitored regions under the target prefix that none of these regions make.
  void stopMonitoringBeaconRegionsNotInBeaconRegionArray(const std::vector<std::shared_ptr<KSBeaconRegion>>& regions);
  // Same identifier, UUID, major and minor as a monitored region.
  bool isMonitoringBeaconRegion(const Region& region) const;
  bool isMonitoringBeaconRegionWithIdentifier(const std::string& identifier) const;
  bool isRangingBeaconRegionWithIdentifier(const std::string& identifier) const;
  // Ranging starts only for a monitored region that is not ranged yet.
  bool startRangingBeaconsInRegion(const Region& region);
  bool stopRangingBeaconsInRegion(const Region& region);
  std::vector<Region> clBeaconRegionsSetFilteredByTargetRegionPrefix(const std::vector<Region>& regions) const;

  const std::shared_ptr<platform::dispatch::Queue>& workQueue() const { return workQueue_; }

  // --- platform callbacks (on the work queue)
  void didChangeAuthorization(platform::location::AuthorizationStatus status) override;
  void didUpdateLocations(const std::vector<platform::location::Location>& locations) override;
  void didStartMonitoring(const Region& region) override;
  void didEnterRegion(const Region& region) override;
  void didExitRegion(const Region& region) override;
  void didDetermineState(platform::location::RegionState state, const Region& region) override;
  void didRangeBeacons(const std::vector<platform::location::Beacon>& beacons, const Region& region) override;
  void rangingDidFail(const Region& region, const platform::Error& error) override;

  // --- the region manager
  void beaconRegionManagerDidRemoveCachedBeaconRegions(Manager manager, Regions regions) override;
  void beaconRegionManagerDidChangeBeaconRegionCache(Manager manager) override;

 private:
  struct Token {};

 public:
  KSLocationManagerClient(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports);

 private:
  void start();
  std::shared_ptr<KSConfigurator> configurator() const;
  bool monitoringAndRangingAvailable() const;
  std::shared_ptr<KSBeaconRegion> cachedRegion(const Region& region) const;
  void post(std::string_view name);
  template <class M, class... A>
  void tellListeners(const Region& region, M method, A&&... args) {
    if (auto cached = cachedRegion(region)) multicast_.invoke(method, this, std::forward<A>(args)..., cached);
  }

  const std::weak_ptr<KSInstanceProvider> provider_;
  Ports ports_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<platform::NotificationCenter> center_;
  std::shared_ptr<platform::location::LocationServices> services_;
  std::shared_ptr<platform::dispatch::Queue> workQueue_;
  std::shared_ptr<platform::location::LocationManager> locationManager_;
  std::shared_ptr<KSBeaconRegionManager> beaconRegionManager_;
  mutable std::weak_ptr<KSConfigurator> configurator_;
  KSGCDMulticastDelegate<KSLocationManagerClientDelegate> multicast_;

  std::atomic<bool> locationUpdatingEnabled_{false};
  std::atomic<bool> enableLocationUpdatingWhenAuthorized_{false};
  std::atomic<bool> beaconRegionMonitoringEnabled_{false};
};

}  // namespace velmora::kestrine
