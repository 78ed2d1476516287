// The hub, the ranger and the public beacon manager on real threads: sightings from three
// radio threads, scans starting and stopping, location rangings, passes forced from outside
// the ranger's queue, and listeners and readers touching the beacons all the while.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <fmt/format.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";

class ReadingListener : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidRangeBeacons(Hub, Beacons beacons) override { read(beacons); }
  void beaconManagerInternalDidRangeIBeacons(Hub, Beacons beacons) override { read(beacons); }
  void beaconManagerInternalDidCacheBeacons(Hub, Beacons beacons) override { read(beacons); }
  void read(const Beacons& beacons) {
    for (const auto& b : beacons) {
      sum += b->rssi().toInt64().value_or(0) + static_cast<std::int64_t>(b->proximity());
      (void)b->accuracy();
      (void)b->iBeaconKey();
    }
    ++calls;
  }
  std::atomic<std::int64_t> sum{0};
  std::atomic<int> calls{0};
};

class CountingDelegate : public KSBeaconManagerDelegate {
 public:
  void beaconManagerDidEnterBeacons(KSBeaconManager&, Beacons b) override { entered += static_cast<int>(b.size()); }
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons b) override {
    for (const auto& beacon : b) (void)beacon->rssi();
    lastRanged = static_cast<int>(b.size());
    ++passes;
  }
  std::atomic<int> entered{0};
  std::atomic<int> passes{0};
  std::atomic<int> lastRanged{0};
};

TEST(HubThreads, SightingsRangingsPassesAndListenersTogether) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  auto center = std::make_shared<platform::NotificationCenter>();
  KSPlatformBundle bundle;
  bundle.scheduler = scheduler;
  bundle.notificationCenter = center;
  auto provider = KSInstanceProvider::create(bundle);
  auto configurator = KSConfigurator::create(provider, {});
  provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                         [configurator](KSInstanceProvider&) { return configurator; });
  platform::Dict options;
  options[std::string(KSOptionRunWithoutLocationServicesAuthorization)] = Value(true);
  configurator->setUserOptions(options);
  auto session = std::make_shared<testsupport::FakeSession>();
  session->running = true;
  auto hub = KSBeaconManagerInternal::create(provider, {nullptr, nullptr, session});
  auto listener = std::make_shared<ReadingListener>();
  hub->addDelegate(listener);
  auto delegate = std::make_shared<CountingDelegate>();
  auto manager = KSBeaconManager::initWithDelegate({hub, nullptr, nullptr, scheduler->mainQueue()}, delegate,
                                                   scheduler->makeSerialQueue("host"));
  hub->startDiscoveringBeacons();
  ASSERT_TRUE(hub->isBeaconDiscoveringEnabled());

  constexpr int kRounds = 400;
  constexpr int kBeaconsPerThread = 8;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  auto wait = [&] {
    while (!go.load()) std::this_thread::yield();
  };
  // Three radio threads; each beacon is heard from one peripheral, by iBeacon key.
  for (int radio = 0; radio < 3; ++radio) {
    threads.emplace_back([&, radio] {
      wait();
      std::vector<platform::Uuid> peripherals;
      for (int i = 0; i < kBeaconsPerThread; ++i) peripherals.push_back(platform::Uuid::random());
      for (int round = 0; round < kRounds; ++round) {
        const int i = round % kBeaconsPerThread;
        auto ad = testsupport::adDataOfType(KSAdDataTypeAppleIBeaconKey,
                                            {{KSAdDataProximityUUIDStringKey, Value(kUUID)},
                                             {KSAdDataMajorKey, Value(radio)},
                                             {KSAdDataMinorKey, Value(i)},
                                             {KSAdDataMeasuredPowerAt1MeterKey, Value(-59)}});
        hub->centralManagerClientDidDiscoverPeripheral(*hub->centralManagerClient(), peripherals[i], ad,
                                                       -60 - (round % 30), fmt::format("scan-{}", round / 50));
      }
    });
  }
  // Peripherals that first show an iBeacon frame, then teach their beacon a UID.
  threads.emplace_back([&] {
    wait();
    std::vector<platform::Uuid> peripherals;
    for (int i = 0; i < kBeaconsPerThread; ++i) peripherals.push_back(platform::Uuid::random());
    for (int round = 0; round < kRounds; ++round) {
      const int i = round % kBeaconsPerThread;
      auto ad = round < kBeaconsPerThread
                    ? testsupport::adDataOfType(KSAdDataTypeAppleIBeaconKey,
                                                {{KSAdDataProximityUUIDStringKey, Value(kUUID)},
                                                 {KSAdDataMajorKey, Value(3)},
                                                 {KSAdDataMinorKey, Value(i)}})
                    : testsupport::adDataOfType(
                          KSAdDataTypeEddystoneUIDKey,
                          {{KSAdDataEddystoneUIDStringKey, Value(fmt::format("00112233445566778899{:012X}", i))}});
      hub->centralManagerClientDidDiscoverPeripheral(*hub->centralManagerClient(), peripherals[i], ad, -75,
                                                     fmt::format("scan-{}", round / 50));
    }
  });
  // Scans starting and stopping.
  threads.emplace_back([&] {
    wait();
    for (int scan = 0; scan < kRounds / 50 + 1; ++scan) {
      platform::Dict info;
      info[std::string(KSScanManagerNotificationScanIDItem)] = Value(fmt::format("scan-{}", scan));
      center->post(std::string(KSScanManagerNotificationDidStartScan), nullptr, info);
      std::this_thread::yield();
      center->post(std::string(KSScanManagerNotificationDidStopScan), nullptr, info);
    }
  });
  // Location rangings of the first radio's beacons.
  threads.emplace_back([&] {
    wait();
    auto region = std::make_shared<KSBeaconRegion>();
    region->setIdentifier("north");
    for (int round = 0; round < kRounds / 4; ++round) {
      std::vector<platform::location::Beacon> seen;
      for (std::uint16_t i = 0; i < kBeaconsPerThread; ++i) {
        platform::location::Beacon b;
        b.proximityUUID = *platform::Uuid::parse(kUUID);
        b.major = 0;
        b.minor = i;
        b.rssi = round % 2 ? 0 : -70;
        b.accuracy = round % 2 ? -1 : 2.0;
        seen.push_back(b);
      }
      hub->locationManagerClientDidRangeBeaconsInBeaconRegion(nullptr, seen, region);
    }
  });
  // Passes forced from outside the ranger's queue.
  threads.emplace_back([&] {
    wait();
    for (int round = 0; round < kRounds / 8; ++round) hub->beaconRanger()->rangeBeacons();
  });
  // Readers, and listeners coming and going.
  threads.emplace_back([&] {
    wait();
    for (int round = 0; round < kRounds / 4; ++round) {
      for (const auto& b : hub->allCachedBeacons()) {
        (void)b->accuracy();
        (void)hub->cacheIdentifierForBeacon(b);
      }
      auto passing = std::make_shared<ReadingListener>();
      hub->addDelegate(passing);
      auto facade = KSBeaconManager::create({hub, nullptr, nullptr, scheduler->mainQueue()});
      facade->requestStateForBeacon(hub->cachedBeaconWithIBeaconKey(fmt::format("{}:1:{}", kUUID, round % 8)));
      hub->removeDelegate(passing.get());
    }
  });
  ASSERT_EQ(threads.size(), 8u);
  go = true;
  for (auto& t : threads) t.join();

  // Let everything queued run: sightings, the ranger's work, the multicasts it started, the
  // facade's hop from its listener queue to its delegate's. Each hop can queue the next, so
  // the queues are drained in rounds, in the order work flows through them.
  auto drain = [&] {
    for (int i = 0; i < 4; ++i) {
      hub->workQueue()->sync([] {});
      hub->beaconRanger()->queue()->sync([] {});
      scheduler->mainQueue()->sync([] {});
      manager->queue()->sync([] {});
    }
  };
  drain();
  // Which beacons a pass saw while the threads ran depends on how the passes fell between
  // the scans; a last location ranging of all of them puts every one in the final pass.
  {
    auto region = std::make_shared<KSBeaconRegion>();
    region->setIdentifier("north");
    std::vector<platform::location::Beacon> all;
    for (std::uint16_t major = 0; major < 4; ++major) {
      for (std::uint16_t minor = 0; minor < kBeaconsPerThread; ++minor) {
        platform::location::Beacon b;
        b.proximityUUID = *platform::Uuid::parse(kUUID);
        b.major = major;
        b.minor = minor;
        b.rssi = -70;
        b.accuracy = 2.0;
        all.push_back(b);
      }
    }
    hub->locationManagerClientDidRangeBeaconsInBeaconRegion(nullptr, all, region);
  }
  drain();
  hub->beaconRanger()->rangeBeacons();
  drain();

  EXPECT_EQ(hub->allCachedBeacons().size(), 4u * kBeaconsPerThread);
  for (int i = 0; i < kBeaconsPerThread; ++i) {
    auto taught = hub->cachedBeaconWithEddystoneUIDString(fmt::format("00112233445566778899{:012X}", i));
    ASSERT_NE(taught, nullptr);
    EXPECT_EQ(taught->major().toInt64(), 3);
  }
  EXPECT_GT(listener->calls.load(), 0);
  EXPECT_GT(delegate->passes.load(), 0);
  // Every beacon entered at least once (one that left between passes enters again).
  EXPECT_GE(delegate->entered.load(), 4 * kBeaconsPerThread);
  EXPECT_EQ(delegate->lastRanged.load(), 4 * kBeaconsPerThread);

  hub->stopDiscoveringBeacons();
  hub->workQueue()->sync([] {});
  EXPECT_TRUE(hub->allCachedBeacons().empty());
  manager.reset();
  hub.reset();
}

}  // namespace
}  // namespace velmora::kestrine
