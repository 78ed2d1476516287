#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/Date.h"
#include "platform/location/Beacon.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::platform::dispatch {
class Queue;
class Scheduler;
}  // namespace velmora::platform::dispatch

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconRanger;
class KSGCDTimer;
class KSInstanceProvider;

// The cached beacons the ranger looks up at each pass (the hub's cache).
class KSBeaconRangerCache {
 public:
  virtual ~KSBeaconRangerCache() = default;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithCacheIdentifier(const std::string& cacheIdentifier) = 0;
  virtual std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string& iBeaconKey) = 0;
};

class KSBeaconRangerDelegate {
 public:
  virtual ~KSBeaconRangerDelegate() = default;
  // Once a pass, on the ranger's queue, with the beacons ranged in it sorted by accuracy
  // ascending (unknown distances first); also when there are none.
  virtual void beaconRangerDidRangeBeacons(KSBeaconRanger& ranger,
                                           const std::vector<std::shared_ptr<KSBeacon>>& beacons) = 0;
};

// The RSSI record of one beacon in one scan. Samples outside -100..-1 dBm are remembered
// as the latest but otherwise ignored.
struct KSBeaconScanData {
  std::string cacheIdentifier;
  std::int64_t numberOfRSSIs = 0;
  std::int64_t rssiRunningTotal = 0;
  std::int64_t rssiRunningMean = 0;              // 0: no accepted sample yet
  std::int64_t previousScanRssiRunningMean = 0;  // the mean in the earlier scan, 0 for none
  std::int64_t lastDiscoveredRSSI = 0;

  // Smooths towards the sample, rising faster than falling (0.3 against 0.2); the first
  // accepted sample of a scan is blended with the earlier scan's mean (one part to two).
  // Single-precision arithmetic, rounded half away from zero.
  void discoveredBeacon(const std::string& cacheIdentifier, std::int64_t rssi);
};

// The bookkeeping of one Bluetooth scan.
struct KSScanActivityMonitor {
  std::string scanID;
  std::optional<platform::Date> startedAt;
  std::optional<platform::Date> stoppedAt;
  std::map<std::string, KSBeaconScanData, std::less<>> beaconScanDataForBeaconKey;
  // The data of the scan this one was seeded from, by cache identifier.
  std::shared_ptr<const std::map<std::string, KSBeaconScanData, std::less<>>> previousBeaconScanDataForBeaconKey;
};

// The latest location-services ranging of one region.
struct KSBeaconRegionActivityMonitor {
  std::string identifier;
  platform::Date lastRangedAt;
  std::vector<platform::location::Beacon> clBeacons;
};

// Merges Bluetooth scan sightings and location-services ranging, once a second while
// ranging is on, into distance and proximity on the cached beacons, and hands the pass's
// list to its delegate.
//
// Start, stop, sightings, rangings and passes run on one serial queue (shared by every
// ranger of a registry). The scan notifications come on the scan manager's threads; they
// and the queue meet in the monitor maps, guarded by one lock that is never held while the
// delegate is called. Lock order: this lock, then the cache's and the beacons' own.
class KSBeaconRanger : public std::enable_shared_from_this<KSBeaconRanger> {
 public:
  static constexpr double kRangingIntervalInSeconds = 1.0;
  static constexpr double kScanMonitorLifetimeInSeconds = 15.0;
  static constexpr double kRegionMonitorLifetimeInSeconds = 2.0;
  static constexpr std::string_view kSerialQueueLabel = "com.beacon.ranger.serial.queue";

  // The registry's ranger queue, made on first use by its scheduler.
  static std::shared_ptr<platform::dispatch::Queue> serialQueue(KSInstanceProvider& provider);

  // Observes the scan manager's start and stop notifications on the centre.
  static std::shared_ptr<KSBeaconRanger> create(std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                std::shared_ptr<platform::dispatch::Queue> queue,
                                                std::shared_ptr<platform::NotificationCenter> center,
                                                std::weak_ptr<KSBeaconRangerCache> cache);
  ~KSBeaconRanger();

  void setDelegate(std::weak_ptr<KSBeaconRangerDelegate> delegate);
  bool isBeaconRangingEnabled() const;
  void startRangingBeacons();
  void stopRangingBeacons();

  // Dropped while ranging is off (tested on the caller's thread).
  void discoveredBeacon(const std::string& cacheIdentifier, const std::string& scanID, std::int64_t rssi);
  void locationManagerRangedCLBeacons(std::vector<platform::location::Beacon> beacons,
                                      const std::string& regionIdentifier);

  // The beacon's own measured power, else its loudness's, else its latest advertisement's,
  // else 0.
  static std::int64_t measuredPowerAt1MeterForBeacon(const KSBeacon& beacon);
  static float calculateDistanceWithRSSI(std::int64_t rssi, std::int64_t measuredPowerAt1Meter);
  static std::uint64_t calculateProximityWithDistance(float distance);

  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return queue_; }
  // One pass now, on the caller's thread; the timer runs the same. For tests and benchmarks.
  void rangeBeacons();

  // Copies of the monitors, for tests.
  std::vector<KSScanActivityMonitor> scanActivityMonitors() const;
  std::vector<KSBeaconRegionActivityMonitor> beaconRegionActivityMonitors() const;

 private:
  struct Token {};

 public:
  KSBeaconRanger(Token, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                 std::shared_ptr<platform::dispatch::Queue> queue,
                 std::shared_ptr<platform::NotificationCenter> center, std::weak_ptr<KSBeaconRangerCache> cache);

 private:
  void subscribe();
  void didStartScan(const platform::Notification& n);
  void didStopScan(const platform::Notification& n);
  void startTimer();   // on the queue
  void cancelTimer();  // on the queue
  void recordSighting(const std::string& cacheIdentifier, const std::string& scanID, std::int64_t rssi);
  void pruneLocked(platform::Date now);  // under mutex_
  platform::Date now() const;

  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const std::shared_ptr<platform::dispatch::Queue> queue_;
  const std::shared_ptr<platform::NotificationCenter> center_;
  const std::weak_ptr<KSBeaconRangerCache> cache_;
  std::vector<platform::NotificationCenter::ObserverToken> observers_;

  // Read on the callers' threads without the lock; written on the queue.
  std::atomic<bool> enabled_{false};
  mutable std::mutex mutex_;  // guards everything below
  std::weak_ptr<KSBeaconRangerDelegate> delegate_;
  std::shared_ptr<KSGCDTimer> timer_;
  std::map<std::string, std::shared_ptr<KSScanActivityMonitor>, std::less<>> scanMonitors_;
  // In the order the regions were first ranged.
  std::vector<std::shared_ptr<KSBeaconRegionActivityMonitor>> regionMonitors_;
};

}  // namespace velmora::kestrine
