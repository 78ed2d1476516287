// The cloud-prepared settings update on real threads: the configuration queue, the central's
// queue, the loopback cloud's client and a host thread that cancels the update at varying
// points; a cancelled update never reports, and the beacon is free for the next one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "beacons/api/KSApiClient.h"
#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSBeacon.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimBeaconApplication.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimReachability.h"
#include "platform/sim/SimSettingsSink.h"
#include "testing/BeaconCloudFake.h"
#include "testing/CentralTestSupport.h"
#include "testing/OperationTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::sim::SimGattServer;

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds bound = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(SettingsUpdateThreads, AHostThreadCancelsWhileTheUpdateRuns) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  {
    velmora::testing::TempDir documents;
    velmora::testing::BeaconCloudFake cloudFake;
    auto center = std::make_shared<platform::NotificationCenter>();
    auto radio = platform::sim::SimRadio::create(scheduler);
    radio->setDefaultConnectScript({.latencySeconds = 0.002});
    auto app = platform::sim::SimApp::create(scheduler, *center, documents.path());
    KSPlatformBundle bundle;
    bundle.scheduler = scheduler;
    bundle.notificationCenter = center;
    bundle.defaults = platform::UserDefaults::open(documents.path() / KSPlatformBundle::kDefaultsFileName);
    bundle.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(radio->centralMaker());
    bundle.location = platform::sim::SimLocation::create(scheduler, radio);
    bundle.app = app;
    bundle.reachability = platform::sim::SimReachability::create(scheduler);
    app->perform(platform::sim::SimApp::Step::LaunchForeground);
    auto provider = KSInstanceProvider::create(bundle);
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    auto monitoring = std::make_shared<testsupport::FakeRegionMonitoring>(true);
    auto manager = KSBeaconOperationManager::create(scheduler, monitoring);
    auto hub = std::make_shared<testsupport::RecordingHub>();
    hub->allowScans = false;
    auto central = KSCentralManagerClient::initWithDelegate(provider, {hub, nullptr, manager, nullptr});
    manager->setCentralManagerClient(central);

    const platform::Bytes key(16, 0x3C);
    constexpr SimGattServer::Latencies kQuick{.discovery = 0.001, .read = 0.001, .write = 0.001, .notifySwitch = 0.001,
                                              .notification = 0.001};
    const platform::Uuid id = platform::Uuid::random();
    auto server = SimGattServer::create(radio->timeline(), {testsupport::makerGattService()}, kQuick);
    radio->setGattServer(id, server);
    auto beaconApp = platform::sim::SimBeaconApplication::install(server, radio->timeline(),
                                                                  gattUUID(KSCharacteristicUUIDStringControl),
                                                                  gattUUID(KSCharacteristicUUIDStringIndicator));
    beaconApp->setStatusBlock(platform::Bytes(20, 0x01));
    beaconApp->setStatusDelay(0.002);
    auto sink = platform::sim::SimSettingsSink::install(beaconApp, server, radio->timeline(),
                                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    sink->setAnswerDelay(0.002);
    // The maker's login, which the update runs first.
    auto login = testsupport::installLoginResponder(server);
    manager->setConfigurationCloud(std::make_shared<testsupport::OfflineCloud>());
    sink->encrypted().setKeys({key});
    cloudFake.setSettingsSecret(key);
    cloudFake.setSettingsPayload(platform::Bytes(64, 0x77));
    cloudFake.putRecord("beacons/b-1", "beacon", platform::Value::makeDict({{"id", "b-1"}}));

    auto client = KSApiClient::create(cloudFake.baseUrl(), scheduler, {.defaultTimeoutSeconds = 10});
    auto syncs = std::make_shared<std::atomic<int>>(0);
    auto cloud = std::make_shared<KSSettingsCloud>(client, KSApiOperationManagerPorts{}, [syncs] { ++*syncs; });
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setBeaconID("b-1");

    // Each round's update; the host cancels it at the round's point (or never).
    enum class Cancel { Never, AtOnce, DuringKeepAlive, AfterFetch, WhileStreaming };
    const std::vector<Cancel> rounds{Cancel::Never, Cancel::AtOnce, Cancel::DuringKeepAlive, Cancel::AfterFetch,
                                     Cancel::WhileStreaming, Cancel::Never};
    int successes = 0;
    for (std::size_t r = 0; r < rounds.size(); ++r) {
      const int statusBefore = beaconApp->statusRequests();
      const std::size_t getsBefore = cloudFake.hits("GET", "beacons/b-1/versions/latest/settings");
      const std::size_t vectorsBefore = sink->encrypted().vectors().size();
      auto reached = [&, cancel = rounds[r]] {
        switch (cancel) {
          case Cancel::AtOnce: return true;
          case Cancel::DuringKeepAlive: return beaconApp->statusRequests() > statusBefore;
          case Cancel::AfterFetch: return cloudFake.hits("GET", "beacons/b-1/versions/latest/settings") > getsBefore;
          case Cancel::WhileStreaming: return sink->encrypted().vectors().size() > vectorsBefore;
          case Cancel::Never: break;
        }
        return false;
      };
      beacon->setPeripheralIdentifier(id);
      auto operation = KSBeaconSettingsUpdateOperation::initWithBeacon(beacon, id);
      operation->setCloud(cloud);
      auto succeeded = std::make_shared<std::atomic<int>>(0);
      auto failed = std::make_shared<std::atomic<int>>(0);
      operation->setBeaconOperationCompletionBlockWithSuccess(
          [succeeded](const auto&) { ++*succeeded; }, [failed](const auto&, const auto&) { ++*failed; });
      manager->scheduleBeaconOperation(operation);
      if (rounds[r] != Cancel::Never) {
        std::thread host([&, operation] {
          waitFor([&] { return reached() || operation->isOperationTerminated(); });
          operation->cancel();
        });
        host.join();
        ASSERT_TRUE(waitFor([&] { return operation->isFinished(); })) << "round " << r;
        manager->queue()->sync([] {});
        EXPECT_LE(succeeded->load() + failed->load(), 1) << "round " << r;
      } else {
        ASSERT_TRUE(waitFor([&] { return succeeded->load() + failed->load() > 0; })) << "round " << r;
        EXPECT_EQ(succeeded->load(), 1) << "round " << r << ": the beacon is free after a cancelled update";
        successes += succeeded->load();
      }
    }
    EXPECT_EQ(successes, 2);
    EXPECT_GE(sink->encrypted().payloads().size(), 2u);
    manager->queue()->sync([] {});
    client.reset();
  }
  platform::dispatch::Scheduler::setShared(nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
