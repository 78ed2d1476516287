// Merging one page of a beacon sync into the hub's cache, for caches of 1,000 and 10,000
// beacons, with a store that only counts its writes. BM_MergeRefreshPage: a refresh page
// (a modified-after date), whose cost is the page. BM_MergeLastFullSyncPage: the last page
// of a full app sync, which also confirms or revokes every cached beacon.
// Run: build/default/bench/sync_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimWorld.h"

namespace {

using namespace kestrine;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr int kPageSize = 100;

class CountingStore : public KSLocalStoragePort {
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
  void storeBeacon(const std::shared_ptr<KSBeacon>&) override { ++writes; }
  void saveContext() override { ++saves; }
  std::size_t writes = 0;
  std::size_t saves = 0;
};

std::shared_ptr<KSBeacon> syncedBeacon(int i) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(fmt::format("b-{}", i));
  b->setProximityUUIDString(std::string(kUUID));
  b->setMajor(platform::Value(i / 1000 + 1));
  b->setMinor(platform::Value(i % 1000));
  b->setSiteID(fmt::format("s-{}", i % 20));
  testsupport::setOwnership(*b, 1);
  return b;  // the beacon ID made it synced
}

struct SyncWorld {
  explicit SyncWorld(int cached) {
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSBeaconManagerInternal::Ports ports;
    ports.store = store;
    ports.session = std::make_shared<testsupport::FakeSession>();
    hub = KSBeaconManagerInternal::create(provider, ports);
    for (int i = 0; i < cached; ++i) hub->cacheBeacon(syncedBeacon(i), true, false);
    world.runUntilIdle();
  }
  // A page of fresh copies of cached beacons, as the cloud sends them again.
  KSBeaconSyncResult page(int first, bool lastOfFullSync) const {
    KSBeaconSyncResult result;
    result.httpStatusCode = 200;
    if (lastOfFullSync) {
      result.includeLatestForApp = true;
    } else {
      result.modifiedAfter = world.scheduler->clock()->now().addingTimeInterval(-3600);
    }
    for (int i = 0; i < kPageSize; ++i) result.beacons.push_back(syncedBeacon(first + i));
    return result;
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<CountingStore> store = std::make_shared<CountingStore>();
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSBeaconManagerInternal> hub;
};

void merge(benchmark::State& state, bool lastOfFullSync) {
  const int cached = static_cast<int>(state.range(0));
  SyncWorld w(cached);
  int first = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto result = w.page(first, lastOfFullSync);
    first = (first + kPageSize) % (cached - kPageSize);
    state.ResumeTiming();
    w.hub->cacheBeaconsFromSyncResult(result);
    w.world.runUntilIdle();  // the listeners' deliveries
  }
  state.SetItemsProcessed(state.iterations() * kPageSize);
  state.counters["cached"] = static_cast<double>(w.hub->allCachedBeacons().size());
}

void BM_MergeRefreshPage(benchmark::State& state) { merge(state, false); }
void BM_MergeLastFullSyncPage(benchmark::State& state) { merge(state, true); }

BENCHMARK(BM_MergeRefreshPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeLastFullSyncPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
