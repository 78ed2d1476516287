#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/core/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/location/Beacon.h"
#include "platform/location/BeaconRegion.h"
#include "platform/location/Location.h"

namespace velmora::platform::location {

// The user's answer about location use, with the platform's numbers.
enum class AuthorizationStatus {
  NotDetermined = 0,
  Restricted = 1,
  Denied = 2,
  AuthorizedAlways = 3,
  AuthorizedWhenInUse = 4,
};

// What a location manager tells its owner, on the queue the owner gave. All optional.
// didChangeAuthorization is called once soon after the manager is made, with the status
// at that time, and then at every change.
class LocationManagerDelegate {
 public:
  virtual ~LocationManagerDelegate() = default;
  virtual void didChangeAuthorization(AuthorizationStatus) {}
  virtual void didUpdateLocations(const std::vector<Location>&) {}
  virtual void didFailWithError(const Error&) {}
  virtual void didStartMonitoring(const BeaconRegion&) {}
  virtual void monitoringDidFail(const BeaconRegion&, const Error&) {}
  virtual void didEnterRegion(const BeaconRegion&) {}
  virtual void didExitRegion(const BeaconRegion&) {}
  virtual void didDetermineState(RegionState, const BeaconRegion&) {}
  // Once a second for every ranged region, also when no beacon was heard.
  virtual void didRangeBeacons(const std::vector<Beacon>&, const BeaconRegion&) {}
  virtual void rangingDidFail(const BeaconRegion&, const Error&) {}
};

// One client's view of location services: location updates, beacon-region monitoring and
// ranging. Monitored regions are kept per manager; a region with the identifier of one
// already monitored (or ranged) replaces it.
class LocationManager {
 public:
  virtual ~LocationManager() = default;

  virtual void requestAlwaysAuthorization() = 0;
  virtual void requestWhenInUseAuthorization() = 0;

  // Metres a fix must move before the next is reported; negative reports every fix.
  virtual void setDistanceFilter(double meters) = 0;
  virtual void startUpdatingLocation() = 0;
  virtual void stopUpdatingLocation() = 0;
  virtual void startMonitoringSignificantLocationChanges() = 0;
  virtual void stopMonitoringSignificantLocationChanges() = 0;
  // The latest fix, if any.
  virtual std::optional<Location> location() const = 0;

  virtual std::vector<BeaconRegion> monitoredRegions() const = 0;
  virtual std::vector<BeaconRegion> rangedRegions() const = 0;
  virtual void startMonitoring(const BeaconRegion& region) = 0;
  virtual void stopMonitoring(const BeaconRegion& region) = 0;
  // Answers with didDetermineState for a monitored region.
  virtual void requestState(const BeaconRegion& region) = 0;
  virtual void startRangingBeacons(const BeaconRegion& region) = 0;
  virtual void stopRangingBeacons(const BeaconRegion& region) = 0;
};

// The location services of the device: the switches and capabilities that are the same
// for every client, and the maker of managers.
class LocationServices {
 public:
  virtual ~LocationServices() = default;

  virtual AuthorizationStatus authorizationStatus() const = 0;
  virtual bool locationServicesEnabled() const = 0;
  virtual bool isMonitoringAvailableForBeaconRegions() const = 0;
  virtual bool isRangingAvailable() const = 0;
  virtual bool significantLocationChangeMonitoringAvailable() const = 0;

  // A manager that reports to the delegate (held weakly) on the queue.
  virtual std::shared_ptr<LocationManager> makeManager(std::weak_ptr<LocationManagerDelegate> delegate,
                                                       std::shared_ptr<dispatch::Queue> queue) = 0;

  // The services used where no backend exists (Linux hosts today): switched off, nothing
  // available, status not determined; its managers do nothing beyond the first status.
  static std::shared_ptr<LocationServices> unavailable();
};

}  // namespace velmora::platform::location
