// One ranging pass of a warmed lane-detection service: three car parks of 20 lanes with
// three beacons each are already known, the report holds N beacons (the last ones strays that
// belong to no car park), every reading moves a little each pass. The parking lookups are an
// in-memory stub and the scheduler is virtual, so what is measured is the conversion, the
// snapshot list and the lane step. Run: build/default/bench/lane_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <map>
#include <memory>
#include <vector>

#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/ParkingLookups.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/ConfigReset.h"
#include "testing/FakeBeaconSDK.h"

namespace {

using namespace velmora;

constexpr const char* kUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
constexpr int kCarParks = 3;
constexpr int kLanes = 20;
constexpr int kBeaconsPerLane = 3;

// major = car park * 100 + lane, minor = beacon of the lane (1…3); strays use major 999.
std::string beaconId(int major, int minor) { return fmt::format("{}:{}:{}", kUuid, major, minor); }

class StubLookups final : public ParkingLookups {
 public:
  StubLookups() {
    for (int p = 1; p <= kCarParks; ++p) {
      DetailsResult r;
      r.result = "Success";
      r.carParkId = p;
      r.carParkName = fmt::format("Car park {}", p);
      for (int l = 1; l <= kLanes; ++l) {
        LaneResult lane;
        lane.laneId = p * 100 + l;
        lane.laneType = l % 2 ? 1 : 2;
        lane.laneGroupId = l % 4;
        lane.sortOrder = l;
        lane.minRSSI = -70;
        lane.minDetectionSecs = 2;
        lane.maxDetectionSecs = 6;
        for (int b = 1; b <= kBeaconsPerLane; ++b) {
          LaneBeaconResult lb;
          lb.laneBeaconId = lane.laneId * 10 + b;
          lb.beaconId = beaconId(p * 100 + l, b);
          lane.laneBeacons.push_back(lb);
        }
        r.lanes.push_back(lane);
      }
      for (const auto& lane : r.lanes) {
        for (const auto& lb : lane.laneBeacons) byBeacon_[lb.beaconId] = r;
      }
    }
  }
  StatusResult status(const StatusRequest&) override {
    StatusResult s;
    s.result = "Success";
    return s;
  }
  DetailsResult detail(const DetailsRequest& request) override {
    auto it = byBeacon_.find(request.beaconID.value_or(""));
    if (it != byBeacon_.end()) return it->second;
    DetailsResult failure;
    failure.result = "Failure";
    return failure;
  }

 private:
  std::map<std::string, DetailsResult> byBeacon_;
};

class CountingDelegate final : public BeaconServiceDelegate {
 public:
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& b) override { seen += b.size(); }
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& l) override { seen += l.size(); }
  std::size_t seen = 0;
};

// The N beacons of a report: lane beacons spread over the three car parks, then strays.
std::vector<RangedBeacon> report(int n, int pass) {
  std::vector<RangedBeacon> out;
  out.reserve(static_cast<std::size_t>(n));
  const int laneBeacons = kCarParks * kLanes * kBeaconsPerLane;
  for (int i = 0; i < n; ++i) {
    const std::int64_t rssi = -45 - (i * 13 + pass * 7) % 50;
    if (i < laneBeacons) {
      const int carPark = i % kCarParks + 1;
      const int lane = (i / kCarParks) % kLanes + 1;
      const int beacon = i / (kCarParks * kLanes) + 1;
      out.push_back(velmora::testing::iBeacon(kUuid, carPark * 100 + lane, beacon, rssi));
    } else {
      out.push_back(velmora::testing::iBeacon(kUuid, 999, i, rssi));
    }
  }
  return out;
}

void BM_LanePass(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  velmora::testing::ConfigReset config;
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  VelmoraSDKConfig::setUser(42, "token-42");
  VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::none);
  auto sdk = std::make_shared<velmora::testing::FakeBeaconSDK>();
  auto delegate = std::make_shared<CountingDelegate>();
  {
    auto service = BeaconService::create(sdk, std::make_shared<StubLookups>());
    service->setDelegate(delegate);
    service->initService();
    // Warm-up: the lookups of every beacon in the report happen here, once; three seconds
    // later a closest lane has been chosen.
    sdk->deliver(report(n, 0));
    scheduler->runUntilIdle();
    scheduler->advanceBy(3);
    sdk->deliver(report(n, 0));
    scheduler->runUntilIdle();
    std::vector<std::vector<RangedBeacon>> reports;
    for (int p = 1; p <= 16; ++p) reports.push_back(report(n, p));
    std::size_t pass = 0;
    for (auto _ : state) {
      sdk->deliver(reports[pass++ % reports.size()]);
      scheduler->runUntilIdle();
    }
    benchmark::DoNotOptimize(delegate->seen);
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["closestLane"] = service->getClosestLane() ? 1 : 0;
  }
  scheduler->runUntilIdle();
  platform::dispatch::Scheduler::setShared(nullptr);
}
BENCHMARK(BM_LanePass)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
