#include "beacons/microlocation/KSMicroLocationManager.h"

#include <algorithm>
#include <set>
#include <utility>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSMicroLocationDifference.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSite.h"
#include "beacons/ranging/KSLocationManagerClient.h"

namespace velmora::kestrine {

namespace {

std::mutex& sharedMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<KSMicroLocationManager>& sharedSlot() {
  static std::shared_ptr<KSMicroLocationManager>& manager = *new std::shared_ptr<KSMicroLocationManager>();
  return manager;
}

std::string idOf(const std::shared_ptr<KSSite>& site) { return site ? site->siteID().value_or("") : ""; }

bool sameSites(const std::vector<std::shared_ptr<KSSite>>& a, const std::vector<std::shared_ptr<KSSite>>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const auto& x, const auto& y) { return x == y || idOf(x) == idOf(y); });
}

}  // namespace

// --- making

std::shared_ptr<KSMicroLocationManager> KSMicroLocationManager::sharedManager() {
  std::lock_guard lock(sharedMutex());
  auto& slot = sharedSlot();
  if (!slot) {
    slot = create(*KSInstanceProvider::sharedProvider());
  }
  return slot;
}

void KSMicroLocationManager::setSharedManager(std::shared_ptr<KSMicroLocationManager> manager) {
  std::shared_ptr<KSMicroLocationManager> old;
  {
    std::lock_guard lock(sharedMutex());
    old = std::exchange(sharedSlot(), std::move(manager));
  }
  // The old manager, if this was its last owner, unsubscribes here, outside the class lock.
}

std::shared_ptr<KSMicroLocationManager> KSMicroLocationManager::create(
    KSInstanceProvider& provider, std::shared_ptr<platform::dispatch::Queue> delegateQueue) {
  Ports ports;
  ports.scheduler = provider.platform().scheduler;
  ports.center = provider.platform().notificationCenter;
  ports.siteManager = KSSiteManagerInternal::sharedInternal(provider);
  ports.visitTracker = KSVisitTracker::sharedTracker(provider);
  ports.delegateQueue = std::move(delegateQueue);
  return create(std::move(ports));
}

std::shared_ptr<KSMicroLocationManager> KSMicroLocationManager::create(Ports ports) {
  auto manager = std::make_shared<KSMicroLocationManager>(Token{}, std::move(ports));
  manager->subscribe();
  return manager;
}

KSMicroLocationManager::KSMicroLocationManager(Token, Ports ports) : ports_(std::move(ports)) {
  scheduler_ = ports_.scheduler ? ports_.scheduler : platform::dispatch::Scheduler::shared();
  delegateQueue_ = ports_.delegateQueue ? ports_.delegateQueue : scheduler_->mainQueue();
}

void KSMicroLocationManager::subscribe() {
  auto self = shared_from_this();
  // Added as this class, so the multicasts know which messages it handles.
  if (ports_.siteManager) ports_.siteManager->addDelegate(self);
  if (ports_.visitTracker) ports_.visitTracker->addDelegate(self);
}

KSMicroLocationManager::~KSMicroLocationManager() {
  if (ports_.siteManager) ports_.siteManager->removeDelegate(static_cast<KSSiteManagerInternalDelegate*>(this));
  if (ports_.visitTracker) ports_.visitTracker->removeDelegate(static_cast<KSVisitTrackerDelegate*>(this));
}

platform::Error KSMicroLocationManager::errorWithDescription(std::string_view description) {
  platform::Error e;
  e.domain = "com.kestrine.KSMicroLocationManager";
  e.code = -1;
  e.localizedDescription = std::string(description);
  return e;
}

// --- availability

bool KSMicroLocationManager::locationServicesEnabled(KSInstanceProvider& p) {
  return KSLocationManagerClient::locationServicesEnabled(p);
}
platform::location::AuthorizationStatus KSMicroLocationManager::authorizationStatus(KSInstanceProvider& p) {
  return KSLocationManagerClient::authorizationStatus(p);
}
bool KSMicroLocationManager::isAuthorized(KSInstanceProvider& p) { return KSLocationManagerClient::isAuthorized(p); }
bool KSMicroLocationManager::isSiteMonitoringAvailable(KSInstanceProvider& p) {
  return KSLocationManagerClient::isBeaconRegionMonitoringAvailable(p);
}
bool KSMicroLocationManager::isBeaconRangingAvailable(KSInstanceProvider& p) {
  return KSLocationManagerClient::isBeaconRangingAvailable(p);
}
bool KSMicroLocationManager::isMicroLocationUpdatingAvailable(KSInstanceProvider& p) {
  return locationServicesEnabled(p) && isAuthorized(p) && isSiteMonitoringAvailable(p) && isBeaconRangingAvailable(p);
}

// --- delegate and options

std::shared_ptr<KSMicroLocationManagerDelegate> KSMicroLocationManager::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}
void KSMicroLocationManager::setDelegate(const std::shared_ptr<KSMicroLocationManagerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}
std::shared_ptr<platform::dispatch::Queue> KSMicroLocationManager::delegateQueue() const {
  std::lock_guard lock(mutex_);
  return delegateQueue_;
}

template <class M, class... A>
void KSMicroLocationManager::callDelegateLocked(const std::shared_ptr<platform::dispatch::Queue>& queue, M method,
                                                A... args) {
  if (delegate_.expired()) return;
  queue->async([weakSelf = weak_from_this(), weakDelegate = delegate_, method, args...]() mutable {
    auto self = weakSelf.lock();
    auto d = weakDelegate.lock();
    if (self && d) ((*d).*method)(self.get(), std::move(args)...);
  });
}

bool KSMicroLocationManager::updateMicroLocationOnlyOnProximityChanges() const {
  std::lock_guard lock(mutex_);
  return onlyOnProximityChanges_;
}
void KSMicroLocationManager::setUpdateMicroLocationOnlyOnProximityChanges(bool on) {
  std::lock_guard lock(mutex_);
  onlyOnProximityChanges_ = on;
}
bool KSMicroLocationManager::isUpdatingMicroLocationEnabled() const {
  std::lock_guard lock(mutex_);
  return updating_;
}
double KSMicroLocationManager::distanceFilter() const {
  std::lock_guard lock(mutex_);
  return distanceFilter_;
}
void KSMicroLocationManager::setDistanceFilter(double metres) {
  {
    std::lock_guard lock(mutex_);
    distanceFilter_ = metres;
  }
  scheduler_->mainQueue()->async([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->fireDidUpdateNearbySitesIfNeeded();
  });
}
std::shared_ptr<KSMicroLocation> KSMicroLocationManager::microLocation() const {
  std::lock_guard lock(mutex_);
  return microLocation_;
}

void KSMicroLocationManager::startUpdatingMicroLocation() {
  std::lock_guard lock(mutex_);
  updating_ = true;
}
void KSMicroLocationManager::stopUpdatingMicroLocation() {
  std::lock_guard lock(mutex_);
  if (!updating_) return;
  updating_ = false;
  microLocation_.reset();
}

// --- records

std::shared_ptr<KSSiteActivityMonitor> KSMicroLocationManager::recordLocked(const std::string& siteID) {
  auto& record = records_[siteID];
  if (!record) record = KSSiteActivityMonitor::initWithSiteID(siteID, scheduler_->clock());
  return record;
}

std::shared_ptr<KSSiteActivityMonitor> KSMicroLocationManager::siteActivityMonitorForSiteID(const std::string& siteID) {
  std::lock_guard lock(mutex_);
  return recordLocked(siteID);
}

std::shared_ptr<KSSiteActivityMonitor> KSMicroLocationManager::siteActivityMonitorForSite(
    const std::shared_ptr<KSSite>& site) {
  if (!site) return nullptr;
  return siteActivityMonitorForSiteID(idOf(site));
}

KSMicroLocationManager::Records KSMicroLocationManager::siteActivityMonitorsWithSiteState(std::uint64_t state) const {
  std::lock_guard lock(mutex_);
  Records out;
  for (const auto& [id, record] : records_) {
    if (record->siteState() == state) out.push_back(record);
  }
  return out;
}

// --- monitoring and ranging

KSMicroLocationManager::Sites KSMicroLocationManager::nearbySites() {
  if (!ports_.siteManager) return {};
  return ports_.siteManager->nearbySitesUsingDistanceFilter(distanceFilter());
}

void KSMicroLocationManager::startMonitoringSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  {
    std::lock_guard lock(mutex_);
    auto record = recordLocked(idOf(site));
    if (record->isMonitoringSite()) return;
    record->startMonitoringSite();
    callDelegateLocked(scheduler_->mainQueue(), &KSMicroLocationManagerDelegate::microLocationManagerDidStartMonitoringForSite,
                       site);
  }
  // The answer comes back through siteManagerInternalDidDetermineStateForSite.
  if (ports_.siteManager) ports_.siteManager->requestStateForSite(site);
}

void KSMicroLocationManager::stopMonitoringSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  std::lock_guard lock(mutex_);
  auto record = recordLocked(idOf(site));
  if (record->isMonitoringSite()) record->stopMonitoringSite();
}

void KSMicroLocationManager::stopMonitoringAllSites() {
  for (const auto& site : monitoredSites()) stopMonitoringSite(site);
}

bool KSMicroLocationManager::isMonitoringSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return false;
  return siteActivityMonitorForSite(site)->isMonitoringSite();
}

void KSMicroLocationManager::startRangingBeaconsInSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  std::lock_guard lock(mutex_);
  recordLocked(idOf(site))->startRangingBeacons();
}

void KSMicroLocationManager::stopRangingBeaconsInSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  std::lock_guard lock(mutex_);
  recordLocked(idOf(site))->stopRangingBeacons();
}

KSMicroLocationManager::Sites KSMicroLocationManager::monitoredSites() {
  std::vector<std::string> ids;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, record] : records_) {
      if (record->isMonitoringSite()) ids.push_back(id);
    }
  }
  if (ids.empty() || !ports_.siteManager) return {};
  return ports_.siteManager->cachedSitesWithSiteIDs(ids);
}

KSMicroLocationManager::Sites KSMicroLocationManager::rangedSites() {
  std::vector<std::string> ids;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, record] : records_) {
      if (record->isRangingBeacons()) ids.push_back(id);
    }
  }
  if (ids.empty() || !ports_.siteManager) return {};
  return ports_.siteManager->cachedSitesWithSiteIDs(ids);
}

void KSMicroLocationManager::requestStateForSite(const std::shared_ptr<KSSite>& site) {
  if (!site) return;
  std::lock_guard lock(mutex_);
  if (delegate_.expired()) return;
  // The state is read when the call runs, so it is the record's latest.
  delegateQueue_->async([weakSelf = weak_from_this(), weakDelegate = delegate_, site] {
    auto self = weakSelf.lock();
    auto d = weakDelegate.lock();
    if (!self || !d) return;
    const auto state = self->siteActivityMonitorForSite(site)->siteState();
    d->microLocationManagerDidDetermineStateForSite(self.get(), state, site);
  });
}

// --- enter and exit

void KSMicroLocationManager::postLater(Pending& pending, std::string_view name, const std::shared_ptr<KSSite>& site) {
  if (!ports_.center) return;
  pending.posts.push_back([center = ports_.center, name = std::string(name), site, weak = weak_from_this()] {
    auto self = weak.lock();
    platform::Dict info{{std::string(KSMicroLocationManagerNotificationSiteItem), platform::Value(site)}};
    center->post(name, self, std::move(info));
  });
}

void KSMicroLocationManager::run(Pending& pending) {
  for (auto& post : pending.posts) post();
  pending.posts.clear();
}

void KSMicroLocationManager::enteredSiteLocked(const std::shared_ptr<KSSite>& site, Pending& pending) {
  if (!site) return;
  auto record = recordLocked(idOf(site));
  if (record->siteState() == KSSiteStateInside) return;
  record->enteredSite();
  if (record->isMonitoringSite() || updating_) {
    callDelegateLocked(delegateQueue_, &KSMicroLocationManagerDelegate::microLocationManagerDidEnterSite, site);
    postLater(pending, KSMicroLocationManagerDidEnterSite, site);
  }
  updateMicroLocationLocked();
}

void KSMicroLocationManager::exitedSiteLocked(const std::shared_ptr<KSSite>& site, Pending& pending) {
  if (!site) return;
  auto record = recordLocked(idOf(site));
  if (record->siteState() != KSSiteStateInside) return;
  record->exitedSite();
  if (record->isMonitoringSite() || updating_) {
    callDelegateLocked(delegateQueue_, &KSMicroLocationManagerDelegate::microLocationManagerDidExitSite, site);
    postLater(pending, KSMicroLocationManagerDidExitSite, site);
  }
  updateMicroLocationLocked();
}

void KSMicroLocationManager::enteredSite(const std::shared_ptr<KSSite>& site) {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    enteredSiteLocked(site, pending);
  }
  run(pending);
}

void KSMicroLocationManager::exitedSite(const std::shared_ptr<KSSite>& site) {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    exitedSiteLocked(site, pending);
  }
  run(pending);
}

// --- snapshots

bool KSMicroLocationManager::microLocationsAreDifferent(const MicroLocations& microLocations) {
  return kestrine::microLocationsAreDifferent(microLocations);
}

void KSMicroLocationManager::updateMicroLocation() {
  std::lock_guard lock(mutex_);
  updateMicroLocationLocked();
}

void KSMicroLocationManager::updateMicroLocationLocked() {
  if (!updating_) return;
  auto deepCopy = [](const Beacons& beacons) {
    Beacons out;
    out.reserve(beacons.size());
    for (const auto& b : beacons) {
      if (b) out.push_back(b->copy());
    }
    return out;
  };
  KSMicroLocation::Groups groups;
  Sites sites;
  for (const auto& [id, record] : records_) {
    if (id.empty() || record->siteState() != KSSiteStateInside) continue;
    auto beacons = record->lastRangedBeacons();
    if (beacons.empty()) continue;
    groups[id] = deepCopy(beacons);
    if (ports_.siteManager) {
      if (auto site = ports_.siteManager->cachedSiteWithSiteID(id)) sites.push_back(site);
    }
  }
  if (auto unsited = recordLocked("")->lastRangedBeacons(); !unsited.empty()) groups[""] = deepCopy(unsited);

  auto next = std::make_shared<KSMicroLocation>();
  next->setTimestamp(scheduler_->clock()->now());
  next->setSites(std::move(sites));
  next->setBeaconsForSiteID(std::move(groups));

  MicroLocations candidates;
  if (microLocation_) candidates.push_back(microLocation_);
  candidates.push_back(next);
  if (onlyOnProximityChanges_ && !kestrine::microLocationsAreDifferent(candidates)) return;
  callDelegateLocked(delegateQueue_, &KSMicroLocationManagerDelegate::microLocationManagerDidUpdateMicroLocations,
                     candidates);
  microLocation_ = std::move(next);
}

// --- nearby sites

void KSMicroLocationManager::fireDidUpdateNearbySitesIfNeeded() {
  // The site manager answers under its own lock and calls nothing of the host.
  auto nearby = nearbySites();
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    if (sameSites(lastNearbySites_, nearby)) return;
    lastNearbySites_ = nearby;
    callDelegateLocked(delegateQueue_, &KSMicroLocationManagerDelegate::microLocationManagerDidUpdateNearbySites,
                       nearby);
    if (ports_.center) {
      pending.posts.push_back([center = ports_.center, weak = weak_from_this()] {
        center->post(std::string(KSMicroLocationManagerDidUpdateNearbySites), weak.lock());
      });
    }
  }
  run(pending);
}

// --- the site manager

void KSMicroLocationManager::siteManagerDidRemoveAllActivityMonitors() {
  std::lock_guard lock(mutex_);
  records_.clear();
  lastNearbySites_.clear();
  microLocation_.reset();
}

void KSMicroLocationManager::siteManagerInternalDidDetermineStateForSite(unsigned long state,
                                                                          std::shared_ptr<KSSite> site) {
  if (state == KSSiteStateInside) {
    enteredSite(site);
  } else if (state == KSSiteStateOutside) {
    exitedSite(site);
  }
}

void KSMicroLocationManager::siteManagerInternalDidRangeBeaconsForSiteIDInSites(BeaconsForSiteID groups,
                                                                                 SiteList sites) {
  Pending pending;
  {
    std::lock_guard lock(mutex_);
    bool sawUnsited = false;
    for (const auto& [siteID, group] : groups) {
      if (siteID.empty()) sawUnsited = true;
      auto record = recordLocked(siteID);
      if (!siteID.empty() && ports_.siteManager) {
        enteredSiteLocked(ports_.siteManager->cachedSiteWithSiteID(siteID), pending);
      }
      record->rangedBeacons(group);
      if (record->isRangingBeacons()) {
        std::shared_ptr<KSSite> inPass;
        for (const auto& s : sites) {
          if (s && idOf(s) == siteID) {
            inPass = s;
            break;
          }
        }
        callDelegateLocked(delegateQueue_, &KSMicroLocationManagerDelegate::microLocationManagerDidRangeBeaconsInSite,
                           group, inPass);
      }
    }
    // Beacons without a site that are no longer heard leave the snapshot at once.
    if (!sawUnsited) recordLocked("")->rangedBeacons({});
    updateMicroLocationLocked();
  }
  run(pending);
}

// --- the visit tracker

void KSMicroLocationManager::visitTrackerDidBeginVisitForBeaconsWithSerialNumbers(SerialNumbers serialNumbers) {
  std::lock_guard lock(mutex_);
  callDelegateLocked(delegateQueue_,
                     &KSMicroLocationManagerDelegate::microLocationManagerDidBeginVisitForBeaconsWithSerialNumbers,
                     std::move(serialNumbers));
}

void KSMicroLocationManager::visitTrackerDidEndVisitForBeaconsWithSerialNumbers(SerialNumbers serialNumbers) {
  std::lock_guard lock(mutex_);
  callDelegateLocked(delegateQueue_,
                     &KSMicroLocationManagerDelegate::microLocationManagerDidEndVisitForBeaconsWithSerialNumbers,
                     std::move(serialNumbers));
}

}  // namespace velmora::kestrine
