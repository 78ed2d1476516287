// Zone monitoring and lasso packets: one ranging pass of a zone monitor through its private
// event manager (3 zone keys; each beacon in 5 categories of 2 custom values; 10 sites; time
// per pass in µs and "per_beacon"), and building plus parsing a redemption packet.
// Run: build/release/bench/zones_bench

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "beacons/microlocation/KSLassoPacket.h"
#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSSite.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace {

using namespace velmora::kestrine;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

struct SiteCache : KSZoneSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  KSZoneSiteSource::Sites allCachedSites() override {
    KSZoneSiteSource::Sites out;
    for (const auto& [id, s] : sites) out.push_back(s);
    return out;
  }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
  void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate>) override {}
  void removeDelegate(const KSSiteManagerInternalDelegate*) override {}
};

// Hears every ranged zone, as a host app would.
struct Ranged : KSZoneMonitorDelegate {
  std::size_t calls = 0;
  void zoneMonitorDidRangeBeaconsInZone(const Monitor&, const Beacons&, const std::shared_ptr<KSZone>&) override {
    ++calls;
  }
};

std::shared_ptr<KSCustomValue> value(std::string key, std::string v) {
  auto c = std::make_shared<KSCustomValue>();
  c->setKey(std::move(key));
  c->setValue(std::move(v));
  return c;
}

void BM_ZoneHandler(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  auto sites = std::make_shared<SiteCache>();
  for (int s = 0; s < 10; ++s) {
    auto site = std::make_shared<KSSite>();
    site->setSiteID("S" + std::to_string(s));
    site->setSyncStatus(2);
    site->setCustomValues(KSSite::CustomValues{value("zone1_dwelltime", "30"), value("area2_inzoneaftertimerange", "60,300")});
    sites->sites[*site->siteID()] = site;
  }
  const char* keys[] = {"Zone", "area", "wing"};
  Beacons beacons;
  for (int i = 0; i < n; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID("b-" + std::to_string(i));
    b->setSiteID("S" + std::to_string(i % 10));
    b->setAccuracy(0.5 + i * 0.01);
    std::vector<std::shared_ptr<KSCategory>> categories;
    for (int c = 0; c < 5; ++c) {
      auto category = std::make_shared<KSCategory>();
      category->setName("C" + std::to_string(c));
      category->setCustomValues(KSCategory::CustomValues{value(keys[c % 3], "Zone" + std::to_string((i + c) % 7)),
                                                         value("colour", "red")});
      categories.push_back(category);
    }
    b->setCategories(categories);
    beacons.push_back(b);
  }
  KSZoneMonitor::Ports ports;
  ports.scheduler = scheduler;
  ports.center = std::make_shared<velmora::platform::NotificationCenter>();
  ports.sites = sites;
  ports.isCurrentlyInSession = [] { return true; };
  auto delegate = std::make_shared<Ranged>();
  auto monitor = KSZoneMonitor::initWithDelegate(ports, delegate, nullptr, {"zone", "AREA", "wing"});
  monitor->startMonitoringZones();
  for (auto _ : state) {
    monitor->eventManager()->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    scheduler->runUntilIdle();
  }
  benchmark::DoNotOptimize(delegate->calls);
  state.counters["zones"] = static_cast<double>(delegate->calls) / static_cast<double>(state.iterations());
  // Seconds per beacon of a pass (SI prefix: n for ns); flat across sizes when the pass is linear.
  state.counters["per_beacon"] = benchmark::Counter(
      static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ZoneHandler)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

void BM_LassoBuildAndParse(benchmark::State& state) {
  const velmora::platform::Dict request{{"Amount", 1000}, {"Transaction", "Code"}, {"Code", "SPRING-24"},
                               {"OfferId", "OFFER-000123"}, {"ReferenceId", "REF-9"}};
  const auto now = velmora::platform::Date::fromUnixSeconds(1714564800);
  for (auto _ : state) {
    auto packet = KSKLassoPacketData(request, now);
    auto parsed = KSKLassoParseData(*packet);
    benchmark::DoNotOptimize(parsed);
  }
}
BENCHMARK(BM_LassoBuildAndParse)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
