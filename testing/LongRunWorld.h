#pragma once

// A car park's day through the whole SDK, on the virtual clock: the SDK entry over the
// loopback beacon cloud, the SQLite store in a temporary documents folder, the simulated
// radio, location services and app. The cloud serves the app, its region and the beacons
// that are always present (synced, in one site, counted as visits); a stream of passing
// beacons the cloud does not know goes by, each heard for a while; the host logs an event
// every minute; every hour the cloud fails a few requests and the app spends a short time in
// the background. The long-run test and the soak benchmark read the sizes of the SDK's
// tables (and the process's memory) as the day goes.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSSessionManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "platform/dispatch/Scheduler.h"
#include "testing/BeaconCloudFake.h"
#include "testing/SimWorld.h"

namespace velmora::testing {

class LongRunWorld {
 public:
  struct Plan {
    double hours = 24;
    // Distinct passing beacons over the whole run, arriving evenly, each heard this long.
    int passingBeacons = 20000;
    double passingSeconds = 60;
    double passingIntervalSeconds = 1.0;
    // Every how many passing beacons one has a proximity UUID of its own (0: none).
    int ownUUIDEvery = 10;
    // Beacons always present, synced from the cloud.
    int presentBeacons = 200;
    double presentIntervalSeconds = 2.0;
    double eventEverySeconds = 60;
    // Each hour: the cloud fails this many requests of each posting and syncing route, and
    // the app is in the background for this long (longer than a background session lasts).
    int failuresPerHour = 3;
    double backgroundSecondsPerHour = 300;
  };

  // What the SDK holds at a moment of the run.
  struct Sizes {
    std::size_t cachedBeacons = 0;
    std::size_t handedOverEvents = 0;
    std::size_t peripheralMetadata = 0;
    std::size_t learntProximityUUIDs = 0;
    std::size_t sessions = 0;
  };

  static constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";

  explicit LongRunWorld(Plan plan) : plan_(plan) {
    platform::dispatch::Scheduler::setShared(world.scheduler);
    kestrine::KSModelClock::setClock(world.scheduler->clock());
    world.makeReady();
    world.radio->setShowsIBeaconFramesToScans(true);
    world.runUntilIdle();

    using platform::Value;
    cloud.putRecord("/apps/T", "app", Value::makeDict({{"id", "app-1"}, {"name", "Car park"}}));
    cloud.putList("apps/T/beaconRegions", "beaconRegions",
                  {Value::makeDict({{"id", "r-1"},
                                    {"regionIdentifier", "com.example.carpark"},
                                    {"proximityUUID", std::string(kUUID)},
                                    {"name", "Car park"}})});
    platform::Array present;
    for (int i = 0; i < plan_.presentBeacons; ++i) present.push_back(presentRecord(i));
    cloud.putList("beacons", "beacons", std::move(present));
    cloud.putList("sites", "sites", {Value::makeDict({{"id", "S1"}, {"name", "Level 1"}})});

    provider = kestrine::KSInstanceProvider::create(world.bundle());
    kestrine::KSInstanceProvider::setSharedProvider(provider);
    kestrine::KestrineSDK::installSingletons(*provider);
    kestrine::KestrineSDK::setOptions(
        {{std::string(kestrine::KSOptionApiBaseURL), Value(cloud.baseUrl())},
         {std::string(kestrine::KSOptionCacheAllBeaconsForApp), Value("YES")},
         // Passing beacons the cloud does not know are not asked about: they turn unauthorised.
         {std::string(kestrine::KSOptionDiscoverBeaconsNearby), Value("NO")}});
  }

  ~LongRunWorld() {
    kestrine::KestrineSDK::stopRunning();
    world.runUntilIdle();
    for (const auto& p : passing_) world.radio->removeAdvertiser(p.identifier);
    world.runUntilIdle();
    kestrine::KSBeaconHubPort::setShared(nullptr);
    kestrine::KSLocalStoragePort::setShared(nullptr);
    kestrine::KSApiClientPort::setShared(nullptr);
    kestrine::KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    world.runUntilIdle();
    kestrine::KSModelClock::setClock(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  LongRunWorld(const LongRunWorld&) = delete;
  LongRunWorld& operator=(const LongRunWorld&) = delete;

  // Starts the SDK and the beacons that are always present; true once it runs and the app's
  // beacons are synced.
  bool start() {
    std::vector<int> completions;
    kestrine::KestrineSDK::startRunningWithAppToken("T", [&](int status) { completions.push_back(status); });
    if (!world.scheduler->runUntil([&] { return !completions.empty(); }, 120)) return false;
    // The visits of the beacons always present, and the host's events.
    kestrine::KSVisitTracker::sharedTracker(*provider);
    kestrine::KSEventManager::sharedManager(*provider);
    for (int i = 0; i < plan_.presentBeacons; ++i) {
      platform::sim::SimAdvertiser a;
      a.identifier = platform::Uuid::random();
      a.advertisement = platform::sim::SimPlatform::iBeaconAdvertisement(kUUID, 1, i + 1, -59);
      a.intervalSeconds = plan_.presentIntervalSeconds;
      a.phaseSeconds = plan_.presentIntervalSeconds * i / std::max(1, plan_.presentBeacons);
      a.rssi = -60 - i % 25;
      world.radio->addAdvertiser(std::move(a));
    }
    return world.scheduler->runUntil(
        [&] { return hub()->cachedBeaconWithBeaconID("p-" + std::to_string(plan_.presentBeacons - 1)) != nullptr; },
        300);
  }

  // Plays the day from where it stands up to `seconds` after the start, calling `hourly`
  // with the hour just ended at each whole hour.
  void runUntil(double seconds, const std::function<void(int hour)>& hourly = nullptr) {
    const double arrival = plan_.hours * 3600.0 / std::max(1, plan_.passingBeacons);
    while (elapsed_ < seconds) {
      double next = std::min(seconds, nextArrival_);
      next = std::min(next, nextEvent_);
      next = std::min(next, nextHour_);
      if (!passing_.empty()) next = std::min(next, passing_.front().leavesAt);
      if (next > elapsed_) {
        world.advanceBy(next - elapsed_);
        elapsed_ = next;
      }
      while (!passing_.empty() && passing_.front().leavesAt <= elapsed_) {
        // Gone for good: the simulated phone need not remember it either.
        world.radio->forgetPeripheral(passing_.front().identifier);
        passing_.pop_front();
      }
      if (elapsed_ >= nextArrival_ && arrived_ < plan_.passingBeacons) {
        addPassingBeacon(arrived_++);
        nextArrival_ += arrival;
      } else if (arrived_ >= plan_.passingBeacons) {
        nextArrival_ = 1e300;
      }
      if (elapsed_ >= nextEvent_) {
        // Through the shared event manager, as the SDK's own logging does, with an event ID:
        // the event is stored and posted.
        kestrine::KSEventManager::sharedManager(*provider)->logEventWithIdentifier(
            "car-park", "level-1", std::to_string(++events_), std::nullopt);
        nextEvent_ += plan_.eventEverySeconds;
      }
      if (elapsed_ >= nextHour_) {
        const int hour = static_cast<int>(nextHour_ / 3600.0 + 0.5);
        nextHour_ += 3600.0;
        everyHour();
        if (hourly) hourly(hour);
      }
    }
  }

  Sizes sizes() {
    Sizes s;
    auto h = hub();
    s.cachedBeacons = h->cachedBeaconCount();
    if (auto central = h->centralManagerClient()) {
      s.peripheralMetadata = central->peripheralMetadataCount();
      s.learntProximityUUIDs = central->learntProximityUUIDCount();
    }
    s.handedOverEvents = kestrine::KSEventManager::sharedManager(*provider)->handedOverEventCount();
    s.sessions = kestrine::KSSessionManager::sharedManager(*provider)->sessions().size();
    return s;
  }

  std::shared_ptr<kestrine::KSBeaconManagerInternal> hub() {
    return kestrine::KSBeaconManagerInternal::sharedInternal(*provider);
  }
  int passingBeaconsSoFar() const { return arrived_; }
  std::uint64_t eventsLogged() const { return events_; }
  std::uint64_t eventPosts() const { return eventPosts_ + cloud.hits("POST", "events"); }
  std::uint64_t visitPosts() const { return visitPosts_ + cloud.hits("POST", "beaconvisits"); }

  SimWorld world;
  BeaconCloudFake cloud;
  std::shared_ptr<kestrine::KSInstanceProvider> provider;

 private:
  struct Passing {
    platform::Uuid identifier;
    double leavesAt;
  };

  static platform::Value presentRecord(int i) {
    using platform::Value;
    return Value::makeDict(
        {{"id", "p-" + std::to_string(i)},
         {"serialNumber", "SN-" + std::to_string(i)},
         {"proximityUUID", std::string(kUUID)},
         {"major", 1},
         {"minor", i + 1},
         {"measuredPowerAt1Meter", -59},
         {"siteID", "S1"},
         {"siteName", "Level 1"},
         {"networkAccess",
          Value::makeDict({{"ownership", Value::makeDict({{"id", 1}})},
                           {"permittedRoles",
                            Value::makeArray({Value::makeDict({{"id", 1}}), Value::makeDict({{"id", 2}})})}})}});
  }

  void addPassingBeacon(int n) {
    platform::sim::SimAdvertiser a;
    a.identifier = platform::Uuid::random();
    // Majors from 2 up: none is a present beacon's.
    const bool own = plan_.ownUUIDEvery > 0 && n % plan_.ownUUIDEvery == 0;
    const std::string uuid = own ? platform::Uuid::random().string() : std::string(kUUID);
    a.advertisement = platform::sim::SimPlatform::iBeaconAdvertisement(uuid, 2 + n / 65536, n % 65536, -59);
    a.intervalSeconds = plan_.passingIntervalSeconds;
    a.rssi = -70 - n % 20;
    passing_.push_back({a.identifier, elapsed_ + plan_.passingSeconds});
    world.radio->addAdvertiser(std::move(a));
  }

  void everyHour() {
    // The fake's own request log would grow with the run.
    eventPosts_ += cloud.hits("POST", "events");
    visitPosts_ += cloud.hits("POST", "beaconvisits");
    cloud.clearLog();
    if (plan_.failuresPerHour > 0) {
      BeaconCloudFake::Fault fault;
      fault.status = 500;
      fault.times = plan_.failuresPerHour;
      cloud.setFault("POST", "events", fault);
      cloud.setFault("POST", "beaconvisits", fault);
      cloud.setFault("GET", "beacons", fault);
    }
    if (plan_.backgroundSecondsPerHour > 0) {
      world.app->perform(platform::sim::SimApp::Step::ResignActive);
      world.app->perform(platform::sim::SimApp::Step::EnterBackground);
      world.app->performAfter(plan_.backgroundSecondsPerHour, platform::sim::SimApp::Step::EnterForeground);
      world.app->performAfter(plan_.backgroundSecondsPerHour, platform::sim::SimApp::Step::Activate);
    }
  }

  Plan plan_;
  double elapsed_ = 0;
  double nextArrival_ = 0;
  double nextEvent_ = 0;
  double nextHour_ = 3600;
  int arrived_ = 0;
  std::uint64_t events_ = 0;
  std::uint64_t eventPosts_ = 0, visitPosts_ = 0;
  std::deque<Passing> passing_;
};

}  // namespace velmora::testing
