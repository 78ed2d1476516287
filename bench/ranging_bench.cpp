// The ranging road's costs. BM_RangingPass: one pass over N cached beacons with four held
// scans and two ranged regions, through the sort, the seven lists and the delivery to a host
// delegate of the public beacon manager. BM_Advertisement*: one advertisement from the
// central's callback through the central client and the hub to the ranger's sample, for a
// cached beacon in caches of 100 and 1000, and for a beacon new to the cache whose store
// lookup misses.
// Run: build/default/bench/ranging_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/HexBytes.h"

namespace {

using namespace velmora::kestrine;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";

// A store that has none of the beacons asked for.
class MissingStore : public KSLocalStoragePort {
 public:
  void fetchRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&,
                                    const std::optional<std::vector<KSSortDescriptor>>&, RowsHandler success,
                                    FailureHandler) override {
    if (success) success({});
  }
  void countRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&, CountHandler success,
                                    FailureHandler) override {
    if (success) success(0);
  }
};

class HostDelegate : public KSBeaconManagerDelegate {
 public:
  void beaconManagerDidEnterBeacons(KSBeaconManager&, Beacons b) override { seen += b.size(); }
  void beaconManagerDidExitBeacons(KSBeaconManager&, Beacons b) override { seen += b.size(); }
  void beaconManagerDidRangeBeacons(KSBeaconManager&, Beacons b) override { seen += b.size(); }
  std::size_t seen = 0;
};

struct RangingWorld {
  RangingWorld() {
    world.location->setAuthorizationStatus(velmora::platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(velmora::platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    session->running = true;
    KSBeaconManagerInternal::Ports ports;
    ports.store = std::make_shared<MissingStore>();
    ports.session = session;
    hub = KSBeaconManagerInternal::create(provider, ports);
    world.radio->setShowsIBeaconFramesToScans(true);
    hub->startDiscoveringBeacons();
    world.runUntilIdle();
  }
  static velmora::platform::bluetooth::AdvertisementData iBeacon(std::uint16_t major, std::uint16_t minor) {
    auto bytes = velmora::testing::hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0");
    bytes.push_back(static_cast<std::uint8_t>(major >> 8));
    bytes.push_back(static_cast<std::uint8_t>(major));
    bytes.push_back(static_cast<std::uint8_t>(minor >> 8));
    bytes.push_back(static_cast<std::uint8_t>(minor));
    bytes.push_back(0xC5);
    velmora::platform::bluetooth::AdvertisementData ad;
    ad.manufacturerData = velmora::platform::Bytes(bytes.begin(), bytes.end());
    return ad;
  }
  // Heard once from its own peripheral, so the radio knows the peripheral and the hub caches it.
  std::shared_ptr<velmora::platform::bluetooth::Peripheral> introduce(const velmora::platform::Uuid& id,
                                                             const velmora::platform::bluetooth::AdvertisementData& ad) {
    world.radio->advertise(id, ad, -60);
    world.runUntilIdle();
    return hub->centralManagerClient()->retrievePeripheralWithIdentifier(id);
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
};

void BM_RangingPass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  RangingWorld w;
  auto host = std::make_shared<HostDelegate>();
  KSBeaconManager::Ports ports;
  ports.hub = w.hub;
  ports.mainQueue = w.world.scheduler->mainQueue();
  auto manager = KSBeaconManager::initWithDelegate(ports, host, nullptr);
  Beacons beacons;
  for (int i = 0; i < n; ++i) {
    auto b = testsupport::beaconWithAdTypes({KSAdDataTypeAppleIBeaconKey});
    b->setProximityUUIDString(std::string(kUUID));
    b->setMajor(velmora::platform::Value(i / 1000));
    b->setMinor(velmora::platform::Value(i % 1000));
    b->setMeasuredPowerAt1Meter(velmora::platform::Value(-59));
    w.hub->cacheBeacon(b, false);
    beacons.push_back(b);
  }
  auto ranger = w.hub->beaconRanger();
  for (int scan = 0; scan < 4; ++scan) {
    velmora::platform::Dict info;
    info[std::string(KSScanManagerNotificationScanIDItem)] = velmora::platform::Value(fmt::format("bench-{}", scan));
    w.world.center->post(std::string(KSScanManagerNotificationDidStartScan), nullptr, info);
    for (int i = 0; i < n; ++i) {
      if ((i + scan) % 2) ranger->discoveredBeacon(*beacons[i]->cacheIdentifier(), fmt::format("bench-{}", scan), -60 - i % 30);
    }
    w.world.advanceBy(0.5);
  }
  for (int region = 0; region < 2; ++region) {
    std::vector<velmora::platform::location::Beacon> ranged;
    for (int i = region; i < n; i += 4) {
      velmora::platform::location::Beacon cl;
      cl.proximityUUID = *velmora::platform::Uuid::parse(kUUID);
      cl.major = static_cast<std::uint16_t>(i / 1000);
      cl.minor = static_cast<std::uint16_t>(i % 1000);
      cl.rssi = i % 8 ? -70 : 0;
      cl.accuracy = 2.0;
      ranged.push_back(cl);
    }
    ranger->locationManagerRangedCLBeacons(ranged, fmt::format("region-{}", region));
  }
  w.world.runUntilIdle();
  for (auto _ : state) {
    ranger->rangeBeacons();
    w.world.runUntilIdle();  // the lists to the listeners, the facade's blocks to the host
  }
  benchmark::DoNotOptimize(host->seen);
  state.counters["beacons"] = n;
}
BENCHMARK(BM_RangingPass)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_AdvertisementCachedBeacon(benchmark::State& state) {
  const int cacheSize = static_cast<int>(state.range(0));
  RangingWorld w;
  for (int i = 1; i < cacheSize; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setBluetoothAddress(fmt::format("00:00:00:00:{:02X}:{:02X}", i / 256, i % 256));
    w.hub->cacheBeacon(b, false);
  }
  const auto ad = RangingWorld::iBeacon(7, 7);
  auto peripheral = w.introduce(velmora::platform::Uuid::random(), ad);
  if (!peripheral || w.hub->allCachedBeacons().size() != static_cast<std::size_t>(cacheSize)) {
    state.SkipWithError("the beacon was not cached");
    return;
  }
  auto client = w.hub->centralManagerClient();
  for (auto _ : state) {
    client->centralDidDiscoverPeripheral(peripheral, ad, -61);
    w.world.runUntilIdle();  // the hub's matching, then the ranger's sample
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AdvertisementCachedBeacon)->Arg(100)->Arg(1000);

void BM_AdvertisementNewBeaconStoreMiss(benchmark::State& state) {
  constexpr int kIdentities = 2048;
  RangingWorld w;
  std::vector<std::pair<std::shared_ptr<velmora::platform::bluetooth::Peripheral>, velmora::platform::bluetooth::AdvertisementData>> heard;
  for (int i = 0; i < kIdentities; ++i) {
    auto ad = RangingWorld::iBeacon(static_cast<std::uint16_t>(100 + i / 1000), static_cast<std::uint16_t>(i % 1000));
    heard.emplace_back(w.introduce(velmora::platform::Uuid::random(), ad), ad);
    if (!heard.back().first) {
      state.SkipWithError("no peripheral");
      return;
    }
  }
  auto forget = [&] {
    w.hub->stopDiscoveringBeacons();
    w.hub->startDiscoveringBeacons();
    w.world.runUntilIdle();
  };
  forget();
  auto client = w.hub->centralManagerClient();
  std::size_t next = 0;
  for (auto _ : state) {
    if (next == heard.size()) {
      state.PauseTiming();
      forget();
      next = 0;
      state.ResumeTiming();
    }
    client->centralDidDiscoverPeripheral(heard[next].first, heard[next].second, -61);
    ++next;
    w.world.runUntilIdle();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AdvertisementNewBeaconStoreMiss);

}  // namespace

BENCHMARK_MAIN();
