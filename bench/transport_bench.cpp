// A 10 KiB transport request with a 10 KiB reply between the real operation manager and the
// simulated beacon's transport engine, in virtual time: the virtual seconds one transfer takes
// on the simulated link (GATT latencies of 5 ms) and the CPU it costs here.
// Also a type-1 login (discovery, Indicator and Water reads, the Milk write with its verdict)
// on the simulated beacon: the CPU one login costs.
// Run: build/default/bench/transport_bench
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/model/KSBeacon.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimGattServer.h"
#include "platform/sim/SimTransportEngine.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimLoginResponder.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimGattLink.h"

namespace {

using namespace velmora::kestrine;
using velmora::platform::Bytes;

class MonitoringOff final : public KSBeaconRegionMonitoringSwitch {
 public:
  bool isBeaconRegionMonitoringEnabled() override { return false; }
  void setBeaconRegionMonitoringEnabled(bool) override {}
};

void BM_TransportTenKiBEachWay(benchmark::State& state) {
  testsupport::CentralWorld cw;
  velmora::platform::dispatch::Scheduler::setShared(cw.world.scheduler);
  auto manager = KSBeaconOperationManager::create(cw.world.scheduler, std::make_shared<MonitoringOff>());
  cw.makeClient(manager);
  manager->setCentralManagerClient(cw.client);
  const velmora::platform::Uuid id = velmora::platform::Uuid::random();
  using namespace velmora::platform::bluetooth;
  auto server = velmora::platform::sim::SimGattServer::create(
      cw.world.radio->timeline(),
      {{gattUUID(KSServiceUUIDStringKestrineLong),
        {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
         {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}});
  cw.world.radio->setGattServer(id, server);
  auto app = velmora::platform::sim::SimBeaconApplication::install(server, cw.world.radio->timeline(),
                                                          gattUUID(KSCharacteristicUUIDStringControl),
                                                          gattUUID(KSCharacteristicUUIDStringIndicator));
  auto engine = velmora::platform::sim::SimTransportEngine::create();
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
  velmora::platform::dispatch::Scheduler::setShared(nullptr);
}
BENCHMARK(BM_TransportTenKiBEachWay)->Unit(benchmark::kMillisecond);

void BM_TypeOneLogin(benchmark::State& state) {
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  using namespace velmora::platform::bluetooth;
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
                    {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}}}}});
  scheduler->advanceBy(0.1);
  auto responder = velmora::platform::sim::SimLoginResponder::install(
      link.server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
                    gattUUID(KSCharacteristicUUIDStringIndicator)});
  // No status block: nothing goes to the cloud.
  responder->setWater({0x01, 0x03, 0xAA, 0xBB, 0xCC});
  auto random = velmora::platform::crypto::RandomSource::constant(0xA5);
  responder->setMilkFunction([random](const Bytes& water) { return KSBeaconLoginCommand::milkForWater(water, {}, *random); });
  auto queue = scheduler->makeSerialQueue("com.kestrine.configuration");
  for (auto _ : state) {
    auto login = KSBeaconLoginCommand::create(nullptr, link.peripheral, queue);
    login->setRandomSource(random);
    bool done = false;
    login->setCompletionBlock([&done](const auto&, const auto& error) {
      done = true;
      if (error) std::abort();
    });
    login->execute();
    while (!done) scheduler->advanceBy(0.01);
  }
}
BENCHMARK(BM_TypeOneLogin)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
