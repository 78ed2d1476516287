// The site road's costs. BM_SiteManagerPass/B/S: one ranging pass of B beacons spread over S
// cached, synced sites through the site manager to four subscribers, their queue drained.
// BM_VisitTrackerPass/B: one analytics pass of B beacons whose visits are open, each
// changing its proximity, through the visit tracker onto rows held in memory; the counter
// row_writes_per_pass is the write-throughs a pass makes.
// BM_VisitTrackerPassOnFile/B: the same pass onto the rows of a store file (B stored beacons,
// their visit rows), through the store adapter, each pass saved.
// BM_MicroLocationDiff: the difference rule over two equal snapshots of 5 sites × 50 beacons
// (the full walk: no difference is found).
// Run: build/default/bench/sites_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include "beacons/microlocation/KSMicroLocationDifference.h"
#include "beacons/microlocation/KSSiteStorageAdapter.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSBeacon.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/FakeLocalStorage.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "testing/TempDir.h"

namespace {

using namespace velmora::kestrine;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

struct Listener : KSSiteManagerInternalDelegate {
  void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite>) override { ++messages; }
  void siteManagerInternalDidRangeBeaconsInSite(SiteBeacons, std::shared_ptr<KSSite>) override { ++messages; }
  void siteManagerInternalDidRangeBeaconsForSiteIDInSites(BeaconsForSiteID, SiteList) override { ++messages; }
  void siteManagerInternalDidRangeBeacons(SiteBeacons) override { ++messages; }
  std::size_t messages = 0;
};

void BM_SiteManagerPass(benchmark::State& state) {
  const auto beaconCount = static_cast<int>(state.range(0));
  const auto siteCount = static_cast<int>(state.range(1));
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  KSSiteManagerInternal::Ports ports;
  ports.scheduler = scheduler;
  auto manager = KSSiteManagerInternal::create(ports);
  std::vector<std::shared_ptr<Listener>> listeners;
  for (int i = 0; i < 4; ++i) {
    listeners.push_back(std::make_shared<Listener>());
    manager->addDelegate(listeners.back());
  }
  for (int s = 0; s < siteCount; ++s) {
    auto site = std::make_shared<KSSite>();
    site->setSiteID(fmt::format("S{}", s));
    site->setSyncStatus(KSSyncStatusSynced);
    manager->cacheSite(site, true, false);
  }
  Beacons beacons;
  for (int b = 0; b < beaconCount; ++b) {
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setSiteID(fmt::format("S{}", b % siteCount));
    beacon->setSyncStatus(KSSyncStatusSynced);
    beacons.push_back(beacon);
  }
  for (auto _ : state) {
    manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    scheduler->runUntilIdle();
  }
  state.counters["messages_per_pass"] =
      benchmark::Counter(static_cast<double>(listeners[0]->messages) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_SiteManagerPass)->Args({1000, 20})->Unit(benchmark::kMicrosecond);

struct RowStore : KSVisitStorePort {
  std::shared_ptr<KSBeaconVisit> managedBeaconVisitForSerialNumber(const std::string&) override {
    auto row = std::make_shared<testing::FakeStoredRow>(std::string(KSBeaconVisitEntityName));
    rows.push_back(row);
    return KSBeaconVisit::initWithManagedBeaconVisit(row);
  }
  std::shared_ptr<KSBeaconRegionVisit> managedBeaconRegionVisitForIdentifier(const std::string&) override {
    return nullptr;
  }
  void deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(velmora::platform::Date, std::int64_t) override {}
  void fetchUnEndedAndResumableBeaconVisits(velmora::platform::Date, VisitsHandler handler) override { handler({}); }
  void fetchUnPostedBeaconVisits(velmora::platform::Date, VisitsHandler handler) override { handler({}); }
  void saveContext() override {}
  std::size_t writes() const {
    std::size_t n = 0;
    for (const auto& r : rows) n += r->writes.size();
    return n;
  }
  std::vector<std::shared_ptr<testing::FakeStoredRow>> rows;
};

void BM_VisitTrackerPass(benchmark::State& state) {
  const auto beaconCount = static_cast<int>(state.range(0));
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  auto store = std::make_shared<RowStore>();
  KSVisitTracker::Ports ports;
  ports.scheduler = scheduler;
  ports.store = [store] { return store; };
  auto tracker = KSVisitTracker::create(ports);
  Beacons beacons;
  for (int b = 0; b < beaconCount; ++b) {
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setSerialNumber(fmt::format("SN-{}", b));
    beacon->setProximity(3);
    beacon->setAccuracy(10.0);
    beacons.push_back(beacon);
  }
  tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, beacons);
  const auto before = store->writes();
  std::uint64_t proximity = 3;
  for (auto _ : state) {
    proximity = proximity == 1 ? 3 : proximity - 1;
    for (const auto& b : beacons) {
      b->setProximity(proximity);
      b->setLastRangedAt(scheduler->clock()->now());
    }
    tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, beacons);
    scheduler->runUntilIdle();
    scheduler->advanceBy(1.0);
  }
  state.counters["row_writes_per_pass"] = benchmark::Counter(
      static_cast<double>(store->writes() - before) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_VisitTrackerPass)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_VisitTrackerPassOnFile(benchmark::State& state) {
  const auto beaconCount = static_cast<int>(state.range(0));
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  velmora::testing::TempDir dir;
  KSLocalStorageManager::Environment env;
  env.provider = std::make_shared<KSManagedObjectContextProvider>(dir.path(), scheduler);
  env.scheduler = scheduler;
  auto storage = KSLocalStorageManager::create(std::move(env));
  auto save = [&] {
    storage->saveContext();
    scheduler->runUntilIdle();
  };
  Beacons beacons;
  for (int b = 0; b < beaconCount; ++b) {
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setSerialNumber(fmt::format("SN-{}", b));
    beacon->setBeaconID(fmt::format("b-{}", b));
    beacon->setProximity(3);
    beacon->setAccuracy(10.0);
    storage->storeBeacon(beacon);
    beacons.push_back(beacon);
  }
  save();
  auto store = std::make_shared<KSSiteStorageAdapter>(storage);
  KSVisitTracker::Ports ports;
  ports.scheduler = scheduler;
  ports.store = [store] { return store; };
  auto tracker = KSVisitTracker::create(ports);
  tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, beacons);
  save();
  std::uint64_t proximity = 3;
  for (auto _ : state) {
    proximity = proximity == 1 ? 3 : proximity - 1;
    for (const auto& b : beacons) {
      b->setProximity(proximity);
      b->setLastRangedAt(scheduler->clock()->now());
    }
    tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, beacons);
    save();
    scheduler->advanceBy(1.0);
  }
}
BENCHMARK(BM_VisitTrackerPassOnFile)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_MicroLocationDiff(benchmark::State& state) {
  auto make = [] {
    auto m = std::make_shared<KSMicroLocation>();
    KSMicroLocation::Sites sites;
    KSMicroLocation::Groups groups;
    for (int s = 0; s < 5; ++s) {
      auto site = std::make_shared<KSSite>();
      site->setSiteID(fmt::format("S{}", s));
      sites.push_back(site);
      for (int b = 0; b < 50; ++b) {
        auto beacon = std::make_shared<KSBeacon>();
        beacon->setBeaconID(fmt::format("B{}-{}", s, b));
        beacon->setProximity(1 + b % 3);
        groups[fmt::format("S{}", s)].push_back(beacon);
      }
    }
    m->setSites(sites);
    m->setBeaconsForSiteID(groups);
    return m;
  };
  const std::vector<std::shared_ptr<KSMicroLocation>> pair = {make(), make()};
  for (auto _ : state) benchmark::DoNotOptimize(microLocationsAreDifferent(pair));
}
BENCHMARK(BM_MicroLocationDiff)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
