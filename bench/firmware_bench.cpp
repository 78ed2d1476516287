// A firmware image through the GATT stream into the simulated beacon's OTA sink, in virtual
// time: the virtual seconds the stream takes (the beacon's pace) and the CPU time per run.
#include <benchmark/benchmark.h>

#include <memory>

#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimOtaSink.h"
#include "testing/SimGattLink.h"

namespace {

using platform::Bytes;
using platform::sim::SimGattServer;
using platform::sim::SimOtaSink;

constexpr std::size_t kImageBytes = 204'800;

// One run: connects, discovers, streams and reports the virtual seconds from the first write
// to the last.
double streamOnce(bool encrypted, std::size_t dropEvery) {
  using namespace kestrine;
  using namespace platform::bluetooth;
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}},
                    {gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}}}}});
  auto sink = SimOtaSink::install(link.server, link.radio, platform::Uuid::random(),
                                  {gattUUID(KSCharacteristicUUIDStringControl), gattUUID(KSCharacteristicUUIDStringIndicator),
                                   gattUUID(KSCharacteristicUUIDStringGravy)},
                                  encrypted ? SimOtaSink::Format::Records : SimOtaSink::Format::Raw);
  if (dropEvery > 0) {
    for (std::size_t k = dropEvery; k < kImageBytes / 16; k += dropEvery) sink->dropRecordOnce(static_cast<std::uint16_t>(k));
  }
  scheduler->advanceBy(0.1);
  link.peripheral->discoverServices(std::nullopt);
  scheduler->advanceBy(0.1);
  auto service = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::nullopt, service);
  scheduler->advanceBy(0.1);
  auto gravy = KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringGravy), service);
  auto indicator = KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringIndicator), service);
  const Bytes image(kImageBytes, 0x5A);
  std::shared_ptr<KSStreamDataCommand> command;
  if (encrypted) {
    command = KSStreamDataCommand::create(link.peripheral, scheduler, link.queue, service, gravy,
                                          KSBeaconFirmwareEncryptedUpdateOperation::records(image), 5, 30, indicator);
    command->setChunkSize(18);
  } else {
    command = KSStreamDataCommand::create(link.peripheral, scheduler, link.queue, service, gravy, image, 20);
  }
  bool done = false;
  command->setCompletionBlock([&](const auto&, const auto&) { done = true; });
  command->execute();
  scheduler->runUntil([&] { return done; });
  const auto writes = sink->gravyWrites();
  return writes.empty() ? 0 : static_cast<double>(writes.back().atMicros - writes.front().atMicros) / 1e6;
}

void BM_FirmwareStream(benchmark::State& state, bool encrypted, std::size_t dropEvery) {
  double seconds = 0;
  for (auto _ : state) seconds = streamOnce(encrypted, dropEvery);
  state.counters["virtual_s"] = seconds;
}

BENCHMARK_CAPTURE(BM_FirmwareStream, plain, false, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirmwareStream, encrypted, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirmwareStream, encrypted_drop_every_1000, true, 1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
