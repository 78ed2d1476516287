// Speed of the beacon record on the ranging road: storing advertisements, decoding
// measurement frames, filtering ranged beacons. Run: build/default/bench/model_bench
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconFilter.h"
#include "beacons/model/KSMeasurementHistory.h"

namespace {

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::Date;
using velmora::platform::Value;

Value iBeaconAd(int i) {
  return Value(velmora::platform::Dict{{std::string(KSAdDataTypeKey), Value(KSAdDataTypeKestrineIBeaconKey)},
                              {std::string(KSAdDataTimestampKey), Value(Date::fromReferenceSeconds(i))},
                              {std::string(KSAdDataMajorKey), Value(100)},
                              {std::string(KSAdDataMinorKey), Value(i % 1000)},
                              {std::string(KSAdDataBatteryLevelKey), Value(90)},
                              {std::string(KSAdDataFirstDiscoveredAtKey), Value(Date::fromReferenceSeconds(0))},
                              {std::string(KSAdDataDiscoveredCountKey), Value(i)}});
}

// One advertisement handed to the beacon as the hub does, the dictionary built beforehand.
void BM_StoreOneAdvertisement(benchmark::State& state) {
  auto beacon = std::make_shared<KSBeacon>();
  std::vector<Value> ads;
  for (int i = 0; i < 64; ++i) ads.push_back(iBeaconAd(i));
  std::size_t i = 0;
  for (auto _ : state) {
    beacon->setAdData(ads[i++ & 63], KSAdDataTypeKestrineIBeaconKey);
  }
  benchmark::DoNotOptimize(beacon->major());
}
BENCHMARK(BM_StoreOneAdvertisement);

// A maker measurement frame of temperature, accelerometer and battery voltage.
void BM_DecodeOneMeasurementFrame(benchmark::State& state) {
  KSMeasurementHistory history;
  const Bytes frame{0x00, 0x19, 0x80, 0x01, 0x40, 0x01, 0x00, 0x00, 0xFF, 0x00, 0x03, 0x0B, 0xC4};
  for (auto _ : state) {
    auto decoded = history.decodeFrame(frame);
    benchmark::DoNotOptimize(decoded);
  }
}
BENCHMARK(BM_DecodeOneMeasurementFrame);

std::vector<std::shared_ptr<KSBeacon>> rangedBeacons(int n) {
  std::vector<std::shared_ptr<KSBeacon>> beacons;
  for (int i = 0; i < n; ++i) {
    auto b = std::make_shared<KSBeacon>();
    b->setProximity(static_cast<std::uint64_t>(i % 4));
    auto category = std::make_shared<KSCategory>();
    category->setName(i % 5 == 0 ? "Entry" : "Other");
    auto other = std::make_shared<KSCategory>();
    other->setName("Level " + std::to_string(i % 3));
    b->setCategories(std::vector{other, category});
    beacons.push_back(std::move(b));
  }
  return beacons;
}

void BM_Filter500ByProximityAndCategory(benchmark::State& state) {
  auto beacons = rangedBeacons(500);
  auto near = KSBeaconFilter::predicateForProximity(2);
  auto entry = KSBeaconFilter::predicateForCategoryNamed("Entry");
  for (auto _ : state) {
    auto result = KSBeaconFilter::filteredArrayUsingPredicate(
        KSBeaconFilter::filteredArrayUsingPredicate(beacons, near), entry);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_Filter500ByProximityAndCategory);

}  // namespace

BENCHMARK_MAIN();
