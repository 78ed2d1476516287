// The hub's two settings entries on the whole SDK: the registry with the SDK's operation
// makers and its shared API client pointed at the loopback beacon cloud, the hub hearing and
// caching a simulated beacon with the maker's service, its settings sink and an Eddystone
// configuration service, and each update kind run through the real central client and
// operation manager. Which kind ran is read off what the beacon and the cloud received.
#include <gtest/gtest.h>

#include <mutex>

#include "beacons/api/KSApiClient.h"
#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "testing/HexBytes.h"
#include "testing/OperationTestSupport.h"
#include "testing/SettingsTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Dict;
using platform::Value;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;
using testsupport::SettingsFixture;
using velmora::testing::hexBytes;

constexpr std::string_view kKey = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:22";
constexpr std::uint32_t kEncrypted = KSFeatureBitmaskAES128CMACBLESettingsUpdate;
constexpr std::uint32_t kLegacy = KSFeatureBitmaskLegacyBLESettingsUpdate;
// The status block the beacon's login hands over, which the login posts to the cloud.
const Bytes kLoginStatus{0xFB, 0xFF, 0xBF, 0x00};

struct SettingsWholeSDK : ::testing::Test {
  velmora::testing::SimWorld world;
  velmora::testing::BeaconCloudFake cloudFake;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<SimGattServer> server;
  std::shared_ptr<SimBeaconApplication> app;
  std::shared_ptr<platform::sim::SimSettingsSink> sink;
  std::shared_ptr<platform::sim::SimLoginResponder> login;
  std::shared_ptr<platform::sim::SimEddystoneLock> lock;
  std::shared_ptr<platform::sim::SimEddystoneSlots> slots;
  std::shared_ptr<KSBeacon> beacon;
  const platform::Uuid peripheral = platform::sim::SimTrace::identifierForToken("p1");
  const Bytes sharedKey = Bytes(16, 0x3C);

  void SetUp() override {
    world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(world.scheduler);
    KSModelClock::setClock(world.scheduler->clock());
    provider = KSInstanceProvider::create(world.bundle());
    KSInstanceProvider::setSharedProvider(provider);
    auto configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions({{std::string(KSOptionApiBaseURL), Value(cloudFake.baseUrl())}});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    KSInstallBeaconOperationMakers(*provider);
    KSLocationManagerClient::sharedClient(*provider)->setBeaconRegionMonitoringEnabled(true);

    // The beacon: the maker's service with the login and the settings sink, and the Eddystone
    // configuration service behind its lock, both keyed to the passcode "123456".
    server = SimGattServer::create(world.radio->timeline(),
                                   {SettingsFixture::fullMakerService(), SettingsFixture::eddystoneConfigService()});
    world.radio->setGattServer(peripheral, server);
    app = SimBeaconApplication::install(server, world.radio->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                        gattUUID(KSCharacteristicUUIDStringIndicator));
    app->setStatusBlock(Bytes{0xFB, 0xFF, 0xBF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    sink = platform::sim::SimSettingsSink::install(app, server, world.radio->timeline(),
                                                   gattUUID(KSCharacteristicUUIDStringIndicator));
    sink->encrypted().setKeys({sharedKey, testsupport::passcodeDigest("123456")});
    login = testsupport::installLoginResponder(server);
    lock = platform::sim::SimEddystoneLock::install(
        server, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)},
        testsupport::passcodeDigest("123456"));
    lock->setChallenge(Bytes(16, 0x42));
    slots = platform::sim::SimEddystoneSlots::install(
        server, {gattUUID(ESCharacteristicUUIDStringActiveSlot), gattUUID(ESCharacteristicUUIDStringRWADVSlot),
                 gattUUID(ESCharacteristicUUIDStringBroadcastCapability)});
    cloudFake.putRecord("beacons/b-1", "beacon", Value::makeDict({{"id", "b-1"}}));
    cloudFake.setSettingsSecret(sharedKey);

    auto session = std::make_shared<testsupport::FakeSession>();
    session->running = true;
    KSBeaconManagerInternal::Ports ports;
    ports.store = std::make_shared<testsupport::EmptyStore>();
    ports.session = session;
    // The registry's hub, as everything else in the SDK finds it.
    KSBeaconManagerInternal::installMaker(*provider, ports);
    hub = KSBeaconManagerInternal::sharedInternal(*provider);
    ASSERT_NE(hub, nullptr);
    world.runUntilIdle();
    hub->startDiscoveringBeacons();
    world.runUntilIdle();
    platform::bluetooth::AdvertisementData ad;
    ad.manufacturerData = hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
    world.radio->setShowsIBeaconFramesToScans(true);
    world.radio->advertise(peripheral, ad, -61);
    world.runUntilIdle();
    beacon = hub->cachedBeaconWithIBeaconKey(std::string(kKey));
    ASSERT_NE(beacon, nullptr);
    ASSERT_EQ(beacon->peripheralIdentifier(), peripheral);
    beacon->setBeaconID("b-1");
  }
  void TearDown() override {
    world.runUntilIdle();
    hub.reset();
    KSApiClientPort::setShared(nullptr);
    KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    KSModelClock::setClock(nullptr);
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  struct Heard {
    int successes = 0;
    int failures = 0;
    std::optional<platform::Error> error;
    std::vector<std::string> statuses;
    bool failedAtOnce = false;
  };
  // Runs one of the two entries with recording blocks until it reported (virtual time runs,
  // and the loopback cloud is waited for).
  Heard run(std::uint32_t featureBits, const std::optional<Dict>& settings = std::nullopt) {
    beacon->setFeatureBitmask(featureBits);
    auto heard = std::make_shared<Heard>();
    auto success = [heard](Value) { ++heard->successes; };
    auto status = [heard](Value v) {
      if (const std::string* text = v.string()) heard->statuses.push_back(*text);
    };
    auto failure = [heard](platform::Error e) {
      ++heard->failures;
      heard->error = std::move(e);
    };
    if (settings) {
      hub->updateSettingsInBeacon(beacon, *settings, success, status, failure);
    } else {
      hub->updateSettingsInBeacon(beacon, success, status, failure);
    }
    heard->failedAtOnce = heard->failures == 1;
    world.scheduler->runUntil([heard] { return heard->successes + heard->failures > 0; }, 300);
    world.advanceBy(5);
    return *heard;
  }
  std::vector<std::string> cloudCalls(std::string_view method) const {
    std::vector<std::string> out;
    for (const auto& r : cloudFake.log()) {
      if (r.method == method) out.push_back(r.path);
    }
    return out;
  }
  bool cloudWasAskedFor(std::string_view path) const {
    for (const auto& r : cloudFake.log()) {
      if (r.path == path) return true;
    }
    return false;
  }
  std::vector<Bytes> slotAndLockWrites() const {
    std::vector<Bytes> out;
    for (const auto& t : server->trace()) {
      if (t.answer || t.kind != SimGattServer::Kind::Write) continue;
      if (t.uuid == gattUUID(ESCharacteristicUUIDStringActiveSlot) || t.uuid == gattUUID(ESCharacteristicUUIDStringRWADVSlot)) {
        out.push_back(t.bytes);
      }
    }
    return out;
  }
  static bool has(const std::vector<std::string>& texts, std::string_view text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
};

Dict offlineSettings() {
  return {{std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"},
          {std::string(KSSettingsUpdateMajorKey), 1},
          {std::string(KSSettingsUpdateMinorKey), 2}};
}

TEST_F(SettingsWholeSDK, EncryptedAndLegacyBitsTogetherRunTheCloudPreparedUpdate) {
  const Bytes payload(32, 0x5A);
  cloudFake.setSettingsPayload(payload);
  auto heard = run(kEncrypted | kLegacy);
  ASSERT_EQ(heard.successes, 1) << (heard.error ? heard.error->localizedDescription : "");
  EXPECT_EQ(heard.failures, 0);
  EXPECT_EQ(sink->encrypted().payloads(), std::vector<Bytes>{payload}) << "the beacon decrypted the cloud's blob";
  EXPECT_TRUE(sink->lineWrites().empty()) << "no legacy lines";
  const auto mac = cloudFake.issuedSettingsMac("b-1");
  ASSERT_TRUE(mac);
  EXPECT_EQ(cloudFake.statusReports(),
            (std::vector<Bytes>{kLoginStatus, platform::sim::SimEncryptedSettingsSink::resultFor(sharedKey, *mac)}))
      << "the login's status block, then the beacon's result for the blob";
  EXPECT_TRUE(cloudWasAskedFor("/api/beacons/b-1/versions/latest/settings"));
  EXPECT_FALSE(cloudWasAskedFor("/api/beacons/b-1/versions/latest"));
  EXPECT_TRUE(has(heard.statuses, "Downloading Settings"));
  EXPECT_EQ(heard.statuses.back(), "Succeeded");
}

TEST_F(SettingsWholeSDK, LegacyBitAloneRunsTheLegacyUpdate) {
  cloudFake.putRecord("beacons/b-1/versions/latest", "version",
                      Value::makeDict({{"id", "v-7"},
                                       {"version", 7},
                                       {"major", 1},
                                       {"minor", 2},
                                       {"measuredPowerAt1Meter", -59},
                                       {"privacyDuration", 0},
                                       {"proximityUUID", "01234567-89AB-CDEF-0123-456789ABCDEF"},
                                       {"beaconLoudness", Value::makeDict({{"id", 3}, {"level", 3}, {"measuredPowerAt1Meter", -70}})},
                                       {"targetSpeed", Value::makeDict({{"id", 1}, {"milliseconds", 152}})},
                                       {"beaconMode", Value::makeDict({{"id", 1}})}}));
  auto heard = run(kLegacy);
  ASSERT_EQ(heard.successes, 1) << (heard.error ? heard.error->localizedDescription : "");
  EXPECT_EQ(sink->lineWrites(), (std::vector<Bytes>{hexBytes("0D 03 98 00 C5 01 01 00 02 00 10 27 00 00"),
                                                    hexBytes("0E 01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD EF"),
                                                    hexBytes("0F 07")}));
  EXPECT_TRUE(sink->encrypted().payloads().empty());
  EXPECT_EQ(cloudCalls("PUT"),
            (std::vector<std::string>{"/api/beacons/b-1/versions/confirm", "/api/beacons/b-1/versions/7/confirm"}))
      << "the login's status post, then the version confirmed";
  EXPECT_EQ(cloudFake.statusReports(), std::vector<Bytes>{kLoginStatus});
  EXPECT_FALSE(cloudWasAskedFor("/api/beacons/b-1/versions/latest/settings"));
  EXPECT_EQ(heard.statuses.back(), "Succeeded");
}

TEST_F(SettingsWholeSDK, WithoutEitherSettingsBitTheUpdateFailsAtOnceAndNothingIsScheduled) {
  // Unencrypted settings (0x0800) is not a kind the hub runs; the other bits are named.
  struct Row {
    std::uint32_t bits;
    std::string text;
  };
  const std::vector<Row> rows{
      {0, "Settings Update Not Supported. Device Supports: "},
      {KSFeatureBitmaskUnencryptedBLESettingsUpdate | KSFeatureBitmaskUnencryptedBLEFirmwareUpdate | (1u << 2),
       "Settings Update Not Supported. Device Supports: KSFeatureiBeaconMode KSFeatureFirmwareUpdateBLEUnencrypted "}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.bits);
    auto heard = run(row.bits);
    EXPECT_TRUE(heard.failedAtOnce) << "on the caller's thread, before any virtual time";
    EXPECT_EQ(heard.failures, 1);
    EXPECT_EQ(heard.successes, 0);
    ASSERT_TRUE(heard.error);
    EXPECT_EQ(heard.error->localizedDescription, row.text);
    EXPECT_TRUE(heard.statuses.empty());
  }
  EXPECT_TRUE(server->writes(gattUUID(KSCharacteristicUUIDStringControl)).empty()) << "the beacon was never written";
  EXPECT_TRUE(login->milkWrites().empty());
  EXPECT_TRUE(cloudFake.log().empty());
}

TEST_F(SettingsWholeSDK, ADictionaryRunsTheOfflineUpdateWhateverTheBits) {
  // The dictionary entry does not look at the feature bits: none here, and the encrypted bit
  // (which would pick the cloud-prepared kind without a dictionary) in the second run.
  for (const std::uint32_t bits : {0u, kEncrypted}) {
    SCOPED_TRACE(bits);
    const auto before = sink->encrypted().payloads().size();
    auto heard = run(bits, offlineSettings());
    ASSERT_EQ(heard.successes, 1) << (heard.error ? heard.error->localizedDescription : "");
    ASSERT_EQ(sink->encrypted().payloads().size(), before + 1);
    EXPECT_EQ(sink->encrypted().payloads().back(), hexBytes("00 10 00 02 00 04 00 02 00 02 00 03 00 02 00 01"))
        << "the beacon decrypted the phone's own payload";
    EXPECT_TRUE(has(heard.statuses, "Bulk Write"));
    world.radio->advertise(peripheral, [] {
      platform::bluetooth::AdvertisementData ad;
      ad.manufacturerData = hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
      return ad;
    }(), -61);
    world.runUntilIdle();
  }
  EXPECT_FALSE(cloudWasAskedFor("/api/beacons/b-1/versions/latest/settings")) << "no cloud-prepared settings";
  EXPECT_TRUE(slotAndLockWrites().empty()) << "no Eddystone slot written";
  EXPECT_TRUE(sink->lineWrites().empty());
}

TEST_F(SettingsWholeSDK, ADictionaryWithSlotsRunsTheEddystoneConfiguration) {
  const Bytes slot0{0x10, 0xAA}, slot3{0x20, 0xBB, 0xBB};
  Dict settings{{std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"},
                {std::string(KSEddyConfigDataSlotDictionaryKey), Value::makeDict({{"3", slot3}, {"0", slot0}})}};
  auto heard = run(kEncrypted | kLegacy, settings);
  ASSERT_EQ(heard.successes, 1) << (heard.error ? heard.error->localizedDescription : "");
  EXPECT_EQ(slotAndLockWrites(), (std::vector<Bytes>{{0x00}, slot0, {0x03}, slot3}));
  EXPECT_EQ(slots->slot(0), slot0);
  EXPECT_EQ(slots->slot(3), slot3);
  EXPECT_TRUE(sink->encrypted().payloads().empty()) << "the maker's settings were not touched";
  EXPECT_TRUE(sink->lineWrites().empty());
  EXPECT_TRUE(login->milkWrites().empty()) << "unlocked through the Eddystone lock, not the maker's login";
  EXPECT_FALSE(cloudWasAskedFor("/api/beacons/b-1/versions/latest/settings"));
  EXPECT_EQ(heard.statuses.back(), "Succeeded");
}

// What the hub's listeners hear of syncs.
class SyncListener final : public KSBeaconManagerInternalDelegate {
 public:
  void beaconManagerInternalDidSyncBeacons(Hub, Beacons beacons) override {
    std::lock_guard lock(mutex);
    for (const auto& b : beacons) synced.push_back(b);
  }
  std::mutex mutex;
  Beacons synced;
};

// The update ends by refreshing the beacon's record from the cloud; when the new settings
// moved the beacon to another minor, the hub finds it under its new iBeacon key only and
// tells its listeners of the sync.
TEST_F(SettingsWholeSDK, TheRefreshAfterAnUpdateReachesTheHubsCacheUnderTheNewKey) {
  auto listener = std::make_shared<SyncListener>();
  hub->addDelegate(listener);
  cloudFake.setSettingsPayload(Bytes(32, 0x5A));
  Dict record{{"id", Value("b-1")},
              {"proximityUUID", Value("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0")},
              {"major", Value(1)},
              {"minor", Value(23)}};
  if (auto address = beacon->bluetoothAddress()) record.insert_or_assign("bluetoothAddress", Value(*address));
  cloudFake.putRecord("beacons/b-1", "beacon", Value(record));

  auto heard = run(kEncrypted);
  ASSERT_EQ(heard.successes, 1) << (heard.error ? heard.error->localizedDescription : "");
  world.runUntilIdle();

  EXPECT_EQ(hub->cachedBeaconWithIBeaconKey("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0:1:23"), beacon);
  EXPECT_EQ(hub->cachedBeaconWithIBeaconKey(std::string(kKey)), nullptr) << "the old key is gone from the index";
  // Heard for each refresh: the login's status post and the update's confirmation.
  std::lock_guard lock(listener->mutex);
  EXPECT_FALSE(listener->synced.empty());
  for (const auto& b : listener->synced) EXPECT_EQ(b, beacon);
}

// The beacon's connection never comes up: after the 5 s of Connecting the offline update is
// put aside, and the beacon is to be heard afresh, so its next advertisement counts as new
// to the hub and the update reconnects then.
TEST_F(SettingsWholeSDK, AnOfflineUpdateWhoseConnectTimesOutReconnectsOnceTheBeaconIsHeardAgain) {
  world.radio->setConnectScript(peripheral, {.latencySeconds = 1000});
  auto heard = std::make_shared<Heard>();
  hub->updateSettingsInBeacon(
      beacon, offlineSettings(), [heard](Value) { ++heard->successes; },
      [heard](Value v) {
        if (const std::string* text = v.string()) heard->statuses.push_back(*text);
      },
      [heard](platform::Error e) {
        ++heard->failures;
        heard->error = std::move(e);
      });
  world.advanceBy(5.5);
  EXPECT_EQ(heard->successes + heard->failures, 0) << "put aside, not reported";
  EXPECT_FALSE(beacon->peripheralIdentifier()) << "the hub's record forgets the peripheral";
  EXPECT_FALSE(beacon->firstDiscoveredAt());

  world.radio->setConnectScript(peripheral, {});
  platform::bluetooth::AdvertisementData ad;
  ad.manufacturerData = hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
  world.radio->advertise(peripheral, ad, -61);
  world.scheduler->runUntil([heard] { return heard->successes + heard->failures > 0; }, 60);
  ASSERT_EQ(heard->successes, 1) << (heard->error ? heard->error->localizedDescription : "");
  EXPECT_EQ(heard->failures, 0);
  ASSERT_EQ(sink->encrypted().payloads().size(), 1u);
  EXPECT_EQ(sink->encrypted().payloads().back(), hexBytes("00 10 00 02 00 04 00 02 00 02 00 03 00 02 00 01"));
  EXPECT_EQ(std::count(heard->statuses.begin(), heard->statuses.end(), "Waiting"), 1);
}

// A host reads the Eddystone capabilities with an operation of its own, made on a copy of the
// hub's record: having connected, both the copy and the hub's record are heard afresh.
TEST_F(SettingsWholeSDK, AJobOnACopyOfTheHubsRecordMakesTheRecordRediscoverItsPeripheral) {
  slots->setCapabilities(hexBytes("00 04 01 02 01 0B F4"));
  auto copy = beacon->copy();
  ASSERT_EQ(copy->cacheIdentifier(), beacon->cacheIdentifier());
  ASSERT_EQ(copy->peripheralIdentifier(), peripheral);
  auto read = KSBeaconReadSettingsEddystoneOperation::initWithBeacon(copy, copy->peripheralIdentifier(), "123456");
  auto reported = std::make_shared<std::optional<std::optional<platform::Error>>>();
  read->setBeaconOperationCompletionBlock(
      [reported](const std::shared_ptr<KSBeaconOperation>&, const std::optional<platform::Error>& e) { *reported = e; });
  hub->centralManagerClient()->scheduleBeaconOperation(read);
  world.scheduler->runUntil([reported] { return reported->has_value(); }, 60);
  ASSERT_TRUE(reported->has_value());
  ASSERT_FALSE(**reported) << (**reported)->localizedDescription;
  ASSERT_TRUE(read->settings().contains(std::string(KSEddySettingFramesSupportedBitmaskKey)));
  EXPECT_EQ(read->settings().at(std::string(KSEddySettingFramesSupportedBitmaskKey)).toUInt64(), 267u);
  EXPECT_FALSE(copy->peripheralIdentifier());
  EXPECT_FALSE(beacon->peripheralIdentifier()) << "the hub's cached record keeps no stale identifier";
  EXPECT_FALSE(beacon->lastDiscoveredAt());

  platform::bluetooth::AdvertisementData ad;
  ad.manufacturerData = hexBytes("4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5");
  world.radio->advertise(peripheral, ad, -61);
  world.runUntilIdle();
  EXPECT_EQ(beacon->peripheralIdentifier(), peripheral) << "heard again as new";
}

}  // namespace
}  // namespace velmora::kestrine
