#include "beacons/microlocation/KSVisitTracker.h"

#include <cmath>
#include <utility>

#include "beacons/api/KSApiOperation.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSSiteStorageAdapter.h"
#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSIdentityProvider.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "platform/app/Application.h"
#include "platform/core/Uuid.h"

namespace velmora::kestrine {

using platform::Date;

namespace {

// A visit as the cloud poster takes it: its JSON form, and the post date written back to it
// (and through it to its row).
class BeaconVisitPostable final : public KSApiPostable {
 public:
  explicit BeaconVisitPostable(std::shared_ptr<KSBeaconVisit> visit) : visit_(std::move(visit)) {}
  platform::Value toDictionary() const override { return platform::Value(visit_->toDictionary()); }
  void setLastPostedAt(Date at) override { visit_->setLastPostedAt(at); }

 private:
  std::shared_ptr<KSBeaconVisit> visit_;
};

template <class T>
std::shared_ptr<T> madeOrNull(const std::weak_ptr<KSInstanceProvider>& weak, std::string_view name) {
  auto p = weak.lock();
  if (!p || !p->hasSingleton(name)) return nullptr;
  return p->singleton<T>(name, {});
}

}  // namespace

std::shared_ptr<KSVisitTracker> KSVisitTracker::sharedTracker(KSInstanceProvider& provider) {
  return provider.singleton<KSVisitTracker>(kSingletonName, {});
}

void KSVisitTracker::installMaker(KSInstanceProvider& provider, Ports ports) {
  provider.installMaker<KSVisitTracker>(std::string(kSingletonName), [ports](KSInstanceProvider& p) {
    Ports filled = ports;
    const auto& platform = p.platform();
    std::weak_ptr<KSInstanceProvider> weak = p.weak_from_this();
    if (!filled.scheduler) filled.scheduler = platform.scheduler;
    if (!filled.center) filled.center = platform.notificationCenter;
    if (!filled.store) {
      auto adapter = std::make_shared<KSSiteStorageAdapter>([weak]() -> std::shared_ptr<KSLocalStorageManager> {
        auto provider = weak.lock();
        return provider ? KSLocalStorageManager::sharedManager(*provider) : nullptr;
      });
      filled.store = [adapter] { return adapter; };
    }
    if (!filled.postBeaconVisit) {
      // The operation manager is looked up at each post, so one made after the tracker is found.
      filled.postBeaconVisit = [weak](std::shared_ptr<KSBeaconVisit> visit) {
        if (!visit) return;
        if (auto m = madeOrNull<KSApiOperationManager>(weak, KSApiOperationManager::kSingletonName)) {
          m->postBeaconVisit(std::make_shared<BeaconVisitPostable>(std::move(visit)));
        }
      };
    }
    auto hub = KSBeaconManagerInternal::sharedInternal(p);
    std::weak_ptr<KSBeaconManagerInternal> weakHub = hub;
    if (!filled.processEndedBeaconVisit) {
      filled.processEndedBeaconVisit = [weakHub](const std::shared_ptr<KSBeaconVisit>& visit) {
        auto h = weakHub.lock();
        if (!h || !visit) return;
        auto u16 = [](const platform::Value& v) -> std::optional<std::uint16_t> {
          auto n = v.toUInt64();
          if (!n || *n > 0xFFFF) return std::nullopt;
          return static_cast<std::uint16_t>(*n);
        };
        h->processEndedBeaconVisit(visit->proximityUUIDString(), u16(visit->major()), u16(visit->minor()),
                                   visit->bluetoothAddress());
      };
    }
    auto client = KSLocationManagerClient::sharedClient(p);
    std::weak_ptr<KSLocationManagerClient> weakClient = client;
    if (!filled.location) {
      filled.location = [weakClient]() -> std::optional<platform::location::Location> {
        auto c = weakClient.lock();
        return c ? c->location() : std::nullopt;
      };
    }
    auto identity = KSIdentityProvider::sharedIdentityProvider(p);
    std::weak_ptr<KSIdentityProvider> weakIdentity = identity;
    if (!filled.deviceIdentifier) {
      filled.deviceIdentifier = [weakIdentity] {
        auto i = weakIdentity.lock();
        return i ? i->deviceIdentifier() : std::string();
      };
    }
    if (!filled.sessionIdentifier) {
      filled.sessionIdentifier = [weakIdentity] {
        auto i = weakIdentity.lock();
        return i ? i->sessionIdentifier().value_or("") : std::string();
      };
    }
    if (!filled.isAppInBackground) {
      std::weak_ptr<platform::app::Application> app = platform.app;
      filled.isAppInBackground = [app] {
        auto a = app.lock();
        return KSDefinitionsInternal::isAppInBackground(a.get());
      };
    }
    if (!filled.trackBeaconVisits) {
      auto configurator = KSConfigurator::sharedConfigurator(p);
      std::weak_ptr<KSConfigurator> weakConfigurator = configurator;
      filled.trackBeaconVisits = [weakConfigurator] {
        auto c = weakConfigurator.lock();
        return !c || c->trackBeaconVisits();
      };
    }
    auto tracker = create(std::move(filled));
    if (client) client->addDelegate(tracker);
    if (hub) hub->addDelegate(tracker);
    return tracker;
  });
}

std::shared_ptr<KSVisitTracker> KSVisitTracker::create(Ports ports) {
  auto tracker = std::make_shared<KSVisitTracker>(Token{}, std::move(ports));
  tracker->subscribe();
  return tracker;
}

KSVisitTracker::KSVisitTracker(Token, Ports ports) : ports_(std::move(ports)) {
  scheduler_ = ports_.scheduler ? ports_.scheduler : platform::dispatch::Scheduler::shared();
  delegateQueue_ = scheduler_->makeSerialQueue(std::string(kDelegateQueueLabel));
  reloadQueue_ = scheduler_->makeSerialQueue(std::string(kDelegateQueueLabel) + ".reload");
}

KSVisitTracker::~KSVisitTracker() {
  if (ports_.center) {
    for (const auto& token : observers_) ports_.center->removeObserver(token);
  }
}

void KSVisitTracker::subscribe() {
  if (!ports_.center) return;
  std::weak_ptr<KSVisitTracker> weak = weak_from_this();
  observers_.push_back(ports_.center->addObserver(std::string(KSNotificationDidStartRunning), nullptr,
                                                  scheduler_->mainQueue(), [weak](const auto&) {
                                                    if (auto self = weak.lock()) self->sdkDidStartRunning();
                                                  }));
}

Date KSVisitTracker::now() const { return scheduler_->clock()->now(); }
bool KSVisitTracker::inBackground() const { return ports_.isAppInBackground && ports_.isAppInBackground(); }
std::shared_ptr<KSVisitStorePort> KSVisitTracker::store() const { return ports_.store ? ports_.store() : nullptr; }
void KSVisitTracker::saveContext() {
  if (auto s = store()) s->saveContext();
}

bool KSVisitTracker::isBeaconVisitTrackingEnabled() const {
  return !ports_.trackBeaconVisits || ports_.trackBeaconVisits();
}

std::shared_ptr<KSBeaconVisit> KSVisitTracker::currentBeaconVisitForSerialNumber(const std::string& serialNumber) const {
  if (serialNumber.empty()) return nullptr;
  std::lock_guard lock(mutex_);
  auto it = beaconVisitForSerialNumber_.find(serialNumber);
  return it == beaconVisitForSerialNumber_.end() ? nullptr : it->second;
}

std::shared_ptr<KSBeaconRegionVisit> KSVisitTracker::openBeaconRegionVisitForIdentifier(
    const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  auto it = beaconRegionVisitForRegionId_.find(identifier);
  return it == beaconRegionVisitForRegionId_.end() ? nullptr : it->second;
}

std::int64_t KSVisitTracker::consecutiveRangeMissesForSerialNumber(const std::string& serialNumber) const {
  std::lock_guard lock(mutex_);
  auto it = consecutiveRangeMissesForSerialNumber_.find(serialNumber);
  return it == consecutiveRangeMissesForSerialNumber_.end() ? 0 : it->second;
}

namespace {

// The beacon's maker values that a visit follows. Firmware and battery come from the
// latest maker advertisement only, never from the cloud record's stored values: a visit
// reports what the beacon itself said, and keeps its last heard value on a pass without one.
void copyBeaconValues(KSBeaconVisit& visit, const KSBeacon& beacon) {
  if (auto mode = beacon.beaconMode()) visit.setBeaconModeID(mode->beaconModeID());
  const auto uid = beacon.objectFromLatestKestrineAdDataForKey(KSAdDataFirmwareUIDKey);
  if (const auto* text = uid.string()) visit.setFirmwareUID(*text);
  auto battery = beacon.objectFromLatestKestrineAdDataForKey(KSAdDataBatteryLevelKey);
  if (!battery.isAbsent() && !battery.isNull()) visit.setBatteryLevel(std::move(battery));
}

}  // namespace

std::shared_ptr<KSBeaconVisit> KSVisitTracker::beginBeaconVisitWithBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  auto visit = beginVisit(beacon);
  if (visit && ports_.postBeaconVisit) ports_.postBeaconVisit(visit);
  return visit;
}

std::shared_ptr<KSBeaconVisit> KSVisitTracker::beginVisit(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return nullptr;
  const auto serial = beacon->serialNumber().value_or("");
  if (serial.empty()) return nullptr;  // a visit no one could track, post or end
  std::shared_ptr<KSBeaconVisit> visit;
  if (auto s = store()) visit = s->managedBeaconVisitForSerialNumber(serial);
  if (!visit) visit = std::make_shared<KSBeaconVisit>();

  const auto at = now();
  const auto rssi = beacon->rssi();
  std::lock_guard update(updateMutex_);
  visit->setBeaconVisitID(platform::Uuid::random().string());
  visit->setProximityUUIDString(beacon->proximityUUIDString());
  visit->setBluetoothAddress(beacon->bluetoothAddress());
  visit->setMajor(beacon->major());
  visit->setMinor(beacon->minor());
  visit->setSerialNumber(serial);
  visit->setSDKVersion(std::string(KSSDKVersion));
  copyBeaconValues(*visit, *beacon);
  visit->setSiteID(beacon->siteID());
  visit->setLocation(ports_.location ? ports_.location() : std::nullopt);
  if (ports_.deviceIdentifier) visit->setDeviceUUID(ports_.deviceIdentifier());
  if (ports_.sessionIdentifier) visit->setSessionUUID(ports_.sessionIdentifier());
  visit->setBeganAt(at);
  visit->setEnteredCProxAt(at);
  visit->setDeviceWasClosestAt(at);
  visit->setRssiWhenVisitBegan(rssi);
  visit->setRssiWhenCProxEntered(rssi);
  visit->setRssiWhenDeviceWasClosest(rssi);
  visit->setRssiWhenVisitEnded(platform::Value());
  visit->setRssiWhenCProxExited(platform::Value());
  visit->setExitedCProxAt(std::nullopt);
  visit->setEndedAt(std::nullopt);
  visit->setCProx(beacon->proximity());
  visit->setCDist(platform::Value(beacon->accuracy()));
  visit->setLastRangedAt(beacon->lastRangedAt());
  visit->setBeganInBackground(inBackground());
  visit->setCurrentlyVisiting(true);
  {
    std::lock_guard lock(mutex_);
    beaconVisitForSerialNumber_[serial] = visit;
  }
  return visit;
}

std::map<std::string, std::shared_ptr<KSBeacon>> KSVisitTracker::updateBeaconVisitsWithRangedBeacons(
    const std::vector<std::shared_ptr<KSBeacon>>& beacons) {
  std::map<std::string, std::shared_ptr<KSBeacon>> ranged;
  std::vector<std::string> began;
  std::vector<std::shared_ptr<KSBeaconVisit>> begun;
  const auto at = now();
  {
    std::lock_guard update(updateMutex_);
    for (const auto& beacon : beacons) {
      if (!beacon) continue;
      const auto serial = beacon->serialNumber().value_or("");
      if (serial.empty()) continue;
      auto visit = currentBeaconVisitForSerialNumber(serial);
      if (!visit) {
        if (beacon->proximity() != 0) {
          if (auto begunVisit = beginVisit(beacon)) {
            begun.push_back(std::move(begunVisit));
            began.push_back(serial);
          }
        }
      } else {
        if (!visit->isCurrentlyVisiting()) visit->setCurrentlyVisiting(true);
        copyBeaconValues(*visit, *beacon);
        const double accuracy = beacon->accuracy();
        const auto cDist = visit->cDist();
        const auto closest = cDist.toDouble();
        if (accuracy > -0.5 && (!closest || *closest > accuracy)) {
          visit->setCDist(platform::Value(accuracy));
          visit->setDeviceWasClosestAt(at);
          visit->setRssiWhenDeviceWasClosest(beacon->rssi());
        }
        const auto p = beacon->proximity();
        const auto c = visit->cProx();
        if (p != 0 && p < c) {
          visit->setEnteredCProxAt(at);
          visit->setExitedCProxAt(std::nullopt);
          visit->setCProx(p);
          visit->setRssiWhenCProxEntered(beacon->rssi());
        } else if (!visit->exitedCProxAt() && (p == 0 || p > c)) {
          visit->setExitedCProxAt(at);
          visit->setRssiWhenCProxExited(beacon->rssi());
        }
      }
      ranged[serial] = beacon;
    }
  }
  if (ports_.postBeaconVisit) {
    for (const auto& visit : begun) ports_.postBeaconVisit(visit);
  }
  if (!began.empty()) {
    saveContext();
    multicast_.invoke(&KSVisitTrackerDelegate::visitTrackerDidBeginVisitForBeaconsWithSerialNumbers, began);
  }
  return ranged;
}

void KSVisitTracker::endBeaconVisitsNotInRangedBeaconForSerialNumber(
    const std::map<std::string, std::shared_ptr<KSBeacon>>& ranged) {
  const auto at = now();
  std::vector<Ending> toEnd;
  std::vector<std::string> toRemove;
  {
    std::lock_guard update(updateMutex_);
    std::map<std::string, std::shared_ptr<KSBeaconVisit>> visits;
    {
      std::lock_guard lock(mutex_);
      visits = beaconVisitForSerialNumber_;
    }
    for (const auto& [serial, visit] : visits) {
      const auto misses = consecutiveRangeMissesForSerialNumber(serial);
      const auto last = visit->lastRangedAt();
      const double age = last ? std::fabs(at.timeIntervalSince(*last)) : 0.0;
      const bool open = visit->isCurrentlyVisiting();
      std::int64_t nextMisses = misses;
      if (age > kResumableWithinSeconds && misses >= kMissesToDrop) {
        if (open) toEnd.emplace_back(visit, std::nullopt);
        toRemove.push_back(serial);
        nextMisses = 0;
      } else if (!open) {
        continue;
      } else if (auto it = ranged.find(serial); it != ranged.end()) {
        visit->setLastRangedAt(it->second->lastRangedAt());
        visit->setEndedInBackground(inBackground());
        nextMisses = 0;
      } else {
        nextMisses = misses + 1;
        if (nextMisses >= kMissesToEnd) toEnd.emplace_back(visit, std::nullopt);
      }
      std::lock_guard lock(mutex_);
      consecutiveRangeMissesForSerialNumber_[serial] = nextMisses;
    }
  }
  endVisits(toEnd);
  std::lock_guard lock(mutex_);
  for (const auto& serial : toRemove) beaconVisitForSerialNumber_.erase(serial);
}

void KSVisitTracker::endBeaconVisits(const std::vector<std::shared_ptr<KSBeaconVisit>>& visits) {
  std::vector<Ending> endings;
  for (const auto& v : visits) endings.emplace_back(v, std::nullopt);
  endVisits(endings);
}

void KSVisitTracker::endVisits(const std::vector<Ending>& visits) {
  if (visits.empty()) return;
  const auto at = now();
  std::vector<std::string> serials;
  {
    std::lock_guard update(updateMutex_);
    for (const auto& [visit, endedAt] : visits) {
      if (!visit) continue;
      visit->setCurrentlyVisiting(false);
      visit->setEndedAt(endedAt.value_or(at));
      if (auto serial = visit->serialNumber()) serials.push_back(*serial);
    }
  }
  for (const auto& [visit, endedAt] : visits) {
    if (!visit) continue;
    if (ports_.postBeaconVisit) ports_.postBeaconVisit(visit);
    if (ports_.processEndedBeaconVisit) ports_.processEndedBeaconVisit(visit);
  }
  multicast_.invoke(&KSVisitTrackerDelegate::visitTrackerDidEndVisitForBeaconsWithSerialNumbers, serials);
  saveContext();
}

void KSVisitTracker::endBeaconVisitsForBeaconsLastRangedBeforeDate(Date date) {
  std::vector<std::shared_ptr<KSBeaconVisit>> visits;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [serial, visit] : beaconVisitForSerialNumber_) {
      auto last = visit->lastRangedAt();
      if (!last || *last < date) visits.push_back(visit);
    }
  }
  endBeaconVisits(visits);
}

void KSVisitTracker::loadUnEndedAndResumableBeaconVisitsFromLocalStore() {
  auto s = store();
  if (!s) return;
  std::weak_ptr<KSVisitTracker> weak = weak_from_this();
  auto reloadQueue = reloadQueue_;
  s->fetchUnEndedAndResumableBeaconVisits(now().addingTimeInterval(-kResumableWithinSeconds),
                                          [weak, reloadQueue](KSVisitStorePort::Visits visits) {
                                            // Off the store's queue before taking the update lock.
                                            reloadQueue->async([weak, visits = std::move(visits)] {
                                              if (auto self = weak.lock()) self->reloadVisits(visits);
                                            });
                                          });
}

void KSVisitTracker::reloadVisits(const KSVisitStorePort::Visits& visits) {
  std::vector<Ending> toEnd;
  {
    std::lock_guard update(updateMutex_);
    for (const auto& stored : visits) {
      if (!stored) continue;
      const auto serial = stored->serialNumber().value_or("");
      if (serial.empty()) continue;
      auto tracked = currentBeaconVisitForSerialNumber(serial);
      if (!tracked) {
        if (!stored->endedAt()) stored->setCurrentlyVisiting(true);
        std::lock_guard lock(mutex_);
        beaconVisitForSerialNumber_[serial] = stored;
        continue;
      }
      const auto trackedBegan = tracked->beganAt(), storedBegan = stored->beganAt();
      // The earlier of the two ends where the later one began, and keeps that time.
      if (trackedBegan >= storedBegan) {
        toEnd.emplace_back(stored, trackedBegan);
      } else {
        toEnd.emplace_back(tracked, storedBegan);
        // An open row taking the place must be open here too, or nothing would ever end it.
        if (!stored->endedAt()) stored->setCurrentlyVisiting(true);
        std::lock_guard lock(mutex_);
        beaconVisitForSerialNumber_[serial] = stored;
      }
    }
  }
  endVisits(toEnd);
}

void KSVisitTracker::postUnPostedVisitsFromLocalStore() {
  auto s = store();
  if (!s) return;
  // The window is the purge's: what the store still holds and has not posted gets posted.
  const auto since = mt::dateDaysBefore(now(), KSEventHistoryRetainedForDays);
  std::weak_ptr<KSVisitTracker> weak = weak_from_this();
  s->fetchUnPostedBeaconVisits(since, [weak](KSVisitStorePort::Visits visits) {
    auto self = weak.lock();
    if (!self || !self->ports_.postBeaconVisit) return;
    for (const auto& visit : visits) {
      if (visit && visit->serialNumber() && !visit->serialNumber()->empty()) self->ports_.postBeaconVisit(visit);
    }
  });
}

void KSVisitTracker::sdkDidStartRunning() {
  if (auto s = store()) {
    s->deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(mt::dateDaysBefore(now(), KSEventHistoryRetainedForDays),
                                                                   KSEventHistoryRecordLimit);
  }
  loadUnEndedAndResumableBeaconVisitsFromLocalStore();
  postUnPostedVisitsFromLocalStore();
  saveContext();
}

void KSVisitTracker::beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(Hub, Beacons beacons) {
  if (!isBeaconVisitTrackingEnabled()) return;
  endBeaconVisitsNotInRangedBeaconForSerialNumber(updateBeaconVisitsWithRangedBeacons(beacons));
}

void KSVisitTracker::locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient*,
                                                               const std::shared_ptr<KSBeaconRegion>& region) {
  if (!region || !region->identifier()) return;
  const auto id = *region->identifier();
  std::lock_guard update(updateMutex_);
  if (openBeaconRegionVisitForIdentifier(id)) return;
  auto s = store();
  auto visit = s ? s->managedBeaconRegionVisitForIdentifier(id) : nullptr;
  if (!visit) return;
  visit->setBeganAt(now());
  visit->setBeaconRegionVisitID(platform::Uuid::random().string());
  std::lock_guard lock(mutex_);
  beaconRegionVisitForRegionId_[id] = visit;
}

void KSVisitTracker::locationManagerClientDidExitBeaconRegion(KSLocationManagerClient*,
                                                              const std::shared_ptr<KSBeaconRegion>& region) {
  if (!region || !region->identifier()) return;
  const auto id = *region->identifier();
  std::lock_guard update(updateMutex_);
  std::shared_ptr<KSBeaconRegionVisit> visit;
  {
    std::lock_guard lock(mutex_);
    auto it = beaconRegionVisitForRegionId_.find(id);
    if (it == beaconRegionVisitForRegionId_.end()) return;
    visit = std::move(it->second);
    beaconRegionVisitForRegionId_.erase(it);
  }
  visit->setEndedAt(now());
}

}  // namespace velmora::kestrine
