#include "beacons/ranging/KSBeaconManager.h"

#include <algorithm>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconRegionCaching.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

// The members of `of` that are not in `without`, in the order of `of`.
Beacons difference(const Beacons& of, const Beacons& without) {
  std::vector<const KSBeacon*> drop;
  drop.reserve(without.size());
  for (const auto& b : without) drop.push_back(b.get());
  std::sort(drop.begin(), drop.end());
  Beacons out;
  for (const auto& b : of) {
    if (!std::binary_search(drop.begin(), drop.end(), b.get())) out.push_back(b);
  }
  return out;
}

}  // namespace

std::shared_ptr<KSBeaconManager> KSBeaconManager::create() { return create(*KSInstanceProvider::sharedProvider()); }

std::shared_ptr<KSBeaconManager> KSBeaconManager::create(KSInstanceProvider& provider) {
  Ports ports;
  ports.hub = KSBeaconManagerInternal::sharedInternal(provider);
  ports.regionCache = provider.singleton<KSBeaconRegionCaching>(KSBeaconRegionCaching::kSingletonName, {});
  ports.siteManager = provider.singleton<KSSiteManagerSubscription>(KSSiteManagerSubscription::kSingletonName, {});
  auto scheduler = provider.platform().scheduler ? provider.platform().scheduler : platform::dispatch::Scheduler::shared();
  ports.mainQueue = scheduler->mainQueue();
  return create(std::move(ports));
}

std::shared_ptr<KSBeaconManager> KSBeaconManager::create(Ports ports) {
  auto manager = std::make_shared<KSBeaconManager>(Token{}, std::move(ports));
  manager->subscribe();
  return manager;
}

KSBeaconManager::KSBeaconManager(Token, Ports ports) : ports_(std::move(ports)) {
  queue_ = ports_.mainQueue ? ports_.mainQueue : platform::dispatch::Scheduler::shared()->mainQueue();
}

void KSBeaconManager::subscribe() {
  if (ports_.hub) ports_.hub->addDelegate(shared_from_this());
  if (ports_.siteManager) ports_.siteManager->addDelegate(shared_from_this());
}

KSBeaconManager::~KSBeaconManager() {
  if (ports_.hub) ports_.hub->removeDelegate(this);
  if (ports_.siteManager) ports_.siteManager->removeDelegate(this);
}

std::shared_ptr<KSBeaconManager> KSBeaconManager::initWithDelegate(
    Ports ports, const std::shared_ptr<KSBeaconManagerDelegate>& delegate,
    std::shared_ptr<platform::dispatch::Queue> queue) {
  auto manager = create(std::move(ports));
  if (queue) manager->setQueue(std::move(queue));
  manager->setDelegate(delegate);
  return manager;
}

std::shared_ptr<KSBeaconManagerDelegate> KSBeaconManager::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void KSBeaconManager::setDelegate(const std::shared_ptr<KSBeaconManagerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

std::shared_ptr<platform::dispatch::Queue> KSBeaconManager::queue() const {
  std::lock_guard lock(mutex_);
  return queue_;
}

void KSBeaconManager::setQueue(std::shared_ptr<platform::dispatch::Queue> queue) {
  if (!queue) return;
  std::lock_guard lock(mutex_);
  queue_ = std::move(queue);
}

std::vector<std::shared_ptr<KSBeacon>> KSBeaconManager::lastRangedBeacons() const {
  std::lock_guard lock(mutex_);
  return lastRangedBeacons_;
}

void KSBeaconManager::post(Call call) {
  queue()->async([weak = weak_from_this(), call = std::move(call)] {
    auto self = weak.lock();
    if (!self) return;
    auto delegate = self->delegate();
    if (delegate) call(*self, *delegate);
  });
}

// --- regions and states

void KSBeaconManager::startMonitoringBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) {
  if (!region || !ports_.regionCache) return;
  const auto& uuid = region->proximityUUIDString();
  if (!uuid || !platform::Uuid::parse(*uuid)) return;
  region->setAppManaged(true);
  ports_.regionCache->cacheBeaconRegion(region, true);
}

void KSBeaconManager::stopMonitoringBeaconRegion(const std::shared_ptr<KSBeaconRegion>& region) {
  if (!region || !ports_.regionCache) return;
  ports_.regionCache->removeCachedBeaconRegion(region, true);
}

std::vector<std::shared_ptr<KSBeaconRegion>> KSBeaconManager::monitoredBeaconRegions() const {
  if (!ports_.regionCache) return {};
  return beacon_region_array::filteredBeaconRegionArrayUsingAppManaged(ports_.regionCache->allCachedBeaconRegions(),
                                                                       true);
}

void KSBeaconManager::requestStateForSite(const std::shared_ptr<KSSite>& site) {
  if (ports_.siteManager) ports_.siteManager->requestStateForSite(site);
}

void KSBeaconManager::requestStateForBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidDetermineStateForBeacon,
           [beacon](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             const auto id = beacon ? beacon->cacheIdentifier() : std::nullopt;
             bool inside = false;
             if (id && !id->empty()) {
               for (const auto& b : self.lastRangedBeacons()) inside = inside || b->cacheIdentifier() == id;
             }
             d.beaconManagerDidDetermineStateForBeacon(self, inside ? 1 : 2, beacon);
           });
}

// --- from the hub

void KSBeaconManager::beaconManagerInternalDidRangeBeacons(Hub, Beacons beacons) {
  using P = KSBeaconManagerDelegate;
  auto pass = std::make_shared<const Beacons>(std::move(beacons));
  dispatch(&P::beaconManagerDidExitBeacons, [pass](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
    d.beaconManagerDidExitBeacons(self, difference(self.lastRangedBeacons(), *pass));
  });
  dispatch(&P::beaconManagerDidEnterBeacons, [pass](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
    d.beaconManagerDidEnterBeacons(self, difference(*pass, self.lastRangedBeacons()));
  });
  dispatch(&P::beaconManagerDidRangeBeacons,
           [pass](KSBeaconManager& self, KSBeaconManagerDelegate& d) { d.beaconManagerDidRangeBeacons(self, *pass); });
  // Kept up to date whatever the delegate implements, and also with none.
  queue()->async([weak = weak_from_this(), pass] {
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->mutex_);
      self->lastRangedBeacons_ = *pass;
    }
  });
}

void KSBeaconManager::beaconManagerInternalDidRangeMeasurementBeacons(Hub, Beacons beacons) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidRangeMeasurementBeacons,
           [beacons = std::move(beacons)](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidRangeMeasurementBeacons(self, beacons);
           });
}

void KSBeaconManager::beaconManagerInternalDidRangeIBeacons(Hub, Beacons beacons) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidRangeIBeacons,
           [beacons = std::move(beacons)](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidRangeIBeacons(self, beacons);
           });
}

void KSBeaconManager::beaconManagerInternalDidRangeEddystoneBeacons(Hub, Beacons beacons) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidRangeEddystoneBeacons,
           [beacons = std::move(beacons)](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidRangeEddystoneBeacons(self, beacons);
           });
}

void KSBeaconManager::beaconManagerInternalDidRangeNewbornBeacons(Hub, Beacons beacons) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidRangeNewbornBeacons,
           [beacons = std::move(beacons)](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidRangeNewbornBeacons(self, beacons);
           });
}

void KSBeaconManager::beaconManagerInternalDidFirstDiscoverBeacon(Hub, std::shared_ptr<KSBeacon> beacon) {
  if (!beacon || !beacon->hasDiscoveredEddystoneURLFrame()) return;
  auto eddystone = beacon->eddystone();
  auto url = eddystone ? eddystone->URL() : std::nullopt;
  if (!url) return;  // no usable URL: nothing to tell
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidDiscoverEddystoneURL,
           [url = *url](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidDiscoverEddystoneURL(self, url);
           });
}

void KSBeaconManager::beaconManagerInternalDidDiscoverMeasurements(
    Hub, std::vector<std::shared_ptr<KSMeasurement>> measurements, std::shared_ptr<KSBeacon> beacon) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidDiscoverMeasurements,
           [measurements = std::move(measurements), beacon](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidDiscoverMeasurements(self, measurements, beacon);
           });
}

// --- from the site manager

void KSBeaconManager::siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> site) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidEnterSite,
           [site](KSBeaconManager& self, KSBeaconManagerDelegate& d) { d.beaconManagerDidEnterSite(self, site); });
}

void KSBeaconManager::siteManagerInternalDidExitSite(std::shared_ptr<KSSite> site) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidExitSite,
           [site](KSBeaconManager& self, KSBeaconManagerDelegate& d) { d.beaconManagerDidExitSite(self, site); });
}

void KSBeaconManager::siteManagerInternalDidRangeBeacons(std::vector<std::shared_ptr<KSBeacon>> beacons) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidRangeKestrineBeacons,
           [beacons = std::move(beacons)](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidRangeKestrineBeacons(self, beacons);
           });
}

void KSBeaconManager::siteManagerInternalDidDetermineStateForSite(unsigned long state, std::shared_ptr<KSSite> site) {
  dispatch(&KSBeaconManagerDelegate::beaconManagerDidDetermineStateForSite,
           [state, site](KSBeaconManager& self, KSBeaconManagerDelegate& d) {
             d.beaconManagerDidDetermineStateForSite(self, state, site);
           });
}

}  // namespace velmora::kestrine
