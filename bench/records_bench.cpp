// Visit records: exporting a batch for posting, and one write-through into a bound row;
// sites: importing one page of the cloud API's site list.
#include <benchmark/benchmark.h>

#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSModelServices.h"
#include "platform/core/Json.h"
#include "testing/FakeLocalStorage.h"

namespace {

using velmora::kestrine::KSBeaconVisit;
using velmora::platform::Date;
using velmora::platform::Value;

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
  velmora::platform::location::Location fix;
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
  auto row = std::make_shared<velmora::kestrine::testing::FakeStoredRow>("KSBeaconVisit");
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  std::int64_t rssi = -60;
  for (auto _ : state) {
    visit->setRssiWhenVisitEnded(Value(rssi));
    if (row->writes.size() > 1024) row->writes.clear();
  }
}
BENCHMARK(BM_WriteThroughOnABoundVisit);

// One page of 100 sites as the cloud API serves them, each with an address, an access type,
// one map and two custom values.
void BM_ImportAPageOfHundredSites(benchmark::State& state) {
  std::string text = "[";
  for (int i = 0; i < 100; ++i) {
    if (i) text += ",";
    text += R"({"id":"site-)" + std::to_string(i) +
            R"(","name":"Garage","teamID":"T","beaconCount":12,"createdAt":"2024-03-01T10:00:00Z",)"
            R"("siteAccessType":{"id":1,"name":"public"},)"
            R"("address":{"id":"a","streetLine1":"1 Quay St","cityName":"Portsea","latitude":50.8,"longitude":-1.1},)"
            R"("maps":[{"id":"m","name":"Ground","scaleX":0.5,"mapResource":{"id":"r","url":"http://img/1.png"}}],)"
            R"("customValues":[{"id":"c1","key":"open","value":"24h"},{"id":"c2","key":"floors","value":"3"}]})";
  }
  text += "]";
  const velmora::platform::Value page = *velmora::platform::json::parse(text);
  for (auto _ : state) {
    auto sites = velmora::kestrine::model_services::importPage<velmora::kestrine::KSSite>(*page.array(), "site");
    benchmark::DoNotOptimize(sites.data());
  }
}
BENCHMARK(BM_ImportAPageOfHundredSites);

}  // namespace

BENCHMARK_MAIN();
