// One advertisement from the central's callback to the hub's delegate call: parsing against
// the known UUIDs, the namespace test, the discovery counts and the processor chain.
// Run: build/default/bench/central_bench
#include <benchmark/benchmark.h>

#include <cstdio>

#include "testing/CentralTestSupport.h"
#include "testing/HexBytes.h"

namespace {

using namespace velmora::kestrine;

struct Noop : KSPluginAdDataProcessable {
  bool processAdData(velmora::platform::Value&) override { return false; }
};

void BM_CentralDiscover(benchmark::State& state) {
  const int regions = static_cast<int>(state.range(0));
  const int processors = static_cast<int>(state.range(1));
  testsupport::CentralWorld cw;
  std::vector<std::string> uuids, namespaces;
  for (int i = 0; i < regions; ++i) {
    char uuid[40], ns[24];
    std::snprintf(uuid, sizeof uuid, "%08X-0000-4000-8000-%012X", i + 1, i + 1);
    std::snprintf(ns, sizeof ns, "%020X", i + 1);
    uuids.push_back(uuid);
    namespaces.push_back(ns);
  }
  cw.regions->set(uuids, namespaces);
  cw.makeClient();
  cw.world.runUntilIdle();
  for (int i = 0; i < processors; ++i) cw.client->addAdDataProcessor(std::make_shared<Noop>());
  const auto bytes = velmora::testing::hexBytes("040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0");
  velmora::platform::bluetooth::AdvertisementData ad;
  ad.manufacturerData = velmora::platform::Bytes(bytes.begin(), bytes.end());
  const auto id = velmora::platform::Uuid::random();
  cw.world.radio->advertise(id, ad, -60);
  cw.world.runUntilIdle();
  auto peripheral = cw.client->retrievePeripheralWithIdentifier(id);
  if (!peripheral) {
    state.SkipWithError("no peripheral");
    return;
  }
  cw.hub->keepDiscoveries = false;
  for (auto _ : state) cw.client->centralDidDiscoverPeripheral(peripheral, ad, -60);
  benchmark::DoNotOptimize(cw.hub->discoveryCount.load());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CentralDiscover)->ArgsProduct({{0, 10, 100}, {0, 3}});

}  // namespace

BENCHMARK_MAIN();
