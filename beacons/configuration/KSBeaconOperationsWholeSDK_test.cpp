// The whole SDK on the simulated radio: the registry with the SDK's operation makers, the
// hub hearing and caching a configurable simulated beacon, and the hub's operation entry
// points running their jobs through the real central client and operation manager.
#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "platform/sim/SimTransportEngine.h"
#include "testing/HexBytes.h"
#include "testing/OperationTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Value;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;

constexpr std::string_view kKey = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22";

// The registry with the SDK's operation makers, the hub over it, and one configurable sim
// beacon advertising its iBeacon frame until the hub has cached it under its peripheral.
struct WholeSDK : ::testing::Test {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<KSLocationManagerClient> location;
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<SimBeaconApplication> app;
  std::shared_ptr<platform::sim::SimLoginResponder> login;
  std::shared_ptr<KSBeacon> beacon;
  const platform::Uuid peripheral = platform::sim::SimTrace::identifierForToken("p1");
  std::vector<bool> monitoringAtConnected;

  void SetUp() override {
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(world.scheduler);
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSInstallBeaconOperationMakers(*provider);
    // The logins' cloud: without a network here (the beacon has no id, so nothing is posted).
    auto operations = std::dynamic_pointer_cast<KSBeaconOperationManager>(
        provider->singleton<KSBeaconOperationManaging>(KSBeaconOperationManagerSingletonName, nullptr));
    ASSERT_NE(operations, nullptr);
    operations->setConfigurationCloud(std::make_shared<testsupport::OfflineCloud>());
    location = KSLocationManagerClient::sharedClient(*provider);
    location->setBeaconRegionMonitoringEnabled(true);

    server = SimGattServer::create(world.radio->timeline(), {testsupport::makerGattService()});
    world.radio->setGattServer(peripheral, server);
    app = SimBeaconApplication::install(server, world.radio->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    login = testsupport::installLoginResponder(server);

    auto session = std::make_shared<testsupport::FakeSession>();
    session->running = true;
    KSBeaconManagerInternal::Ports ports;
    ports.store = std::make_shared<testsupport::EmptyStore>();
    ports.session = session;
    hub = KSBeaconManagerInternal::create(provider, ports);
    world.runUntilIdle();
    hub->startDiscoveringBeacons();
    world.runUntilIdle();
    platform::bluetooth::AdvertisementData ad;
    ad.manufacturerData = velmora::testing::hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
    world.radio->setShowsIBeaconFramesToScans(true);
    world.radio->advertise(peripheral, ad, -61);
    world.runUntilIdle();
    beacon = hub->cachedBeaconWithIBeaconKey(std::string(kKey));
    ASSERT_NE(beacon, nullptr);
    ASSERT_EQ(beacon->peripheralIdentifier(), peripheral);
  }
  void TearDown() override {
    world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  // What a job's blocks heard.
  struct Heard {
    int successes = 0;
    int failures = 0;
    Value result;
    std::optional<platform::Error> error;
    std::vector<std::string> statuses;
  };
  KSBeaconHubPort::Success onSuccess(Heard& h) {
    return [&h](Value v) {
      ++h.successes;
      h.result = std::move(v);
    };
  }
  KSBeaconHubPort::Failure onFailure(Heard& h) {
    return [&h](platform::Error e) {
      ++h.failures;
      h.error = std::move(e);
    };
  }
  KSBeaconHubPort::Status onStatus(Heard& h) {
    return [this, &h](Value v) {
      if (const std::string* text = v.string()) {
        h.statuses.push_back(*text);
        if (*text == "Connected") monitoringAtConnected.push_back(location->isBeaconRegionMonitoringEnabled());
      }
    };
  }
  // The beacon is heard again after each job (a job makes it rediscover its peripheral).
  void hearAgain() {
    platform::bluetooth::AdvertisementData ad;
    ad.manufacturerData = velmora::testing::hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
    world.radio->advertise(peripheral, ad, -61);
    world.runUntilIdle();
  }
};

TEST_F(WholeSDK, OpcodeDataRequestsAndTransportEachCompleteOnceWithTheBeaconsAnswers) {
  // An opcode, logged in first.
  Heard opcode;
  hub->sendOpcode(16, Bytes{0x01, 0x02}, beacon, onSuccess(opcode), onFailure(opcode));
  world.advanceBy(10);
  ASSERT_EQ(opcode.successes, 1) << (opcode.error ? opcode.error->localizedDescription : "");
  EXPECT_EQ(opcode.failures, 0);
  ASSERT_FALSE(app->controlWrites().empty());
  EXPECT_EQ(app->controlWrites().back(), (Bytes{0x10, 0x01, 0x02}));
  EXPECT_EQ(login->milkWrites().size(), 1u);
  EXPECT_TRUE(login->loggedIn());
  EXPECT_TRUE(location->isBeaconRegionMonitoringEnabled());

  // Data requests: the beacon's application echoes each with a mark; no login.
  hearAgain();
  app->setRequestHandler([](const Bytes& r) {
    Bytes reply = r;
    reply.push_back(0xEE);
    return SimBeaconApplication::Answer::send(reply);
  });
  Heard requests;
  hub->sendDataRequests({{0x01}, {0x02, 0x03}}, beacon, KSBeaconEndpointSerial, onSuccess(requests),
                        onStatus(requests), onFailure(requests));
  world.advanceBy(10);
  ASSERT_EQ(requests.successes, 1) << (requests.error ? requests.error->localizedDescription : "");
  EXPECT_EQ(requests.failures, 0);
  const platform::Array* replies = requests.result.array();
  ASSERT_NE(replies, nullptr);
  ASSERT_EQ(replies->size(), 2u);
  EXPECT_EQ(*(*replies)[0].bytes(), (Bytes{0x01, 0xEE}));
  EXPECT_EQ(*(*replies)[1].bytes(), (Bytes{0x02, 0x03, 0xEE}));
  EXPECT_EQ(login->milkWrites().size(), 1u) << "data requests only discover the service";
  EXPECT_EQ(requests.statuses.back(), "Succeeded");

  // A transport request of 600 bytes, answered with 300.
  hearAgain();
  auto engine = platform::sim::SimTransportEngine::create();
  engine->attach(*app);
  Bytes request(600);
  for (std::size_t i = 0; i < request.size(); ++i) request[i] = static_cast<std::uint8_t>(i);
  engine->setReplyHandler([](const Bytes& r) { return Bytes(300, static_cast<std::uint8_t>(r.size() & 0xFF)); });
  Heard transport;
  hub->transportDataRequest(request, beacon, KSBeaconEndpointSerial, onSuccess(transport), onStatus(transport),
                            onFailure(transport));
  world.advanceBy(60);
  ASSERT_EQ(transport.successes, 1) << (transport.error ? transport.error->localizedDescription : "");
  EXPECT_EQ(transport.failures, 0);
  ASSERT_NE(transport.result.bytes(), nullptr);
  EXPECT_EQ(*transport.result.bytes(), Bytes(300, 600 & 0xFF));
  EXPECT_EQ(engine->requests(), (std::vector<Bytes>{request}));

  // Region monitoring was off while each job held the link and is back on after.
  EXPECT_EQ(monitoringAtConnected, (std::vector<bool>{false, false}));
  EXPECT_TRUE(location->isBeaconRegionMonitoringEnabled());
  world.advanceBy(30);
  EXPECT_EQ(opcode.successes + requests.successes + transport.successes, 3);
  EXPECT_EQ(opcode.failures + requests.failures + transport.failures, 0);
}

}  // namespace
}  // namespace velmora::kestrine
