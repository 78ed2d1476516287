// One ranging pass of a warmed lane-detection service: three car parks of 20 lanes with
// three beacons each are already known, the report holds N beacons (the last ones strays that
// belong to no car park), every reading moves a little each pass. The parking lookups are an
// in-memory stub and the scheduler is virtual, so what is measured is the conversion, the
// snapshot list and the lane step.
//
// A simulated stretch of a 200-beacon car park on the whole stack: every beacon sends 10
// iBeacon frames a second into the simulated radio (a fifth of them lost), location services
// range them, the beacon layer parses, caches and smooths them, and lane detection decides on
// each pass (its lookups answered in memory). Reported per simulated hour in process CPU
// seconds, beside the generator alone; RSS at 10 and 60 simulated minutes and its peak.
// Run: build/default/bench/lane_bench
#include <benchmark/benchmark.h>

#include <fmt/format.h>

#include <cmath>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/ParkingLookups.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/core/Log.h"
#include "platform/sim/SimTrace.h"
#include "testing/CarParkDrive.h"
#include "testing/ConfigReset.h"
#include "testing/FakeBeaconSDK.h"
#include "testing/LaneStackWorld.h"

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

// ---- a simulated hour of a 200-beacon car park ----

constexpr int kHourLanes = 100;  // two beacons each
constexpr double kFramePeriod = 0.1;

std::string hourBeaconId(int lane, int k) { return beaconId(100, lane * 10 + k); }

// One car park of 100 lanes with two beacons each, answered for any of its beacons.
class HourLookups final : public ParkingLookups {
 public:
  HourLookups() {
    reply_.result = "Success";
    reply_.carParkId = 1;
    reply_.carParkName = "Big car park";
    for (int l = 1; l <= kHourLanes; ++l) {
      LaneResult lane;
      lane.laneId = l;
      lane.laneType = l % 2 ? 1 : 2;
      lane.laneGroupId = l % 4;
      lane.sortOrder = l;
      lane.minRSSI = -70;
      lane.minDetectionSecs = 2;
      lane.maxDetectionSecs = 6;
      for (int k = 1; k <= 2; ++k) {
        LaneBeaconResult lb;
        lb.laneBeaconId = l * 10 + k;
        lb.beaconId = hourBeaconId(l, k);
        lane.laneBeacons.push_back(lb);
      }
      reply_.lanes.push_back(lane);
    }
  }
  StatusResult status(const StatusRequest&) override {
    StatusResult s;
    s.result = "Success";
    return s;
  }
  DetailsResult detail(const DetailsRequest&) override { return reply_; }

 private:
  DetailsResult reply_;
};

// The car park's beacons on a 20 x 10 grid, 5 m apart, and a car that circles it; each
// frame's strength from the log-distance model with shadowing, a fifth of the frames lost.
class HourGenerator {
 public:
  struct Beacon {
    platform::Uuid peripheral;
    platform::bluetooth::AdvertisementData advertisement;
    double x = 0, y = 0;
  };

  HourGenerator() : noise_(7) {
    for (int l = 1; l <= kHourLanes; ++l) {
      for (int k = 1; k <= 2; ++k) {
        const int i = (l - 1) * 2 + (k - 1);
        const std::string line = fmt::format("0 adv hour-{} -60 mfr={}\n", i,
                                             velmora::testing::iBeaconFrameHex(kUuid, 100, l * 10 + k, -59));
        auto trace = platform::sim::SimTrace::parse(line);
        const auto& e = trace->events().front();
        beacons_.push_back({e.peripheral, e.advertisement, 5.0 * (i % 20), 5.0 * (i / 20)});
      }
    }
  }

  // The frames of one 100-ms slot at time t: send(beacon, rssi) for each one heard.
  template <class Send>
  void slot(double t, Send&& send) {
    const double angle = t / 120.0 * 2 * 3.141592653589793;  // one lap every two minutes
    const double cx = 47.5 + 30 * std::cos(angle), cy = 22.5 + 15 * std::sin(angle);
    for (const auto& b : beacons_) {
      const bool lost = noise_.chance(0.2);
      const double shadow = 2.0 * noise_.normal();
      if (lost) continue;
      const double d = std::max(0.5, std::hypot(cx - b.x, cy - b.y, 2.5));
      const int rssi = static_cast<int>(std::lround(-59 - 22 * std::log10(d) + shadow));
      send(b, std::clamp(rssi, -100, -1));
    }
  }

 private:
  velmora::testing::DriveNoise noise_;
  std::vector<Beacon> beacons_;
};

double processCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Resident set size now, in MiB, from /proc/self/status ("VmRSS"); the peak is "VmHWM".
double statusMiB(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024.0;
  }
  return 0;
}

class NullDelegate final : public BeaconServiceDelegate {};

void BM_CarParkHour(benchmark::State& state) {
  const int minutes = static_cast<int>(state.range(0));
  const int slots = static_cast<int>(minutes * 60 / kFramePeriod);
  double cpu = 0, rss10 = 0, rssEnd = 0;
  std::size_t frames = 0;
  // The beacon layer's one-off start-up notes would only clutter the table.
  auto previousSink = platform::Log::setSink([](platform::LogLevel level, std::string_view category, std::string_view message) {
    if (level >= platform::LogLevel::Error) fmt::print(stderr, "[error] {}: {}\n", category, message);
  });
  for (auto _ : state) {
    velmora::testing::ConfigReset config;
    velmora::testing::LaneStackWorld stack;
    VelmoraSDKConfig::setUser(42, "token-42");
    VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::none);
    stack.monitorProximityUUID(kUuid);
    auto service = BeaconService::create(nullptr, std::make_shared<HourLookups>());
    auto delegate = std::make_shared<NullDelegate>();  // the service holds it weakly
    service->setDelegate(delegate);
    service->initService();
    service->startService([](const BeaconServiceResult&) {});
    stack.world.runUntilIdle();
    HourGenerator generator;
    auto& radio = *stack.world.radio;

    const double start = processCpuSeconds();
    for (int i = 0; i < slots; ++i) {
      generator.slot(i * kFramePeriod, [&](const HourGenerator::Beacon& b, int rssi) {
        radio.advertise(b.peripheral, b.advertisement, rssi);
        ++frames;
      });
      stack.world.advanceBy(kFramePeriod);
      if (i + 1 == static_cast<int>(10 * 60 / kFramePeriod)) rss10 = statusMiB("VmRSS");
    }
    cpu += processCpuSeconds() - start;
    rssEnd = statusMiB("VmRSS");
    state.counters["closestLane"] = service->getClosestLane() ? 1 : 0;
    service.reset();
  }
  platform::Log::setSink(std::move(previousSink));
  state.counters["cpuSecondsPerSimHour"] = cpu / static_cast<double>(state.iterations()) * 60.0 / minutes;
  state.counters["framesPerSimHour"] = static_cast<double>(frames) / static_cast<double>(state.iterations()) * 60.0 / minutes;
  state.counters["rssAt10MinMiB"] = rss10;
  state.counters["rssAtEndMiB"] = rssEnd;
  state.counters["peakRssMiB"] = statusMiB("VmHWM");
}
// A smoke run takes the short stretch; the hour (RSS at 10 and 60 minutes) is the long one.
BENCHMARK(BM_CarParkHour)->Arg(10)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->MeasureProcessCPUTime();

// The generator alone, for the same stretches: what the figure above owes to making frames.
void BM_CarParkHourGeneratorOnly(benchmark::State& state) {
  const int minutes = static_cast<int>(state.range(0));
  const int slots = static_cast<int>(minutes * 60 / kFramePeriod);
  double cpu = 0;
  for (auto _ : state) {
    HourGenerator generator;
    long sum = 0;
    const double start = processCpuSeconds();
    for (int i = 0; i < slots; ++i) generator.slot(i * kFramePeriod, [&](const HourGenerator::Beacon&, int rssi) { sum += rssi; });
    cpu += processCpuSeconds() - start;
    benchmark::DoNotOptimize(sum);
  }
  state.counters["cpuSecondsPerSimHour"] = cpu / static_cast<double>(state.iterations()) * 60.0 / minutes;
}
BENCHMARK(BM_CarParkHourGeneratorOnly)->Arg(10)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
