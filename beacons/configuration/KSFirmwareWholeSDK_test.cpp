// Firmware updates over the air on the whole SDK, in virtual time: the registry with the
// SDK's operation makers and its shared API client aimed at the cloud fake over loopback,
// the hub hearing and caching the simulated beacon, and the hub's firmware entry point
// running the update through the real central client and operation manager. After the
// reboot the hub's scanning stores the status frame the beacon advertises on the cached
// beacon, where the update's poll finds it.
#include <gtest/gtest.h>

#include <algorithm>

#include "beacons/api/KSApiClient.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "platform/sim/SimOtaSink.h"
#include "testing/BeaconCloudFake.h"
#include "testing/HexBytes.h"
#include "testing/OperationTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Value;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;
using platform::sim::SimOtaSink;
using velmora::testing::BeaconCloudFake;

constexpr std::string_view kKey = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22";
// Its base64 "+/+/AQI=" needs every escape of the query.
const Bytes kStatusBlock = {0xFB, 0xFF, 0xBF, 0x01, 0x02};
const Bytes kSettingsKey(16, 0x3C);

Bytes sequence(std::size_t n, std::uint8_t first) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(first + i * 7);
  return b;
}

std::string sha1Base64(const Bytes& b) {
  return platform::crypto::base64Encode(platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, b));
}

Bytes with(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

platform::bluetooth::AdvertisementData iBeaconFrame() {
  platform::bluetooth::AdvertisementData ad;
  ad.manufacturerData = velmora::testing::hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
  return ad;
}

struct FirmwareWholeSDK : ::testing::Test {
  velmora::testing::SimWorld world;
  BeaconCloudFake cloud;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<KSLocationManagerClient> location;
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<SimBeaconApplication> app;
  std::shared_ptr<platform::sim::SimLoginResponder> login;  // kept: the server holds it weakly
  std::shared_ptr<SimOtaSink> sink;
  std::shared_ptr<KSBeacon> beacon;
  const platform::Uuid peripheral = platform::sim::SimTrace::identifierForToken("p1");
  Bytes image = sequence(4096, 0x11);
  const Bytes advertisedStatus = sequence(16, 0xC0);
  Bytes settingsBlob;
  std::vector<bool> monitoringAtConnected;
  std::int64_t firstStatusFrameMicros = -1;

  void SetUp() override {
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(world.scheduler);
    provider = KSInstanceProvider::create(world.bundle());
    KSInstanceProvider::setSharedProvider(provider);
    auto configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions(platform::Dict{{std::string(KSOptionApiBaseURL), Value(cloud.baseUrl())}});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSInstallBeaconOperationMakers(*provider);
    // The logins' own cloud calls stay off the fake, which then sees only the updates' calls.
    auto operations = std::dynamic_pointer_cast<KSBeaconOperationManager>(
        provider->singleton<KSBeaconOperationManaging>(KSBeaconOperationManagerSingletonName, nullptr));
    ASSERT_NE(operations, nullptr);
    operations->setConfigurationCloud(std::make_shared<testsupport::OfflineCloud>());
    // The headers a configured SDK gives its client.
    auto api = KSApiClient::sharedApiClient();
    api->setAuthorizationHeaderWithAppToken("tok");
    api->setValueForHTTPHeaderField("install-1", std::string(KSInstallationIDHeader));
    api->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));
    location = KSLocationManagerClient::sharedClient(*provider);
    location->setBeaconRegionMonitoringEnabled(true);

    using namespace velmora::platform::bluetooth;
    auto service = testsupport::makerGattService();
    service.characteristics.push_back({gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}});
    server = SimGattServer::create(world.radio->timeline(), {service});
    world.radio->setGattServer(peripheral, server);
    app = SimBeaconApplication::install(server, world.radio->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    app->setStatusBlock(kStatusBlock);
    login = testsupport::installLoginResponder(server);
    sink = SimOtaSink::install(server, world.radio, peripheral,
                               {gattUUID(KSCharacteristicUUIDStringControl),
                                gattUUID(KSCharacteristicUUIDStringIndicator), gattUUID(KSCharacteristicUUIDStringGravy)});
    sink->setExpectedDigest(platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, image));
    sink->setStatusAfterReboot(advertisedStatus);
    sink->setFutureSettingsKeys({kSettingsKey});
    world.radio->addAirObserver([this](const platform::Uuid& p, const AdvertisementData& ad, int) {
      if (p == peripheral && firstStatusFrameMicros < 0 && ad.manufacturerData &&
          *ad.manufacturerData == with(Bytes{0x04, 0x01, 0x09}, advertisedStatus)) {
        firstStatusFrameMicros = world.radio->timeline()->nowMicros();
      }
    });

    auto session = std::make_shared<testsupport::FakeSession>();
    session->running = true;
    KSBeaconManagerInternal::Ports ports;
    ports.store = std::make_shared<testsupport::EmptyStore>();
    ports.session = session;
    hub = KSBeaconManagerInternal::create(provider, ports);
    world.runUntilIdle();
    hub->startDiscoveringBeacons();
    world.runUntilIdle();
    world.radio->setShowsIBeaconFramesToScans(true);
    // The beacon advertises its iBeacon frame all along (silent only while it reboots).
    sink->setAdvertisements({iBeaconFrame()}, 0.5);
    sink->startAdvertising();
    ASSERT_TRUE(world.scheduler->runUntil([&] { return hub->cachedBeaconWithIBeaconKey(std::string(kKey)) != nullptr; },
                                          5));
    beacon = hub->cachedBeaconWithIBeaconKey(std::string(kKey));
    ASSERT_EQ(beacon->peripheralIdentifier(), peripheral);
    // What the cloud's record of the beacon told the cache: its id and the plain OTA bit.
    beacon->setBeaconID("b-1");
    beacon->setFeatureBitmask(KSFeatureBitmaskUnencryptedBLEFirmwareUpdate);

    cloud.putRecord("beacons/b-1", "beacon", Value::makeDict({{"id", "b-1-new"}}));
    Bytes plaintext(32);
    for (std::size_t i = 0; i < plaintext.size(); ++i) plaintext[i] = static_cast<std::uint8_t>(0x80 + i);
    settingsBlob = platform::sim::SimEncryptedSettingsSink::sealed(kSettingsKey, sequence(16, 0x55), plaintext);
    ASSERT_EQ(settingsBlob.size(), 64u);
    cloud.putRecord("beacons/b-1/versions/latest/futuresettings", "settings",
                    Value(platform::crypto::base64Encode(settingsBlob)));
    putFirmware(Value(0x200));
  }
  void TearDown() override {
    hub.reset();
    world.runUntilIdle();
    KSApiClientPort::setShared(nullptr);
    KSInstanceProvider::setSharedProvider(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  void putFirmware(Value featureBitmask) {
    Value record = Value::makeDict({{"version", "2.0.0"}, {"otaFileHash", sha1Base64(image)}});
    if (!featureBitmask.isAbsent()) record.set("featureBitmask", featureBitmask);
    cloud.putRecord("beacons/b-1/firmware/2.0.0", "firmware", record);
    cloud.putRecord("beaconModels/M/firmware/latest", "firmware", record);
    cloud.putDownload("beacons/b-1/firmware/2.0.0/ota", std::string(image.begin(), image.end()));
  }

  struct Heard {
    int successes = 0;
    int failures = 0;
    std::optional<platform::Error> error;
    std::vector<std::string> statuses;
    std::vector<double> progress;
    std::int64_t confirmingMicros = -1;
  };
  void update(Heard& h) {
    hub->updateFirmwareInBeacon(
        beacon, "2.0.0", [&h](Value) { ++h.successes; },
        [this, &h](Value v) {
          const std::string* text = v.string();
          if (!text) return;
          h.statuses.push_back(*text);
          if (*text == "Connected") monitoringAtConnected.push_back(location->isBeaconRegionMonitoringEnabled());
          if (*text == "Confirming") h.confirmingMicros = world.radio->timeline()->nowMicros();
        },
        [&h](double p) { h.progress.push_back(p); },
        [&h](platform::Error e) {
          ++h.failures;
          h.error = std::move(e);
        });
  }
  bool runUntilHeard(const Heard& h, double bound = 600) {
    return world.scheduler->runUntil([&] { return h.successes + h.failures > 0; }, bound);
  }
  // Non-answer Control writes with their virtual time.
  std::vector<std::pair<std::int64_t, Bytes>> controlWrites() {
    std::vector<std::pair<std::int64_t, Bytes>> out;
    for (const auto& t : server->trace()) {
      if (!t.answer && t.kind == SimGattServer::Kind::Write && t.uuid == gattUUID(KSCharacteristicUUIDStringControl)) {
        out.emplace_back(t.micros, t.bytes);
      }
    }
    return out;
  }
  std::vector<BeaconCloudFake::LoggedRequest> requests(const std::string& method) {
    std::vector<BeaconCloudFake::LoggedRequest> out;
    for (auto& r : cloud.log()) {
      if (r.method == method) out.push_back(r);
    }
    return out;
  }
  // The platform headers every cloud call carries.
  static void expectPlatformHeaders(const BeaconCloudFake::LoggedRequest& r) {
    SCOPED_TRACE(r.method + " " + r.rawTarget);
    EXPECT_EQ(r.header("X-Api-Version"), "3");
    EXPECT_EQ(r.header("Authorization"), "Kestrine dG9r");
    EXPECT_EQ(r.header("X-KS-InstallationID"), "install-1");
    EXPECT_EQ(r.header("X-KS-SDKVersion"), std::string(KSSDKVersion));
  }
};

TEST_F(FirmwareWholeSDK, AnUpdateOverTheAirInstallsTheImageAndConfirmsTheAdvertisedStatus) {
  Heard h;
  update(h);
  ASSERT_TRUE(runUntilHeard(h));
  ASSERT_EQ(h.successes, 1) << (h.error ? h.error->localizedDescription : "");

  // Control: the status request and keep-alives, then the sequence with the future settings.
  const auto control = controlWrites();
  std::size_t statusRequests = 0;
  while (statusRequests < control.size() && control[statusRequests].second == Bytes{0x1D}) ++statusRequests;
  EXPECT_GE(statusRequests, 2u) << "the status request and at least one keep-alive";
  std::vector<Bytes> sequenceWrites;
  for (std::size_t i = statusRequests; i < control.size(); ++i) sequenceWrites.push_back(control[i].second);
  const Bytes iv(settingsBlob.begin(), settingsBlob.begin() + 16);
  const Bytes bulk0(settingsBlob.begin() + 16, settingsBlob.begin() + 32);
  const Bytes bulk1(settingsBlob.begin() + 32, settingsBlob.begin() + 48);
  const Bytes mac(settingsBlob.end() - 16, settingsBlob.end());
  EXPECT_EQ(sequenceWrites, (std::vector<Bytes>{{0x1B}, {0x1A, 0x00}, with({0x15}, iv), with({0x16, 0x00}, bulk0),
                                                with({0x16, 0x01}, bulk1), with({0x17}, mac), {0x03}}));
  // The beacon's settings sink took the future settings as signed.
  EXPECT_EQ(sink->futureSettingsAnswer(), platform::sim::SimEncryptedSettingsSink::resultFor(kSettingsKey, mac));

  // Gravy: 256 writes of 16 bytes, 20 ms apart, between the MAC and Go DFU.
  const auto gravy = sink->gravyWrites();
  ASSERT_EQ(gravy.size(), 256u);
  EXPECT_TRUE(std::all_of(gravy.begin(), gravy.end(), [](const auto& w) { return w.value.size() == 16; }));
  for (std::size_t i = 1; i < gravy.size(); ++i) ASSERT_EQ(gravy[i].atMicros - gravy[i - 1].atMicros, 20'000) << i;
  EXPECT_EQ(gravy.back().atMicros - gravy.front().atMicros, 5'100'000);
  ASSERT_GE(control.size(), 2u);
  EXPECT_GT(gravy.front().atMicros, control[control.size() - 2].first);
  EXPECT_LE(gravy.back().atMicros, control.back().first);

  const std::vector<std::string> texts = {
      "Scheduled",  "Preparing",   "Connecting",    "Connected",      "Updating",           "Downloading OTA",
      "Downloading Settings",      "Prepare OTA",   "Perpare Future Settings",              "Init Vector",
      "Bulk Data",  "Mac Write",   "Firmware Write", "Go DFU",        "Waiting for Status", "Disconnecting",
      "Waiting For Status",        "Confirming",    "Succeeded"};
  EXPECT_EQ(h.statuses, texts);
  EXPECT_EQ(h.progress, (std::vector<double>{0.0, 0.390625, 0.78125}));

  // The rebooted beacon's status frame, heard by the hub's scanning, stored on the cached
  // beacon and found by the poll within a second.
  ASSERT_GT(firstStatusFrameMicros, control.back().first);
  ASSERT_GT(h.confirmingMicros, 0);
  EXPECT_LE(h.confirmingMicros - firstStatusFrameMicros, 1'000'000);
  EXPECT_EQ(cloud.statusReports(), (std::vector<Bytes>{advertisedStatus}));
  const auto puts = requests("PUT");
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].rawTarget, "/api/beacons/b-1/versions/confirm?status=wMfO1dzj6vH4/wYNFBsiKQ%3D%3D");
  const auto gets = requests("GET");
  ASSERT_EQ(gets.size(), 4u);
  EXPECT_EQ(gets[0].rawTarget, "/api/beacons/b-1/firmware/2.0.0?status=%2B/%2B/AQI%3D&");
  EXPECT_EQ(gets[1].rawTarget, "/api/beacons/b-1/firmware/2.0.0/ota?status=%2B/%2B/AQI%3D");
  EXPECT_EQ(gets[2].path, "/api/beacons/b-1/versions/latest/futuresettings");
  EXPECT_EQ(gets[2].rawTarget,
            "/api/beacons/b-1/versions/latest/futuresettings?firmwareVersion=2.0.0&status=%2B/%2B/AQI%3D");
  EXPECT_EQ(gets[3].path, "/api/beacons/b-1") << "the refresh after the confirmation";
  for (const auto& r : cloud.log()) expectPlatformHeaders(r);

  // The installed image is the record's; region monitoring is back on; nothing more is told.
  world.advanceBy(5);
  ASSERT_TRUE(sink->installedImage().has_value());
  EXPECT_EQ(sha1Base64(*sink->installedImage()), sha1Base64(image));
  EXPECT_EQ(monitoringAtConnected, std::vector<bool>{false});
  EXPECT_TRUE(location->isBeaconRegionMonitoringEnabled());
  world.advanceBy(70);
  EXPECT_EQ(h.successes, 1);
  EXPECT_EQ(h.failures, 0);
}

TEST_F(FirmwareWholeSDK, ALinkLostMidStreamFailsOnceAndANewCallStartsOver) {
  struct Row {
    const char* name;
    std::optional<platform::Error> error;
    std::string expected;
  };
  const auto lost = platform::bluetooth::gatt::makeError(platform::bluetooth::gatt::kConnectionLost, "link lost");
  const Row rows[] = {
      {"with the platform's error", lost, lost.localizedDescription},
      {"without an error", std::nullopt, std::string(KSBeaconOperationUnexpectedDisconnectMessage)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sink->dropLinkAfterGravyWrite(sink->gravyWrites().size() + 100, row.error);
    const int preparesBefore = sink->prepareCount();
    sink->setAdvertisements({iBeaconFrame()}, 0.5);
    Heard failed;
    update(failed);
    ASSERT_TRUE(runUntilHeard(failed));
    // The beacon goes quiet: the next call has to wait until it is heard again.
    sink->setAdvertisements({}, 0.5);
    ASSERT_EQ(failed.failures, 1);
    EXPECT_EQ(failed.error->localizedDescription, row.expected);
    EXPECT_EQ(sink->prepareCount(), preparesBefore + 1);
    const auto control = controlWrites();
    EXPECT_NE(control.back().second, Bytes{0x03}) << "no Go DFU";
    // Never retried: nothing more is tried or told.
    world.advanceBy(30);
    EXPECT_EQ(failed.failures + failed.successes, 1);
    EXPECT_EQ(sink->prepareCount(), preparesBefore + 1);
    EXPECT_FALSE(sink->installedImage().has_value());
  }

  // A new call waits for the beacon to be heard, logs in again, restarts the sink at Prepare
  // OTA and installs the whole image.
  const auto milkBefore = login->milkWrites().size();
  EXPECT_EQ(beacon->peripheralIdentifier(), std::nullopt);
  Heard again;
  update(again);
  world.advanceBy(2);
  EXPECT_EQ(again.statuses, std::vector<std::string>{"Waiting"});
  sink->setAdvertisements({iBeaconFrame()}, 0.5);
  ASSERT_TRUE(runUntilHeard(again));
  ASSERT_EQ(again.successes, 1) << (again.error ? again.error->localizedDescription : "");
  EXPECT_EQ(login->milkWrites().size(), milkBefore + 1);
  EXPECT_EQ(sink->prepareCount(), 3);
  EXPECT_EQ(sink->receivedImage(), image);
  world.advanceBy(5);
  EXPECT_EQ(sink->installedImage(), image);
  EXPECT_TRUE(location->isBeaconRegionMonitoringEnabled());
}

// The older generation on the whole SDK, with firmware that does not advertise its status:
// the model's latest record, the download without a status, and the confirmation through the
// beacon's latest cloud record.
TEST_F(FirmwareWholeSDK, TheLegacyUpdateConfirmsThroughTheLatestRecord) {
  putFirmware(Value(0x2000));
  beacon->setModelNumber("M");
  beacon->setFeatureBitmask(KSFeatureBitmaskLegacyBLEFirmwareUpdate);
  Heard h;
  update(h);
  ASSERT_TRUE(runUntilHeard(h));
  ASSERT_EQ(h.successes, 1) << (h.error ? h.error->localizedDescription : "");
  std::vector<Bytes> writes;
  for (const auto& [at, bytes] : controlWrites()) writes.push_back(bytes);
  EXPECT_EQ(writes, (std::vector<Bytes>{{0x04}, {0x00}, {0x01}, {0x02}, {0x03}}));
  const auto gets = requests("GET");
  ASSERT_EQ(gets.size(), 4u);
  EXPECT_EQ(gets[0].rawTarget, "/api/beaconModels/M/firmware/latest?");
  EXPECT_EQ(gets[1].rawTarget, "/api/beacons/b-1/firmware/2.0.0/ota?status=");
  EXPECT_EQ(gets[2].path, "/api/beacons/b-1");
  EXPECT_EQ(gets[2].query, (std::map<std::string, std::string>{{"version", "latest"}}));
  EXPECT_EQ(gets[3].path, "/api/beacons/b-1");
  const auto puts = requests("PUT");
  ASSERT_EQ(puts.size(), 1u);
  EXPECT_EQ(puts[0].rawTarget, "/api/beacons/b-1-new/firmware/2.0.0/confirm");
  for (const auto& r : cloud.log()) expectPlatformHeaders(r);
  world.advanceBy(5);
  EXPECT_EQ(sink->installedImage(), image);
}

}  // namespace
}  // namespace velmora::kestrine
