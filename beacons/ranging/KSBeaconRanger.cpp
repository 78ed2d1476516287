#include "beacons/ranging/KSBeaconRanger.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/foundation/KSEnumUtilities.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconArray.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kSerialQueueSingletonName = "KSBeaconRangerSerialQueue";

std::int64_t roundAwayFromZero(float v) { return static_cast<std::int64_t>(std::roundf(v)); }

std::optional<std::string> scanIDOf(const platform::Notification& n) {
  auto it = n.userInfo.find(KSScanManagerNotificationScanIDItem);
  const auto* id = it == n.userInfo.end() ? nullptr : it->second.string();
  if (!id || id->empty()) return std::nullopt;
  return *id;
}

std::optional<platform::Date> occurredAtOf(const platform::Notification& n) {
  auto it = n.userInfo.find(KSScanManagerNotificationOccurredAtItem);
  return it == n.userInfo.end() ? std::nullopt : it->second.toDate();
}

}  // namespace

// --- RSSI smoothing

void KSBeaconScanData::discoveredBeacon(const std::string& identifier, std::int64_t rssi) {
  cacheIdentifier = identifier;
  lastDiscoveredRSSI = rssi;
  if (rssi < -100 || rssi > -1) return;
  numberOfRSSIs += 1;
  rssiRunningTotal += rssi;
  const std::int64_t m = rssiRunningMean;
  if (m != 0) {
    const float k = m < rssi ? 0.3f : 0.2f;
    rssiRunningMean = roundAwayFromZero(static_cast<float>(m) + static_cast<float>(rssi - m) * k);
  } else if (previousScanRssiRunningMean >= 0) {
    rssiRunningMean = rssi;
  } else {
    rssiRunningMean = roundAwayFromZero(static_cast<float>(rssi + 2 * previousScanRssiRunningMean) / 3.0f);
  }
}

// --- making

std::shared_ptr<platform::dispatch::Queue> KSBeaconRanger::serialQueue(KSInstanceProvider& provider) {
  return provider.singleton<platform::dispatch::Queue>(kSerialQueueSingletonName, [](KSInstanceProvider& p) {
    auto scheduler = p.platform().scheduler ? p.platform().scheduler : platform::dispatch::Scheduler::shared();
    return scheduler->makeSerialQueue(std::string(kSerialQueueLabel));
  });
}

std::shared_ptr<KSBeaconRanger> KSBeaconRanger::create(std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                       std::shared_ptr<platform::dispatch::Queue> queue,
                                                       std::shared_ptr<platform::NotificationCenter> center,
                                                       std::weak_ptr<KSBeaconRangerCache> cache) {
  auto ranger = std::make_shared<KSBeaconRanger>(Token{}, std::move(scheduler), std::move(queue), std::move(center),
                                                 std::move(cache));
  ranger->subscribe();
  return ranger;
}

KSBeaconRanger::KSBeaconRanger(Token, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                               std::shared_ptr<platform::dispatch::Queue> queue,
                               std::shared_ptr<platform::NotificationCenter> center,
                               std::weak_ptr<KSBeaconRangerCache> cache)
    : scheduler_(scheduler ? std::move(scheduler) : platform::dispatch::Scheduler::shared()),
      queue_(queue ? std::move(queue) : scheduler_->makeSerialQueue(std::string(kSerialQueueLabel))),
      center_(std::move(center)),
      cache_(std::move(cache)) {}

KSBeaconRanger::~KSBeaconRanger() {
  if (center_) {
    for (const auto& token : observers_) center_->removeObserver(token);
  }
  std::shared_ptr<KSGCDTimer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(timer_);
  }
  if (timer) timer->invalidate();
}

void KSBeaconRanger::subscribe() {
  if (!center_) return;
  std::weak_ptr<KSBeaconRanger> weak = weak_from_this();
  observers_.push_back(center_->addObserver(std::string(KSScanManagerNotificationDidStartScan), nullptr, nullptr,
                                            [weak](const platform::Notification& n) {
                                              if (auto self = weak.lock()) self->didStartScan(n);
                                            }));
  observers_.push_back(center_->addObserver(std::string(KSScanManagerNotificationDidStopScan), nullptr, nullptr,
                                            [weak](const platform::Notification& n) {
                                              if (auto self = weak.lock()) self->didStopScan(n);
                                            }));
}

platform::Date KSBeaconRanger::now() const { return scheduler_->clock()->now(); }

void KSBeaconRanger::setDelegate(std::weak_ptr<KSBeaconRangerDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

bool KSBeaconRanger::isBeaconRangingEnabled() const { return enabled_.load(); }

// --- start and stop

void KSBeaconRanger::startRangingBeacons() {
  queue_->async([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    if (self->enabled_.exchange(true)) return;
    self->startTimer();
  });
}

void KSBeaconRanger::stopRangingBeacons() {
  queue_->async([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->mutex_);
      self->enabled_.store(false);
      self->scanMonitors_.clear();
      self->regionMonitors_.clear();
    }
    self->cancelTimer();
  });
}

void KSBeaconRanger::startTimer() {
  cancelTimer();
  std::lock_guard lock(mutex_);
  if (!enabled_) return;
  timer_ = KSGCDTimer::initWithDispatchQueue(queue_, 0, std::string("KSBeaconRanger"), scheduler_);
  timer_->scheduleBlock(
      [weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->rangeBeacons();
        self->startTimer();
      },
      kRangingIntervalInSeconds);
}

void KSBeaconRanger::cancelTimer() {
  std::shared_ptr<KSGCDTimer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(timer_);
  }
  if (timer) timer->invalidate();
}

// --- recording

void KSBeaconRanger::discoveredBeacon(const std::string& cacheIdentifier, const std::string& scanID,
                                      std::int64_t rssi) {
  if (!isBeaconRangingEnabled()) return;
  queue_->async([weak = weak_from_this(), cacheIdentifier, scanID, rssi] {
    if (auto self = weak.lock()) self->recordSighting(cacheIdentifier, scanID, rssi);
  });
}

void KSBeaconRanger::recordSighting(const std::string& cacheIdentifier, const std::string& scanID,
                                    std::int64_t rssi) {
  const auto at = now();
  std::lock_guard lock(mutex_);
  auto& monitor = scanMonitors_[scanID];
  if (!monitor) {
    monitor = std::make_shared<KSScanActivityMonitor>();
    monitor->scanID = scanID;
    monitor->startedAt = at;
  }
  auto it = monitor->beaconScanDataForBeaconKey.find(cacheIdentifier);
  if (it == monitor->beaconScanDataForBeaconKey.end()) {
    KSBeaconScanData data;
    if (const auto& previous = monitor->previousBeaconScanDataForBeaconKey) {
      if (auto p = previous->find(cacheIdentifier); p != previous->end()) {
        data.previousScanRssiRunningMean = p->second.rssiRunningMean;
      }
    }
    it = monitor->beaconScanDataForBeaconKey.emplace(cacheIdentifier, std::move(data)).first;
  }
  it->second.discoveredBeacon(cacheIdentifier, rssi);
}

void KSBeaconRanger::locationManagerRangedCLBeacons(std::vector<platform::location::Beacon> beacons,
                                                    const std::string& regionIdentifier) {
  if (!isBeaconRangingEnabled()) return;
  queue_->async([weak = weak_from_this(), beacons = std::move(beacons), regionIdentifier]() mutable {
    auto self = weak.lock();
    if (!self) return;
    const auto at = self->now();
    std::lock_guard lock(self->mutex_);
    auto it = std::find_if(self->regionMonitors_.begin(), self->regionMonitors_.end(),
                           [&](const auto& m) { return m->identifier == regionIdentifier; });
    std::shared_ptr<KSBeaconRegionActivityMonitor> monitor;
    if (it != self->regionMonitors_.end()) {
      monitor = *it;
    } else {
      monitor = std::make_shared<KSBeaconRegionActivityMonitor>();
      monitor->identifier = regionIdentifier;
      self->regionMonitors_.push_back(monitor);
    }
    monitor->clBeacons = std::move(beacons);
    monitor->lastRangedAt = at;
  });
}

// --- scan notifications

void KSBeaconRanger::didStartScan(const platform::Notification& n) {
  auto scanID = scanIDOf(n);
  if (!scanID) return;
  const auto at = now();
  std::lock_guard lock(mutex_);
  // With ranging off no pass prunes, so a start does it instead.
  if (!enabled_) pruneLocked(at);
  if (scanMonitors_.count(*scanID)) return;
  auto monitor = std::make_shared<KSScanActivityMonitor>();
  monitor->scanID = *scanID;
  // Seeded from the oldest scan still held.
  const KSScanActivityMonitor* oldest = nullptr;
  for (const auto& [id, m] : scanMonitors_) {
    if (m->startedAt && (!oldest || *m->startedAt < *oldest->startedAt)) oldest = m.get();
  }
  if (oldest) {
    monitor->previousBeaconScanDataForBeaconKey =
        std::make_shared<const std::map<std::string, KSBeaconScanData, std::less<>>>(oldest->beaconScanDataForBeaconKey);
  }
  monitor->startedAt = occurredAtOf(n).value_or(at);
  scanMonitors_.emplace(*scanID, std::move(monitor));
}

void KSBeaconRanger::didStopScan(const platform::Notification& n) {
  auto scanID = scanIDOf(n);
  if (!scanID) return;
  const auto at = now();
  std::lock_guard lock(mutex_);
  if (auto it = scanMonitors_.find(*scanID); it != scanMonitors_.end()) {
    it->second->stoppedAt = occurredAtOf(n).value_or(at);
  }
}

void KSBeaconRanger::pruneLocked(platform::Date at) {
  const auto scanLimit = at.addingTimeInterval(-kScanMonitorLifetimeInSeconds);
  std::erase_if(scanMonitors_, [&](const auto& entry) {
    return entry.second->startedAt && *entry.second->startedAt < scanLimit;
  });
  const auto regionLimit = at.addingTimeInterval(-kRegionMonitorLifetimeInSeconds);
  std::erase_if(regionMonitors_, [&](const auto& m) { return m->lastRangedAt < regionLimit; });
}

// --- the pass

std::int64_t KSBeaconRanger::measuredPowerAt1MeterForBeacon(const KSBeacon& beacon) {
  if (auto own = beacon.measuredPowerAt1Meter().toInt64()) return *own;
  if (auto loudness = beacon.beaconLoudness()) return loudness->measuredPowerAt1Meter();
  if (auto advertised = beacon.objectFromLatestAdDataWithKey(KSAdDataMeasuredPowerAt1MeterKey).toInt64()) {
    return *advertised;
  }
  return 0;
}

float KSBeaconRanger::calculateDistanceWithRSSI(std::int64_t rssi, std::int64_t measuredPowerAt1Meter) {
  const float exponent = (static_cast<float>(rssi) - static_cast<float>(measuredPowerAt1Meter)) / -20.0f;
  return static_cast<float>(std::pow(10.0, static_cast<double>(exponent)));
}

std::uint64_t KSBeaconRanger::calculateProximityWithDistance(float d) {
  if (d > 0 && d < 0.5f) return 1;
  if (d >= 0.5f && d < 3.0f) return 2;
  if (d >= 3.0f && d < 1000.0f) return 3;
  return 0;  // not positive, too far, or not a number
}

void KSBeaconRanger::rangeBeacons() {
  auto cache = cache_.lock();
  std::vector<std::shared_ptr<KSBeacon>> ranged;
  std::shared_ptr<KSBeaconRangerDelegate> delegate;
  const auto at = now();
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_.lock();
    pruneLocked(at);
    std::size_t bound = 0;
    for (const auto& region : regionMonitors_) bound += region->clBeacons.size();
    for (const auto& [id, m] : scanMonitors_) bound = std::max(bound, m->beaconScanDataForBeaconKey.size());
    std::unordered_set<const KSBeacon*> seen;
    seen.reserve(bound * 2);
    ranged.reserve(bound * 2);
    auto stamp = [&](const std::shared_ptr<KSBeacon>& beacon) {
      beacon->setLastRangedAt(at);
      if (!beacon->firstRangedAt()) beacon->setFirstRangedAt(at);
      if (seen.insert(beacon.get()).second) ranged.push_back(beacon);
    };

    if (cache) {
      for (const auto& region : regionMonitors_) {
        for (const auto& cl : region->clBeacons) {
          auto key = KSBeaconUtilities::iBeaconKeyForProximityUUIDString(cl.proximityUUID.string(), cl.major, cl.minor);
          if (!key) continue;
          auto beacon = cache->cachedBeaconWithIBeaconKey(*key);
          if (!beacon || seen.count(beacon.get())) continue;
          beacon->setRssi(platform::Value(cl.rssi));
          beacon->setAccuracy(cl.accuracy);
          beacon->setProximity(KSEnumUtilities::proximityForProximity(static_cast<std::int64_t>(cl.proximity)));
          stamp(beacon);
        }
      }

      std::vector<const KSScanActivityMonitor*> scans;
      scans.reserve(scanMonitors_.size());
      for (const auto& [id, m] : scanMonitors_) scans.push_back(m.get());
      std::stable_sort(scans.begin(), scans.end(), [](const auto* a, const auto* b) {
        return b->startedAt < a->startedAt;  // newest first
      });
      for (std::size_t position = 0; position < scans.size(); ++position) {
        for (const auto& [identifier, data] : scans[position]->beaconScanDataForBeaconKey) {
          auto beacon = cache->cachedBeaconWithCacheIdentifier(identifier);
          if (!beacon) continue;
          const bool already = seen.count(beacon.get()) != 0;
          bool update = false;
          if (already) {
            // Only a location-services RSSI of 0 is filled from the newest scan.
            if (position != 0 || beacon->rssi().toInt64().value_or(0) != 0) continue;
            update = true;
          } else {
            update = position < 2;
          }
          if (update && data.rssiRunningMean != 0) {
            const auto distance =
                calculateDistanceWithRSSI(data.rssiRunningMean, measuredPowerAt1MeterForBeacon(*beacon));
            beacon->setRssi(platform::Value(data.rssiRunningMean));
            beacon->setAccuracy(distance);
            beacon->setProximity(calculateProximityWithDistance(distance));
          } else {
            // Heard only in older scans, or without an accepted sample.
            beacon->setRssi(platform::Value(0));
            beacon->setAccuracy(-1.0);
            beacon->setProximity(0);
          }
          stamp(beacon);
        }
      }
    }
  }
  ranged = beacon_array::sortedBeaconArrayUsingAccuracyAscending(ranged, true);
  if (delegate) delegate->beaconRangerDidRangeBeacons(*this, ranged);
}

std::vector<KSScanActivityMonitor> KSBeaconRanger::scanActivityMonitors() const {
  std::lock_guard lock(mutex_);
  std::vector<KSScanActivityMonitor> out;
  for (const auto& [id, m] : scanMonitors_) out.push_back(*m);
  return out;
}

std::vector<KSBeaconRegionActivityMonitor> KSBeaconRanger::beaconRegionActivityMonitors() const {
  std::lock_guard lock(mutex_);
  std::vector<KSBeaconRegionActivityMonitor> out;
  for (const auto& m : regionMonitors_) out.push_back(*m);
  return out;
}

}  // namespace velmora::kestrine
