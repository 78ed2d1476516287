// Visit records: exporting a batch for posting, and one write-through into a bound row.
#include <benchmark/benchmark.h>

#include "beacons/model/KSBeaconVisit.h"
#include "testing/FakeLocalStorage.h"

namespace {

using kestrine::KSBeaconVisit;
using platform::Date;
using platform::Value;

std::shared_ptr<KSBeaconVisit> fullVisit(int i) {
  auto v = std::make_shared<KSBeaconVisit>();
  v->setBeaconVisitID("visit-" + std::to_string(i));
  v->setSDKVersion("4.2.0");
  v->setProximityUUIDString("F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  v->setMajor(Value(100));
  v->setMinor(Value(i));
  v->setSerialNumber("SN" + std::to_string(i));
  v->setSiteID("site");
  v->setDeviceUUID("device");
  v->setSessionUUID("session");
  v->setBeganAt(Date::fromUnixSeconds(1.7e9));
  v->setEndedAt(Date::fromUnixSeconds(1.7e9 + 60));
  v->setRssiWhenVisitBegan(Value(-70));
  v->setRssiWhenVisitEnded(Value(-80));
  v->setCDist(Value(0.8));
  v->setCProx(2);
  platform::location::Location fix;
  fix.latitude = 52.5;
  fix.longitude = 13.4;
  v->setLocation(fix);
  return v;
}

void BM_ExportTenVisitsToJSONText(benchmark::State& state) {
  std::vector<std::shared_ptr<KSBeaconVisit>> visits;
  for (int i = 0; i < 10; ++i) visits.push_back(fullVisit(i));
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (const auto& v : visits) bytes += v->toJSONString()->size();
    benchmark::DoNotOptimize(bytes);
  }
}
BENCHMARK(BM_ExportTenVisitsToJSONText);

void BM_WriteThroughOnABoundVisit(benchmark::State& state) {
  auto row = std::make_shared<kestrine::testing::FakeStoredRow>("KSBeaconVisit");
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  std::int64_t rssi = -60;
  for (auto _ : state) {
    visit->setRssiWhenVisitEnded(Value(rssi));
    if (row->writes.size() > 1024) row->writes.clear();
  }
}
BENCHMARK(BM_WriteThroughOnABoundVisit);

}  // namespace

BENCHMARK_MAIN();
