// The operation manager on real threads: host threads schedule jobs for three beacons while
// the beacons are heard under changing identifiers and links drop, and every job reports once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
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
#include "testing/CentralTestSupport.h"
#include "testing/OperationTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::sim::SimGattServer;

TEST(BeaconOperationThreads, JobsFromManyThreadsEachReportOnce) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  {
    velmora::testing::TempDir documents;
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
    manager->setConfigurationCloud(std::make_shared<testsupport::OfflineCloud>());
    auto hub = std::make_shared<testsupport::RecordingHub>();
    hub->allowScans = false;
    auto client = KSCentralManagerClient::initWithDelegate(provider, {hub, nullptr, manager, nullptr});
    manager->setCentralManagerClient(client);

    // Three beacons, each heard under two identifiers by turns.
    constexpr SimGattServer::Latencies kQuick{.discovery = 0.001, .read = 0.001, .write = 0.001, .notifySwitch = 0.001,
                                              .notification = 0.001};
    std::vector<std::shared_ptr<KSBeacon>> beacons;
    std::vector<std::array<platform::Uuid, 2>> identifiers;
    std::vector<std::shared_ptr<platform::sim::SimBeaconApplication>> apps;
    for (int b = 0; b < 3; ++b) {
      beacons.push_back(std::make_shared<KSBeacon>());
      identifiers.push_back({platform::Uuid::random(), platform::Uuid::random()});
      for (const auto& id : identifiers.back()) {
        auto server = SimGattServer::create(radio->timeline(), {testsupport::makerGattService()}, kQuick);
        radio->setGattServer(id, server);
        apps.push_back(platform::sim::SimBeaconApplication::install(server, radio->timeline(),
                                                                    gattUUID(KSCharacteristicUUIDStringControl),
                                                                    gattUUID(KSCharacteristicUUIDStringIndicator)));
        testsupport::installLoginResponder(server);
      }
      beacons.back()->setPeripheralIdentifier(identifiers.back()[0]);
    }

    std::mutex mutex;
    std::map<int, int> reports;  // job number to reports
    std::atomic<int> reported{0};
    constexpr int kThreads = 4;
    constexpr int kJobsPerThread = 6;

    // The hub hears each beacon every 5 ms on the air's own queue, under its other identifier
    // every 50 ms; now and then a link drops.
    auto airQueue = scheduler->makeSerialQueue("air");
    auto air = scheduler->makeTimer(airQueue);
    std::mt19937 random(7);
    int round = 0;
    air->setEventHandler([&] {
      for (std::size_t b = 0; b < beacons.size(); ++b) {
        const auto& id = identifiers[b][static_cast<std::size_t>((round / 10) % 2)];
        if (beacons[b]->peripheralIdentifier() != id) {
          beacons[b]->setPeripheralIdentifier(id);
          manager->didUpdatePeripheralIdentifierForBeacon(beacons[b]);
        }
        if (random() % 30 == 0) {
          radio->dropConnections(id, platform::bluetooth::gatt::makeError(platform::bluetooth::gatt::kConnectionLost,
                                                                          "The connection was lost."));
        }
      }
      ++round;
    });
    air->schedule(0.005, 0.005);
    air->resume();
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
      hosts.emplace_back([&, t] {
        for (int j = 0; j < kJobsPerThread; ++j) {
          const int job = t * kJobsPerThread + j;
          const auto& beacon = beacons[static_cast<std::size_t>(job % 3)];
          auto operation = KSBeaconControlOperation::initWithBeacon(beacon, beacon->peripheralIdentifier(), job);
          auto done = [&, job](const auto&) {
            std::lock_guard lock(mutex);
            ++reports[job];
            ++reported;
          };
          operation->setBeaconOperationCompletionBlockWithSuccess(done, [done](const auto& o, const auto&) { done(o); });
          manager->scheduleBeaconOperation(operation);
        }
      });
    }
    for (auto& h : hosts) h.join();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (reported.load() < kThreads * kJobsPerThread && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    air->cancel();
    airQueue->sync([] {});
    {
      std::lock_guard lock(mutex);
      EXPECT_EQ(reports.size(), static_cast<std::size_t>(kThreads * kJobsPerThread));
      for (const auto& [job, count] : reports) EXPECT_EQ(count, 1) << "job " << job;
    }
    // Nothing more arrives late.
    EXPECT_EQ(reported.load(), kThreads * kJobsPerThread);
    manager->queue()->sync([] {});
  }
  platform::dispatch::Scheduler::setShared(nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
