// Event triggers over ranging passes: one pass of an event manager watching ten triggers
// (time per pass in µs; "per_beacon_filter" is that time over beacons × triggers), and the
// smoothing filter alone ("per_beacon": seconds per beacon, shown with an SI prefix, n for
// ns). Run: build/release/bench/microlocation_bench

#include <benchmark/benchmark.h>

#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace {

using namespace velmora::kestrine;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

struct Sites : KSEventSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
};

// n beacons over 20 sites, nearest first, a fifth with a custom value, every other one in a
// category.
Beacons fixture(int n) {
  auto food = std::make_shared<KSCategory>();
  food->setName("Food");
  auto cv = std::make_shared<KSCustomValue>();
  cv->setKey("zone");
  cv->setValue("north");
  Beacons beacons;
  for (int i = 0; i < n; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID("b-" + std::to_string(i));
    b->setSerialNumber("sn-" + std::to_string(i));
    b->setSiteID("s-" + std::to_string(i % 20));
    b->setAccuracy(0.05 * (i + 1));
    b->setProximity(i < n / 10 ? 1 : 2);
    b->setRssi(velmora::platform::Value(-60 - i % 30));
    if (i % 5 == 0) b->setCustomValues(std::vector{cv});
    if (i % 2 == 0) b->setCategories(std::vector{food});
    beacons.push_back(b);
  }
  return beacons;
}

std::shared_ptr<KSTrigger> trigger(const std::string& id, KSTrigger::Filters filters) {
  auto t = KSTrigger::initWithIdentifier(id, std::move(filters));
  t->setRepeatCount(std::numeric_limits<std::int64_t>::max());
  return t;
}

void BM_EventManagerPass(benchmark::State& state) {
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  velmora::platform::NotificationCenter center;
  auto sites = std::make_shared<Sites>();
  for (int i = 0; i < 20; ++i) {
    auto s = std::make_shared<KSSite>();
    s->setSiteID("s-" + std::to_string(i));
    sites->sites[*s->siteID()] = s;
  }
  auto manager = KSEventManager::create({.sites = sites, .scheduler = scheduler, .notificationCenter = &center});
  auto noop = [](const std::shared_ptr<KSTriggeredEvent>&) {};
  using F = KSEventFilter;
  manager->monitorEventWithTrigger(trigger("smoothed", {F::filterApplySmoothedAccuracyOverTimeInterval(5)}), noop);
  manager->monitorEventWithTrigger(trigger("smoothedRSSI", {F::filterApplySmoothedRSSIOverTimeInterval(5)}), noop);
  manager->monitorEventWithTrigger(trigger("closest", {F::filterByClosestBeacon()}), noop);
  manager->monitorEventWithTrigger(trigger("closestChanged", {F::filterByClosestBeaconChanged()}), noop);
  manager->monitorEventWithTrigger(trigger("entered", {F::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(60)}), noop);
  manager->monitorEventWithTrigger(trigger("exited", {F::filterByExitedBeaconAfterTimeIntervalUnmatched(10)}), noop);
  manager->monitorEventWithTrigger(trigger("custom", {F::filterByCustomValuesWithKeys({"zone"})}), noop);
  manager->monitorEventWithTrigger(trigger("category", {F::filterByCategoriesNamed({"Food", "Gate"})}), noop);
  manager->monitorEventWithTrigger(trigger("range", {F::filterByAccuracyRange(0, 2.5)}), noop);
  manager->monitorEventWithTrigger(trigger("proximity", {F::filterByProximity(1)}), noop);

  const Beacons beacons = fixture(static_cast<int>(state.range(0)));
  for (int i = 0; i < 10; ++i) {  // warm the filters' memory
    manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    scheduler->advanceBy(1);
  }
  for (auto _ : state) {
    manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    state.PauseTiming();
    scheduler->advanceBy(1);
    scheduler->runUntilIdle();
    state.ResumeTiming();
  }
  const double steps = static_cast<double>(state.range(0)) * 10;  // beacon-filter steps of a pass
  state.SetItemsProcessed(state.iterations() * state.range(0) * 10);
  state.counters["per_beacon_filter"] =
      benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EventManagerPass)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_SmoothingFilter(benchmark::State& state) {
  auto filter = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(static_cast<double>(state.range(1)));
  const Beacons beacons = fixture(static_cast<int>(state.range(0)));
  KSEventFilterContext context;
  auto now = velmora::platform::Date::fromUnixSeconds(1'700'000'000);
  for (int i = 0; i < 12; ++i) {  // fill the windows
    context.setNow(now);
    context.setBeaconsToFilter(beacons);
    benchmark::DoNotOptimize(filter->filterBeaconsForEvent(context));
    now = now.addingTimeInterval(1);
  }
  for (auto _ : state) {
    context.setNow(now);
    context.setBeaconsToFilter(beacons);
    benchmark::DoNotOptimize(filter->filterBeaconsForEvent(context));
    now = now.addingTimeInterval(1);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["per_beacon"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}
BENCHMARK(BM_SmoothingFilter)->Args({1000, 5})->Args({1000, 10})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
