#include "beacons/ranging/KSLocationManagerClient.h"

#include <algorithm>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSPlatformRegionAdditions.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "platform/core/AsciiText.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {
namespace {

using platform::location::AuthorizationStatus;

constexpr std::string_view kLog = "KSLocationManagerClient";

std::shared_ptr<KSConfigurator> configuratorOf(KSInstanceProvider& provider) {
  return KSConfigurator::sharedConfigurator(provider);
}

bool runsWithoutAuthorization(KSInstanceProvider& provider) {
  auto c = configuratorOf(provider);
  return c && c->runWithoutLocationServicesAuthorization();
}

std::string prefixOf(const KSConfigurator* c) {
  if (c) {
    const platform::Value prefix = c->targetRegionPrefix();
    if (const auto* s = prefix.string()) return *s;
  }
  return "com.kestrine";
}

bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && platform::equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

// --- making

std::shared_ptr<KSLocationManagerClient> KSLocationManagerClient::sharedClient() {
  return sharedClient(*KSInstanceProvider::sharedProvider());
}

std::shared_ptr<KSLocationManagerClient> KSLocationManagerClient::sharedClient(KSInstanceProvider& provider) {
  return provider.singleton<KSLocationManagerClient>(
      kSingletonName, [](KSInstanceProvider& p) { return create(p.shared_from_this()); });
}

void KSLocationManagerClient::installMaker(KSInstanceProvider& provider, Ports ports) {
  provider.installMaker<KSLocationManagerClient>(std::string(kSingletonName), [ports](KSInstanceProvider& p) {
    return create(p.shared_from_this(), ports);
  });
}

std::shared_ptr<KSLocationManagerClient> KSLocationManagerClient::create(std::shared_ptr<KSInstanceProvider> provider,
                                                                         Ports ports) {
  auto client = std::make_shared<KSLocationManagerClient>(Token{}, std::move(provider), std::move(ports));
  client->start();
  return client;
}

KSLocationManagerClient::KSLocationManagerClient(Token, std::shared_ptr<KSInstanceProvider> provider, Ports ports)
    : provider_(provider), ports_(std::move(ports)) {
  const auto& platform = provider->platform();
  scheduler_ = platform.scheduler ? platform.scheduler : platform::dispatch::Scheduler::shared();
  center_ = platform.notificationCenter;
  services_ = platform.location ? platform.location : platform::location::LocationServices::unavailable();
  std::weak_ptr<KSInstanceProvider> weak = provider;
  if (!ports_.store) {
    ports_.store = [weak]() -> std::shared_ptr<KSBeaconRegionStoring> {
      auto p = weak.lock();
      return p ? p->singleton<KSBeaconRegionStoring>(KSBeaconRegionStoring::kSingletonName, nullptr) : nullptr;
    };
  }
  if (!ports_.api) {
    ports_.api = [weak]() -> std::shared_ptr<KSApiOperationManaging> {
      auto p = weak.lock();
      return p ? p->singleton<KSApiOperationManaging>(KSApiOperationManaging::kSingletonName, nullptr) : nullptr;
    };
  }
  configurator_ = configuratorOf(*provider);
  workQueue_ = scheduler_->makeSerialQueue(std::string(kWorkQueueLabel));
}

void KSLocationManagerClient::start() {
  auto provider = provider_.lock();
  // Every callback, the first status included, arrives on the work queue.
  locationManager_ = services_->makeManager(weak_from_this(), workQueue_);
  locationManager_->setDistanceFilter(KSApiOperationManaging::kDistanceFilter);
  if (provider) beaconRegionManager_ = KSBeaconRegionManager::sharedManager(*provider);
  if (beaconRegionManager_) beaconRegionManager_->addDelegate(shared_from_this());
}

KSLocationManagerClient::~KSLocationManagerClient() {
  if (locationManager_) {
    locationManager_->stopUpdatingLocation();
    locationManager_->stopMonitoringSignificantLocationChanges();
  }
  if (beaconRegionManager_) beaconRegionManager_->removeDelegate(this);
  multicast_.removeAllDelegates();
}

std::shared_ptr<KSConfigurator> KSLocationManagerClient::configurator() const {
  auto c = configurator_.lock();
  if (!c) {
    if (auto p = provider_.lock()) {
      c = configuratorOf(*p);
      configurator_ = c;
    }
  }
  return c;
}

// --- class questions

AuthorizationStatus KSLocationManagerClient::authorizationStatus(KSInstanceProvider& provider) {
  const auto& location = provider.platform().location;
  return location ? location->authorizationStatus() : AuthorizationStatus::NotDetermined;
}

bool KSLocationManagerClient::isAuthorized(KSInstanceProvider& provider) {
  const auto status = authorizationStatus(provider);
  return status == AuthorizationStatus::AuthorizedAlways || status == AuthorizationStatus::AuthorizedWhenInUse;
}

bool KSLocationManagerClient::locationServicesEnabled(KSInstanceProvider& provider) {
  const auto& location = provider.platform().location;
  return location && location->locationServicesEnabled();
}

bool KSLocationManagerClient::isBeaconRegionMonitoringAvailable(KSInstanceProvider& provider) {
  const auto& location = provider.platform().location;
  return location && location->isMonitoringAvailableForBeaconRegions() && !runsWithoutAuthorization(provider);
}

bool KSLocationManagerClient::isBeaconRangingAvailable(KSInstanceProvider& provider) {
  const auto& location = provider.platform().location;
  return location && location->isRangingAvailable() && !runsWithoutAuthorization(provider);
}

bool KSLocationManagerClient::monitoringAndRangingAvailable() const {
  auto p = provider_.lock();
  return p && isBeaconRegionMonitoringAvailable(*p) && isBeaconRangingAvailable(*p);
}

// --- location

std::optional<platform::location::Location> KSLocationManagerClient::location() const {
  return locationManager_->location();
}

void KSLocationManagerClient::requestAlwaysAuthorization() {
  if (services_->locationServicesEnabled() && services_->authorizationStatus() == AuthorizationStatus::NotDetermined) {
    locationManager_->requestAlwaysAuthorization();
  }
}

void KSLocationManagerClient::requestWhenInUseAuthorization() {
  if (services_->locationServicesEnabled() && services_->authorizationStatus() == AuthorizationStatus::NotDetermined) {
    locationManager_->requestWhenInUseAuthorization();
  }
}

void KSLocationManagerClient::startUpdatingLocation() {
  auto c = configurator();
  if ((c && c->runWithoutLocationServicesAuthorization()) || locationUpdatingEnabled_.load()) return;
  auto p = provider_.lock();
  const bool authorized = p && isAuthorized(*p);
  if (authorized && c && c->cacheSitesNearby()) {
    if (services_->significantLocationChangeMonitoringAvailable()) {
      locationManager_->startMonitoringSignificantLocationChanges();
    } else {
      locationManager_->startUpdatingLocation();
    }
    locationUpdatingEnabled_.store(true);
    enableLocationUpdatingWhenAuthorized_.store(false);
  } else {
    enableLocationUpdatingWhenAuthorized_.store(true);
  }
}

void KSLocationManagerClient::stopUpdatingLocation() {
  locationManager_->stopMonitoringSignificantLocationChanges();
  locationManager_->stopUpdatingLocation();
  locationUpdatingEnabled_.store(false);
  enableLocationUpdatingWhenAuthorized_.store(false);
}

void KSLocationManagerClient::didUpdateLocations(const std::vector<platform::location::Location>& locations) {
  auto c = configurator();
  if (locations.empty() || !c || !c->cacheSitesNearby()) return;
  if (auto api = ports_.api ? ports_.api() : nullptr) api->syncSitesNearbyLocation(locations.back());
}

void KSLocationManagerClient::didChangeAuthorization(AuthorizationStatus status) {
  const bool authorized = status == AuthorizationStatus::AuthorizedAlways ||
                          status == AuthorizationStatus::AuthorizedWhenInUse;
  if (authorized && !locationUpdatingEnabled_.load() && enableLocationUpdatingWhenAuthorized_.load()) {
    startUpdatingLocation();
  } else if (!authorized && locationUpdatingEnabled_.load()) {
    stopUpdatingLocation();
    enableLocationUpdatingWhenAuthorized_.store(true);  // resumes when authorisation comes back
  }
  post(KSNotificationLocationAuthorizationStatusDidChange);
}

// --- monitoring

void KSLocationManagerClient::setBeaconRegionMonitoringEnabled(bool enabled) {
  if (beaconRegionMonitoringEnabled_.exchange(enabled) == enabled) return;
  if (enabled) {
    if (beaconRegionManager_) startMonitoringBeaconRegionArray(beaconRegionManager_->allCachedBeaconRegions());
  } else {
    for (const auto& region : locationManager_->monitoredRegions()) stopMonitoringBeaconRegion(region);
  }
}

void KSLocationManagerClient::startMonitoringBeaconRegionArray(const std::vector<std::shared_ptr<KSBeaconRegion>>& regions) {
  auto store = ports_.store ? ports_.store() : nullptr;
  for (const auto& region : regions) {
    if (!region) continue;
    if (store) store->storeBeaconRegion(region);
    startMonitoringBeaconRegion(cl_beacon_region::clBeaconRegionWithKSBeaconRegion(*region));
  }
}

void KSLocationManagerClient::startMonitoringBeaconRegion(const std::optional<Region>& region) {
  if (!region || !monitoringAndRangingAvailable()) return;
  if (isMonitoringBeaconRegion(*region)) {
    startRangingBeaconsInRegion(*region);
    locationManager_->requestState(*region);
  } else {
    locationManager_->startMonitoring(*region);
  }
}

void KSLocationManagerClient::stopMonitoringBeaconRegion(const Region& region) {
  stopRangingBeaconsInRegion(region);
  for (const auto& monitored : locationManager_->monitoredRegions()) {
    if (monitored.identifier() == region.identifier()) locationManager_->stopMonitoring(monitored);
  }
}

void KSLocationManagerClient::stopMonitoringAllBeaconRegions() {
  for (const auto& region : locationManager_->monitoredRegions()) stopMonitoringBeaconRegion(region);
}

void KSLocationManagerClient::stopMonitoringBeaconRegionsNotInBeaconRegionArray(
    const std::vector<std::shared_ptr<KSBeaconRegion>>& regions) {
  const auto monitored = locationManager_->monitoredRegions();
  if (monitored.empty()) return;
  std::vector<Region> built;
  for (const auto& region : regions) {
    if (!region) continue;
    if (auto made = cl_beacon_region::clBeaconRegionWithKSBeaconRegion(*region)) built.push_back(std::move(*made));
  }
  std::vector<Region> stale;
  for (const auto& m : monitored) {
    if (std::find(built.begin(), built.end(), m) == built.end()) stale.push_back(m);
  }
  for (const auto& region : clBeaconRegionsSetFilteredByTargetRegionPrefix(stale)) stopMonitoringBeaconRegion(region);
}

bool KSLocationManagerClient::isMonitoringBeaconRegion(const Region& region) const {
  const auto monitored = locationManager_->monitoredRegions();
  return std::any_of(monitored.begin(), monitored.end(), [&](const Region& m) {
    return m.identifier() == region.identifier() && m.proximityUUID() == region.proximityUUID() &&
           m.major() == region.major() && m.minor() == region.minor();
  });
}

bool KSLocationManagerClient::isMonitoringBeaconRegionWithIdentifier(const std::string& identifier) const {
  return !platform_beacon_region_set::filteredSetUsingIdentifier(locationManager_->monitoredRegions(), identifier)
              .empty();
}

bool KSLocationManagerClient::isRangingBeaconRegionWithIdentifier(const std::string& identifier) const {
  return !platform_beacon_region_set::filteredSetUsingIdentifier(locationManager_->rangedRegions(), identifier).empty();
}

bool KSLocationManagerClient::startRangingBeaconsInRegion(const Region& region) {
  auto p = provider_.lock();
  if (!p || !isBeaconRangingAvailable(*p)) return false;
  if (isRangingBeaconRegionWithIdentifier(region.identifier())) return false;
  auto monitored =
      platform_beacon_region_set::filteredSetUsingIdentifier(locationManager_->monitoredRegions(), region.identifier());
  if (monitored.empty()) return false;
  locationManager_->startRangingBeacons(monitored.front());
  return true;
}

bool KSLocationManagerClient::stopRangingBeaconsInRegion(const Region& region) {
  auto ranged =
      platform_beacon_region_set::filteredSetUsingIdentifier(locationManager_->rangedRegions(), region.identifier());
  for (const auto& r : ranged) locationManager_->stopRangingBeacons(r);
  return !ranged.empty();
}

std::vector<KSLocationManagerClient::Region> KSLocationManagerClient::clBeaconRegionsSetFilteredByTargetRegionPrefix(
    const std::vector<Region>& regions) const {
  auto c = configurator();
  const std::string prefix = prefixOf(c.get());
  std::vector<Region> out;
  for (const auto& region : regions) {
    if (hasPrefixIgnoringCase(region.identifier(), prefix)) out.push_back(region);
  }
  return out;
}

// --- platform callbacks

std::shared_ptr<KSBeaconRegion> KSLocationManagerClient::cachedRegion(const Region& region) const {
  return beaconRegionManager_ ? beaconRegionManager_->cachedBeaconRegionWithRegionIdentifier(region.identifier())
                              : nullptr;
}

void KSLocationManagerClient::didStartMonitoring(const Region& region) {
  startRangingBeaconsInRegion(region);
  locationManager_->requestState(region);
}

void KSLocationManagerClient::didEnterRegion(const Region& region) {
  startRangingBeaconsInRegion(region);
  tellListeners(region, &KSLocationManagerClientDelegate::locationManagerClientDidEnterBeaconRegion);
}

void KSLocationManagerClient::didExitRegion(const Region& region) {
  stopRangingBeaconsInRegion(region);
  tellListeners(region, &KSLocationManagerClientDelegate::locationManagerClientDidExitBeaconRegion);
}

void KSLocationManagerClient::didDetermineState(platform::location::RegionState state, const Region& region) {
  if (state == platform::location::RegionState::Inside) {
    if (startRangingBeaconsInRegion(region)) {
      tellListeners(region, &KSLocationManagerClientDelegate::locationManagerClientDidEnterBeaconRegion);
    }
  } else if (state == platform::location::RegionState::Outside) {
    stopRangingBeaconsInRegion(region);
  }
  tellListeners(region, &KSLocationManagerClientDelegate::locationManagerClientDidDetermineStateForBeaconRegion,
                static_cast<long>(state));
}

void KSLocationManagerClient::didRangeBeacons(const std::vector<platform::location::Beacon>& beacons,
                                              const Region& region) {
  tellListeners(region, &KSLocationManagerClientDelegate::locationManagerClientDidRangeBeaconsInBeaconRegion, beacons);
}

void KSLocationManagerClient::rangingDidFail(const Region& region, const platform::Error& error) {
  platform::Log::debug(kLog, "ranging {} failed: {}", region.identifier(), error.localizedDescription);
  post(KSLocationManagerClientDidFailToRangeBeaconsInRegion);
}

// --- the region manager

void KSLocationManagerClient::beaconRegionManagerDidRemoveCachedBeaconRegions(Manager, Regions regions) {
  workQueue_->async([weak = weak_from_this(), regions = std::move(regions)] {
    auto self = weak.lock();
    if (!self) return;
    for (const auto& region : regions) {
      if (!region) continue;
      if (auto made = cl_beacon_region::clBeaconRegionWithKSBeaconRegion(*region)) self->stopMonitoringBeaconRegion(*made);
    }
  });
}

void KSLocationManagerClient::beaconRegionManagerDidChangeBeaconRegionCache(Manager) {
  workQueue_->async([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self || !self->beaconRegionManager_) return;
    if (!self->monitoringAndRangingAvailable() || !self->beaconRegionMonitoringEnabled_.load()) return;
    auto regions = self->beaconRegionManager_->allCachedBeaconRegions();
    self->stopMonitoringBeaconRegionsNotInBeaconRegionArray(regions);
    self->startMonitoringBeaconRegionArray(regions);
  });
}

void KSLocationManagerClient::post(std::string_view name) {
  if (center_) center_->post(std::string(name), platform::Notification::unowned(this));
}

}  // namespace velmora::kestrine
