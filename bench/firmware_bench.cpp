// A firmware image through the GATT stream into the simulated beacon's OTA sink, in virtual
// time: the virtual seconds the stream takes (the beacon's pace) and the CPU time per run.
// Beside it, the whole plain update of the same image: login, status, the firmware record,
// image and future-settings downloads from the cloud fake over loopback, the write sequence,
// the stream, Go DFU, the reboot and the confirmation of the advertised status.
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

#include "beacons/api/KSApiClient.h"
#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimLoginResponder.h"
#include "platform/sim/SimOtaSink.h"
#include "testing/BeaconCloudFake.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimGattLink.h"

namespace {

using velmora::platform::Bytes;
using velmora::platform::sim::SimGattServer;
using velmora::platform::sim::SimOtaSink;

constexpr std::size_t kImageBytes = 204'800;

// One run: connects, discovers, streams and reports the virtual seconds from the first write
// to the last.
double streamOnce(bool encrypted, std::size_t dropEvery) {
  using namespace velmora::kestrine;
  using namespace velmora::platform::bluetooth;
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}},
                    {gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}}}}});
  auto sink = SimOtaSink::install(link.server, link.radio, velmora::platform::Uuid::random(),
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

// The login's own cloud calls (its status post) answered offline: the cloud fake sees the
// update's calls only.
class OfflineLoginCloud final : public velmora::kestrine::KSBeaconConfigurationCloud {
 public:
  OfflineLoginCloud() : KSBeaconConfigurationCloud(nullptr) {}
  void getMilk(const velmora::kestrine::KSBeacon&, const Bytes&, const Bytes&, Success, Failure failure) override {
    if (failure) failure(velmora::platform::Error("com.kestrine.bench", -1, "offline"));
  }
  void postStatus(const std::shared_ptr<velmora::kestrine::KSBeacon>&, const Bytes&) override {}
};

class MonitoringSwitch final : public velmora::kestrine::KSBeaconRegionMonitoringSwitch {
 public:
  bool isBeaconRegionMonitoringEnabled() override { return on_; }
  void setBeaconRegionMonitoringEnabled(bool on) override { on_ = on; }

 private:
  std::atomic<bool> on_{true};
};

double processCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

struct WholeUpdateRun {
  double virtualSeconds = 0;  // from scheduling to the success
  double connectedSeconds = 0;  // Connected to Disconnecting: the phase the 450 s budget bounds
  bool succeeded = false;
};

// One whole plain update of the image on the real operation manager and central client.
WholeUpdateRun wholeUpdateOnce() {
  using namespace velmora::kestrine;
  using namespace velmora::platform::bluetooth;
  velmora::testing::BeaconCloudFake cloud;
  testsupport::CentralWorld central;
  velmora::platform::dispatch::Scheduler::setShared(central.world.scheduler);
  auto manager = KSBeaconOperationManager::create(central.world.scheduler, std::make_shared<MonitoringSwitch>());
  central.makeClient(manager);
  manager->setCentralManagerClient(central.client);
  manager->setConfigurationCloud(std::make_shared<OfflineLoginCloud>());
  auto client = KSApiClient::create(cloud.baseUrl(), central.world.scheduler);

  const Bytes image = [] {
    Bytes b(kImageBytes);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return b;
  }();
  const auto digest = velmora::platform::crypto::digest(velmora::platform::crypto::DigestAlgorithm::SHA1, image);
  cloud.putRecord("beacons/b-1/firmware/2.0.0", "firmware",
                  velmora::platform::Value::makeDict({{"version", "2.0.0"},
                                             {"otaFileHash", velmora::platform::crypto::base64Encode(digest)},
                                             {"featureBitmask", 0x200}}));
  cloud.putDownload("beacons/b-1/firmware/2.0.0/ota", std::string(image.begin(), image.end()));
  cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "other", velmora::platform::Value("none"));
  cloud.putRecord("beacons/b-1", "beacon", velmora::platform::Value::makeDict({{"id", "b-1"}}));

  const velmora::platform::Uuid id = velmora::platform::Uuid::random();
  auto server = SimGattServer::create(
      central.world.radio->timeline(),
      {{gattUUID(KSServiceUUIDStringKestrineLong),
        {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
         {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}},
         {gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
         {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}},
         {gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}}}}});
  central.world.radio->setGattServer(id, server);
  auto app = velmora::platform::sim::SimBeaconApplication::install(server, central.world.radio->timeline(),
                                                          gattUUID(KSCharacteristicUUIDStringControl),
                                                          gattUUID(KSCharacteristicUUIDStringIndicator));
  app->setStatusBlock(Bytes{0xFB, 0xFF, 0xBF, 0x01, 0x02});
  auto login = velmora::platform::sim::SimLoginResponder::install(
      server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
               gattUUID(KSCharacteristicUUIDStringIndicator)});
  login->setWater(Bytes{0x01, 0x03, 0xAA, 0xBB, 0xCC});
  login->setStatusBlock(Bytes{0xFB, 0xFF, 0xBF, 0x00});
  auto sink = SimOtaSink::install(server, central.world.radio, id,
                                  {gattUUID(KSCharacteristicUUIDStringControl),
                                   gattUUID(KSCharacteristicUUIDStringIndicator), gattUUID(KSCharacteristicUUIDStringGravy)});
  sink->setExpectedDigest(digest);

  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID("b-1");
  beacon->setPeripheralIdentifier(id);
  central.world.runUntilIdle();

  auto op = KSBeaconFirmwareUpdateOperation::initWithBeacon(beacon, id, "2.0.0", client);
  bool done = false;
  WholeUpdateRun run;
  const auto clock = central.world.scheduler->clock();
  auto now = [clock] { return static_cast<double>(clock->uptime().count()) / 1e6; };
  const double start = now();
  double connectedAt = 0;
  op->setBeaconOperationCompletionBlockWithSuccess(
      [&](const auto&) {
        done = true;
        run.succeeded = true;
      },
      [&](const auto&, const auto&) { done = true; });
  op->setBeaconOperationStatusBlock([&](const auto&, const std::string& text) {
    if (text == "Connected") connectedAt = now();
    if (text == "Disconnecting") run.connectedSeconds = now() - connectedAt;
    // The rebooted beacon's status frame, as the scanning road stores it.
    if (text == "Waiting For Status") {
      velmora::platform::Value ad;
      ad.set(KSAdDataTypeKey, velmora::platform::Value(KSAdDataTypeEncryptedStatusKey));
      ad.set(KSAdDataEncryptedStatusKey, velmora::platform::Value(Bytes(16, 0xC0)));
      central.world.radio->timeline()->after(2.2, [beacon, ad] {
        beacon->setAdData(ad, KSAdDataTypeEncryptedStatusKey);
      });
    }
  });
  manager->scheduleBeaconOperation(op);
  central.world.scheduler->runUntil([&] { return done; }, 2000);
  run.virtualSeconds = now() - start;
  op.reset();
  client.reset();
  central.world.runUntilIdle();
  velmora::platform::dispatch::Scheduler::setShared(nullptr);
  return run;
}

void BM_FirmwareUpdate(benchmark::State& state) {
  WholeUpdateRun run;
  double cpu = 0;
  for (auto _ : state) {
    const double before = processCpuSeconds();
    run = wholeUpdateOnce();
    cpu = processCpuSeconds() - before;
    if (!run.succeeded) state.SkipWithError("the update did not succeed");
  }
  state.counters["virtual_s"] = run.virtualSeconds;
  state.counters["connected_virtual_s"] = run.connectedSeconds;
  state.counters["connected_budget_s"] = 450;
  state.counters["cpu_s"] = cpu;
}

BENCHMARK_CAPTURE(BM_FirmwareStream, plain, false, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirmwareStream, encrypted, true, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FirmwareStream, encrypted_drop_every_1000, true, 1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirmwareUpdate)->Name("BM_FirmwareUpdate/plain_whole")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
