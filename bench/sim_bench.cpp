// The simulated radio playing a simulated hour of 200 peripherals advertising at 10 Hz
// into a scanning central that does nothing with what it hears. The "cpu_s_per_sim_hour"
// counter is the CPU time one simulated hour costs.
#include <benchmark/benchmark.h>

#include <ctime>

#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimRadio.h"

namespace {

using namespace velmora::platform;

class NoOpCentral final : public bluetooth::CentralDelegate {
 public:
  void centralDidUpdateState(bluetooth::CentralState) override {}
  void centralDidDiscoverPeripheral(const std::shared_ptr<bluetooth::Peripheral>&,
                                    const bluetooth::AdvertisementData&, int) override {
    ++heard;
  }
  std::uint64_t heard = 0;
};

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void BM_SimRadioHour(benchmark::State& state) {
  const int peripherals = static_cast<int>(state.range(0));
  const double simulatedSeconds = static_cast<double>(state.range(1));
  double cpu = 0;
  std::uint64_t heard = 0;
  for (auto _ : state) {
    auto scheduler = std::make_shared<dispatch::VirtualScheduler>();
    auto radio = sim::SimRadio::create(scheduler);
    auto delegate = std::make_shared<NoOpCentral>();
    auto central = radio->makeCentral(delegate, scheduler->makeSerialQueue("sdk"));
    central->scanForPeripherals({}, {.allowDuplicates = true});
    for (int i = 0; i < peripherals; ++i) {
      bluetooth::AdvertisementData ad;
      ad.serviceData.emplace_back(bluetooth::BluetoothUUID::from16(0xFEAA),
                                  Bytes{0x00, 0xEE, 0xED, 0xD1, 0xEB, 0xEA, 0xC0, 0x4E, 0x5D, 0xEF, 0xA0, 0x17,
                                        0x0B, 0xDB, 0x87, 0x53, 0x9B, 0x67, 0x00, static_cast<std::uint8_t>(i)});
      radio->addAdvertiser({.identifier = Uuid::random(),
                            .advertisement = std::move(ad),
                            .intervalSeconds = 0.1,
                            .phaseSeconds = 0.1 * i / peripherals,
                            .rssiOverTime = {},
                            .rssi = -60 - i % 30});
    }
    const double start = cpuSeconds();
    scheduler->advanceBy(simulatedSeconds);
    cpu += cpuSeconds() - start;
    heard += delegate->heard;
  }
  state.counters["cpu_s_per_sim_hour"] = cpu / static_cast<double>(state.iterations()) * 3600.0 / simulatedSeconds;
  state.counters["advertisements"] = static_cast<double>(heard) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_SimRadioHour)->Args({200, 3600})->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
