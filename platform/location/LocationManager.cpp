#include "platform/location/LocationManager.h"

namespace velmora::platform::location {
namespace {

class InertManager final : public LocationManager {
 public:
  void requestAlwaysAuthorization() override {}
  void requestWhenInUseAuthorization() override {}
  void setDistanceFilter(double) override {}
  void startUpdatingLocation() override {}
  void stopUpdatingLocation() override {}
  void startMonitoringSignificantLocationChanges() override {}
  void stopMonitoringSignificantLocationChanges() override {}
  std::optional<Location> location() const override { return std::nullopt; }
  std::vector<BeaconRegion> monitoredRegions() const override { return {}; }
  std::vector<BeaconRegion> rangedRegions() const override { return {}; }
  void startMonitoring(const BeaconRegion&) override {}
  void stopMonitoring(const BeaconRegion&) override {}
  void requestState(const BeaconRegion&) override {}
  void startRangingBeacons(const BeaconRegion&) override {}
  void stopRangingBeacons(const BeaconRegion&) override {}
};

class UnavailableServices final : public LocationServices {
 public:
  AuthorizationStatus authorizationStatus() const override { return AuthorizationStatus::NotDetermined; }
  bool locationServicesEnabled() const override { return false; }
  bool isMonitoringAvailableForBeaconRegions() const override { return false; }
  bool isRangingAvailable() const override { return false; }
  bool significantLocationChangeMonitoringAvailable() const override { return false; }
  std::shared_ptr<LocationManager> makeManager(std::weak_ptr<LocationManagerDelegate> delegate,
                                               std::shared_ptr<dispatch::Queue> queue) override {
    if (queue) {
      queue->async([delegate] {
        if (auto d = delegate.lock()) d->didChangeAuthorization(AuthorizationStatus::NotDetermined);
      });
    }
    return std::make_shared<InertManager>();
  }
};

}  // namespace

std::shared_ptr<LocationServices> LocationServices::unavailable() {
  static const auto& services = *new auto(std::make_shared<UnavailableServices>());
  return services;
}

}  // namespace velmora::platform::location
