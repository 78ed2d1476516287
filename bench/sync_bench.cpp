// Merging one page of a beacon sync into the hub's cache, for caches of 1,000 and 10,000
// beacons, with a store that only counts its writes. BM_MergeRefreshPage: a refresh page
// (a modified-after date), whose cost is the page. BM_MergeLastFullSyncPage: the last page
// of a full app sync, which also confirms or revokes every cached beacon.
// BM_AppWideSyncIntoStore: a full sync of the app's 10,000 beacons, paged from the loopback fake
// cloud by the real API operation manager, merged by the hub and written to the real SQLite
// store in a temporary folder; reported in beacons per second (items_per_second), beside
// store_bench's store-only figure.
// Run: build/default/bench/sync_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/store/StoreContext.h"
#include "testing/BeaconCloudFake.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimWorld.h"

namespace {

using namespace velmora::kestrine;

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
  b->setMajor(velmora::platform::Value(i / 1000 + 1));
  b->setMinor(velmora::platform::Value(i % 1000));
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

// --- the app-wide sync ------------------------------------------------------------------------

constexpr int kAppBeacons = 10000;

velmora::platform::Value beaconItem(int i) {
  return velmora::platform::Value::makeDict(
      {{"id", fmt::format("b-{}", i)},
       {"serialNumber", fmt::format("SN-{}", i)},
       {"proximityUUID", std::string(kUUID)},
       {"major", i / 1000 + 1},
       {"minor", i % 1000},
       {"siteID", fmt::format("s-{}", i % 20)},
       {"networkAccess", velmora::platform::Value::makeDict({{"ownership", velmora::platform::Value::makeDict({{"id", 1}})}})}});
}

// The SDK as the API sees it: running, with a verified token.
struct RunningSDK : KSApiSDKPort {
  int appTokenVerificationStatus() override { return 2; }
  bool isUsingApi() override { return true; }
  void stopRunning() override {}
};

// One fresh install: an empty cache and an empty store file, the real operation manager on
// a client of the fake cloud.
struct AppSyncWorld {
  explicit AppSyncWorld(const velmora::testing::BeaconCloudFake& cloud) {
    // HTTP tasks in flight hold the virtual clock still while the loopback server answers.
    velmora::platform::dispatch::Scheduler::setShared(world.scheduler);
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions({{std::string(KSOptionCacheAllBeaconsForApp), velmora::platform::Value(true)}});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSLocalStorageManager::Environment env;
    env.provider = std::make_shared<KSManagedObjectContextProvider>(world.documents.path(), world.scheduler);
    env.scheduler = world.scheduler;
    store = KSLocalStorageManager::create(std::move(env));

    client = KSApiClient::create(cloud.baseUrl(), world.scheduler);
    reachability = KSNetworkReachabilityManager::initWithReachability(world.reachability->forInternet(),
                                                                        world.scheduler, world.center);
    reachability->startMonitoring();
    KSApiOperationManagerPorts ports;
    ports.beaconCache = [this]() -> std::shared_ptr<KSApiBeaconCachePort> {
      return std::make_shared<KSHubBeaconCacheAdapter>(hub);
    };
    ports.sdk = [] { return std::make_shared<RunningSDK>(); };
    ports.store = [this]() -> std::shared_ptr<KSApiStorePort> { return std::make_shared<KSStoreAdapter>(store); };
    manager = KSApiOperationManager::create(client, std::make_shared<KSUserDefaultsManager>(world.defaults), ports,
                                            reachability, world.center);

    KSBeaconManagerInternal::Ports hubPorts;
    hubPorts.store = store;
    hubPorts.sync = std::make_shared<KSApiOperationManagerAdapter>(manager);
    hubPorts.session = std::make_shared<testsupport::FakeSession>();
    hub = KSBeaconManagerInternal::create(provider, hubPorts);
    world.runUntilIdle();
  }
  ~AppSyncWorld() {
    manager.reset();
    world.runUntilIdle();
    velmora::platform::dispatch::Scheduler::setShared(nullptr);
  }
  // Until the last page is merged and the store has written and saved it.
  bool sync() {
    manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
    if (manager->beaconApiOperationQueue()->operationCount() == 0) return false;  // not queued
    const bool done = world.scheduler->runUntil(
        [&] { return manager->beaconApiOperationQueue()->operationCount() == 0; }, 600);
    world.runUntilIdle();
    return done;
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSLocalStorageManager> store;
  std::shared_ptr<KSApiClient> client;
  std::shared_ptr<KSNetworkReachabilityManager> reachability;
  std::shared_ptr<KSApiOperationManager> manager;
  std::shared_ptr<KSBeaconManagerInternal> hub;
};

void BM_AppWideSyncIntoStore(benchmark::State& state) {
  velmora::testing::BeaconCloudFake cloud;
  velmora::platform::Array items;
  for (int i = 0; i < kAppBeacons; ++i) items.push_back(beaconItem(i));
  cloud.putList("beacons", "beacons", std::move(items));
  std::size_t cached = 0;
  std::int64_t rows = -1;
  for (auto _ : state) {
    state.PauseTiming();
    auto w = std::make_unique<AppSyncWorld>(cloud);
    state.ResumeTiming();
    if (!w->sync()) {
      state.SkipWithError("the sync did not finish");
      break;
    }
    state.PauseTiming();
    cached = w->hub->allCachedBeacons().size();
    if (auto context = w->store->mainContext()) {
      context->performAndWait([&](velmora::platform::store::StoreContext& c) { rows = c.count("KSBeacon", {}).value_or(-1); });
    }
    w.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kAppBeacons);
  state.counters["beacons_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kAppBeacons), benchmark::Counter::kIsRate);
  state.counters["cached"] = static_cast<double>(cached);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["pages"] = static_cast<double>(cloud.hits("GET", "beacons")) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_AppWideSyncIntoStore)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK(BM_MergeRefreshPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeLastFullSyncPage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
