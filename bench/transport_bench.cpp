// A 10 KiB transport request with a 10 KiB reply between the real operation manager and the
// simulated beacon's transport engine, in virtual time: the virtual seconds one transfer takes
// on the simulated link (GATT latencies of 5 ms) and the CPU it costs here.
// Run: build/default/bench/transport_bench
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/model/KSBeacon.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTransportEngine.h"
#include "testing/CentralTestSupport.h"

namespace {

using namespace kestrine;
using platform::Bytes;

class MonitoringOff final : public KSBeaconRegionMonitoringSwitch {
 public:
  bool isBeaconRegionMonitoringEnabled() override { return false; }
  void setBeaconRegionMonitoringEnabled(bool) override {}
};

void BM_TransportTenKiBEachWay(benchmark::State& state) {
  testsupport::CentralWorld cw;
  platform::dispatch::Scheduler::setShared(cw.world.scheduler);
  auto manager = KSBeaconOperationManager::create(cw.world.scheduler, std::make_shared<MonitoringOff>());
  cw.makeClient(manager);
  manager->setCentralManagerClient(cw.client);
  const platform::Uuid id = platform::Uuid::random();
  using namespace platform::bluetooth;
  auto server = platform::sim::SimGattServer::create(
      cw.world.radio->timeline(),
      {{gattUUID(KSServiceUUIDStringKestrineLong),
        {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
         {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}});
  cw.world.radio->setGattServer(id, server);
  auto app = platform::sim::SimBeaconApplication::install(server, cw.world.radio->timeline(),
                                                          gattUUID(KSCharacteristicUUIDStringControl),
                                                          gattUUID(KSCharacteristicUUIDStringIndicator));
  auto engine = platform::sim::SimTransportEngine::create();
  engine->attach(*app);
  const Bytes request(10 * 1024, 0x5A);
  const Bytes reply(10 * 1024, 0xA5);
  engine->setReplyHandler([&reply](const Bytes&) { return reply; });
  auto beacon = std::make_shared<KSBeacon>();
  auto clock = cw.world.scheduler->clock();
  double virtualSeconds = 0;
  for (auto _ : state) {
    beacon->setPeripheralIdentifier(id);
    auto operation = KSBeaconTransportDataRequestOperation::initWithBeacon(beacon, id, request);
    bool done = false;
    operation->setBeaconOperationCompletionBlock([&done](const auto&, const auto& error) {
      done = true;
      if (error) std::abort();
    });
    const auto start = clock->uptime();
    manager->scheduleBeaconOperation(operation);
    while (!done) cw.world.advanceBy(0.05);
    virtualSeconds += static_cast<double>((clock->uptime() - start).count()) / 1e6;
    if (operation->responseData().size() != reply.size()) std::abort();
  }
  state.counters["virtual_s"] = benchmark::Counter(virtualSeconds, benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(request.size() + reply.size()));
  cw.world.runUntilIdle();
  platform::dispatch::Scheduler::setShared(nullptr);
}
BENCHMARK(BM_TransportTenKiBEachWay)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
