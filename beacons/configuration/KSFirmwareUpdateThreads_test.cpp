// The firmware update on real threads: the central's events, the stream's pacing, the cloud's
// replies and the status poll run on their own threads while a host thread cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "beacons/api/KSApiClient.h"
#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimOtaSink.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimReachability.h"
#include "testing/BeaconCloudFake.h"
#include "testing/CentralTestSupport.h"
#include "testing/OperationTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Value;
using platform::sim::SimGattServer;

constexpr auto kBound = std::chrono::seconds(60);

template <class Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

struct ThreadWorld {
  std::shared_ptr<platform::dispatch::ThreadScheduler> scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  velmora::testing::TempDir documents;
  velmora::testing::BeaconCloudFake cloud;
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<platform::sim::SimRadio> radio;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<KSBeaconOperationManager> manager;
  std::shared_ptr<KSCentralManagerClient> client;
  std::shared_ptr<testsupport::RecordingHub> hub = std::make_shared<testsupport::RecordingHub>();
  std::shared_ptr<KSApiClient> api;
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<platform::sim::SimBeaconApplication> app;
  std::shared_ptr<platform::sim::SimOtaSink> sink;
  std::shared_ptr<KSBeacon> beacon = std::make_shared<KSBeacon>();
  platform::Uuid id = platform::Uuid::random();
  Bytes image = Bytes(16 * 400, 0x5A);

  ThreadWorld() {
    platform::dispatch::Scheduler::setShared(scheduler);
    radio = platform::sim::SimRadio::create(scheduler);
    radio->setDefaultConnectScript({.latencySeconds = 0.002});
    auto simApp = platform::sim::SimApp::create(scheduler, *center, documents.path());
    KSPlatformBundle bundle;
    bundle.scheduler = scheduler;
    bundle.notificationCenter = center;
    bundle.defaults = platform::UserDefaults::open(documents.path() / KSPlatformBundle::kDefaultsFileName);
    bundle.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(radio->centralMaker());
    bundle.location = platform::sim::SimLocation::create(scheduler, radio);
    bundle.app = simApp;
    bundle.reachability = platform::sim::SimReachability::create(scheduler);
    simApp->perform(platform::sim::SimApp::Step::LaunchForeground);
    provider = KSInstanceProvider::create(bundle);
    configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    manager = KSBeaconOperationManager::create(scheduler, std::make_shared<testsupport::FakeRegionMonitoring>(true));
    hub->allowScans = false;
    client = KSCentralManagerClient::initWithDelegate(provider, {hub, nullptr, manager, nullptr});
    manager->setCentralManagerClient(client);
    // The login's status post stays off the fake, which then sees only the update's calls.
    manager->setConfigurationCloud(std::make_shared<testsupport::OfflineCloud>());
    api = KSApiClient::create(cloud.baseUrl(), scheduler);

    using namespace velmora::platform::bluetooth;
    constexpr SimGattServer::Latencies kQuick{.discovery = 0.001, .read = 0.001, .write = 0.001,
                                              .notifySwitch = 0.001, .notification = 0.001};
    server = SimGattServer::create(
        radio->timeline(),
        {{gattUUID(KSServiceUUIDStringKestrineLong),
          {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
           {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}},
           {gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
           {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}},
           {gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}}}}},
        kQuick);
    radio->setGattServer(id, server);
    app = platform::sim::SimBeaconApplication::install(server, radio->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                                       gattUUID(KSCharacteristicUUIDStringIndicator));
    app->setStatusBlock(Bytes{1, 2, 3});
    app->setStatusDelay(0.001);
    login = testsupport::installLoginResponder(server);
    sink = platform::sim::SimOtaSink::install(server, radio, id,
                                              {gattUUID(KSCharacteristicUUIDStringControl),
                                               gattUUID(KSCharacteristicUUIDStringIndicator),
                                               gattUUID(KSCharacteristicUUIDStringGravy)});
    sink->setRebootSeconds(0.01);
    beacon->setBeaconID("b-1");
    beacon->setPeripheralIdentifier(id);
  }
  ~ThreadWorld() {
    api.reset();
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  void putCloud(const Bytes& body) {
    const auto digest = platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, body);
    cloud.putRecord("beacons/b-1/firmware/2.0.0", "firmware",
                    Value::makeDict({{"version", "2.0.0"},
                                     {"otaFileHash", platform::crypto::base64Encode(digest)},
                                     {"featureBitmask", 0x200}}));
    cloud.putDownload("beacons/b-1/firmware/2.0.0/ota", std::string(body.begin(), body.end()));
    cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "other", Value("none"));
  }
  std::size_t gravyWrites() const { return sink->gravyWrites().size(); }
  std::shared_ptr<platform::sim::SimLoginResponder> login;  // kept: the server holds it weakly
};

struct Seen {
  std::atomic<int> reports{0};
  std::atomic<int> statuses{0};
};

std::shared_ptr<Seen> watch(const std::shared_ptr<KSBeaconOperation>& op) {
  auto seen = std::make_shared<Seen>();
  op->setBeaconOperationCompletionBlockWithSuccess([seen](const auto&) { ++seen->reports; },
                                                   [seen](const auto&, const auto&) { ++seen->reports; });
  op->setBeaconOperationStatusBlock([seen](const auto&, const std::string&) { ++seen->statuses; });
  op->setBeaconOperationProgressBlock([](const auto&, float) {});
  return seen;
}

TEST(FirmwareUpdateThreads, AHostThreadCancelsDuringTheStream) {
  ThreadWorld w;
  w.putCloud(w.image);
  auto op = KSBeaconFirmwareUpdateOperation::initWithBeacon(w.beacon, w.id, "2.0.0", w.api);
  auto seen = watch(op);
  w.manager->scheduleBeaconOperation(op);
  ASSERT_TRUE(eventually([&] { return w.gravyWrites() >= 20; })) << "the stream did not get under way";
  std::thread host([&] { op->cancel(); });
  host.join();
  ASSERT_TRUE(eventually([&] { return op->isOperationTerminated(); }));
  std::size_t atCancel = 0;
  op->queue()->sync([&] { atCancel = w.gravyWrites(); });
  // Whatever the queue and the air still held runs now: at most the write of a pacing tick
  // already under way follows the cancel.
  op->queue()->sync([] {});
  w.radio->timeline()->queue()->sync([] {});
  op->queue()->sync([] {});
  EXPECT_LE(w.gravyWrites(), atCancel + 1);
  EXPECT_EQ(seen->reports.load(), 0);
  for (const auto& write : w.app->controlWrites()) EXPECT_NE(write, Bytes{0x03});
}

TEST(FirmwareUpdateThreads, AHostThreadCancelsDuringTheStatusPoll) {
  ThreadWorld w;
  const Bytes small(16 * 4, 0x33);
  w.putCloud(small);
  auto op = KSBeaconFirmwareUpdateOperation::initWithBeacon(w.beacon, w.id, "2.0.0", w.api);
  auto seen = watch(op);
  w.manager->scheduleBeaconOperation(op);
  ASSERT_TRUE(eventually([&] { return op->isStatusTimerRunning(); })) << "the poll never started";
  std::thread host([&] { op->cancel(); });
  host.join();
  EXPECT_FALSE(op->isStatusTimerRunning());
  // A status heard after the cancel confirms nothing.
  w.beacon->setAdData(Value::makeDict({{std::string(KSAdDataTypeKey), std::string(KSAdDataTypeEncryptedStatusKey)},
                                       {std::string(KSAdDataEncryptedStatusKey), Value(Bytes(16, 0x77))}}),
                      KSAdDataTypeEncryptedStatusKey);
  op->queue()->sync([] {});
  EXPECT_FALSE(op->isStatusTimerRunning());
  EXPECT_EQ(w.cloud.hits("PUT", "beacons/b-1/versions/confirm"), 0u);
  EXPECT_EQ(seen->reports.load(), 0);
}

}  // namespace
}  // namespace velmora::kestrine
