#include "beacons/bluetooth/KSCentralManagerClient.h"

#include <gtest/gtest.h>

#include <thread>

#include "testing/CentralTestSupport.h"
#include "beacons/bluetooth/KSScanManager.h"
#include "beacons/bluetooth/KSUUIDAdditions.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using namespace testsupport;
using platform::bluetooth::AdvertisementData;
using platform::bluetooth::BluetoothUUID;
using velmora::testing::hexBytes;

AdvertisementData mfr(std::string_view hex) {
  AdvertisementData ad;
  const auto bytes = hexBytes(hex);
  ad.manufacturerData = platform::Bytes(bytes.begin(), bytes.end());
  return ad;
}

AdvertisementData eddystoneUID(std::string_view namespaceHex) {
  AdvertisementData ad;
  const auto bytes = hexBytes(std::string("00ee ") + std::string(namespaceHex) + " aabbccddeeff 0000");
  ad.serviceData.push_back({*BluetoothUUID::parse("FEAA"), platform::Bytes(bytes.begin(), bytes.end())});
  ad.serviceUUIDs.push_back(*BluetoothUUID::parse("FEAA"));
  return ad;
}

constexpr std::string_view kMakerType2 = "040102 0a0b0c0d 0102 0304 03e8 05 f4 c5 64 d2b060d0f5a71096e0";
constexpr std::string_view kAppleIBeacon = "4c000215 e2c56db5dffb48d2b060d0f5a71096e0 0001 0016 c5";

class CentralClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cw.makeClient();
    cw.world.runUntilIdle();
  }
  void hear(const platform::Uuid& who, const AdvertisementData& ad, int rssi = -60) {
    cw.world.radio->advertise(who, ad, rssi);
    cw.world.runUntilIdle();
  }
  // Lets the client ask the region source again; the scan stopped by the duty cycle (no
  // session runs here) is started again.
  void nextSecond() {
    cw.world.scheduler->advanceBy(1.0);
    cw.client->scanForPeripherals();
  }
  std::vector<Discovery> discoveries() {
    std::lock_guard lock(cw.hub->mutex);
    return cw.hub->discoveries;
  }
  CentralWorld cw;
};

TEST_F(CentralClientTest, CountsRunPerPeripheralAndFrameTypeUntilCleared) {
  ASSERT_TRUE(cw.client->isScanningEnabled());
  const auto beacon = platform::Uuid::random();
  for (int i = 0; i < 3; ++i) {
    hear(beacon, mfr(kMakerType2), i == 2 ? platform::bluetooth::kRSSIUnavailable : -60);
    cw.world.scheduler->advanceBy(0.5);
  }
  cw.world.radio->setShowsIBeaconFramesToScans(true);
  hear(beacon, mfr(kAppleIBeacon));
  cw.client->clearMetaDataForPeripheralUUID(beacon);
  hear(beacon, mfr(kMakerType2));
  auto seen = discoveries();
  ASSERT_EQ(seen.size(), 5u);
  auto count = [&](std::size_t i) { return *seen[i].adData["KSAdDataDiscoveredCountKey"].toInt64(); };
  auto first = [&](std::size_t i) { return *seen[i].adData["KSAdDataFirstDiscoveredAtKey"].toDate(); };
  EXPECT_EQ(count(0), 1);
  EXPECT_EQ(count(1), 2);
  EXPECT_EQ(count(2), 3);
  EXPECT_EQ(first(0), *seen[0].adData["KSAdDataTimestampKey"].toDate());
  EXPECT_EQ(first(2), first(0));
  EXPECT_NE(*seen[2].adData["KSAdDataTimestampKey"].toDate(), first(0));
  EXPECT_EQ(seen[2].rssi, 127);  // passed on as the radio gave it
  EXPECT_EQ(count(3), 1);        // another frame type counts apart
  EXPECT_EQ(count(4), 1);        // cleared
  for (const auto& d : seen) EXPECT_EQ(d.scanID, cw.client->scanManager()->scanID());
}

TEST_F(CentralClientTest, LearntIBeaconUUIDResolvesALaterTail) {
  const auto beacon = platform::Uuid::random();
  hear(beacon, mfr(kMakerType2));
  cw.world.radio->setShowsIBeaconFramesToScans(true);
  hear(platform::Uuid::random(), mfr(kAppleIBeacon));
  hear(beacon, mfr(kMakerType2));
  auto seen = discoveries();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_TRUE(seen[0].adData["KSAdDataProximityUUIDStringKey"].isAbsent());
  EXPECT_EQ(*seen[2].adData["KSAdDataProximityUUIDStringKey"].string(), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  const auto known = cw.client->knownProximityUUIDStrings();
  EXPECT_EQ(known, (std::vector<std::string>{std::string(KSProximityUUIDString), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"}));
}

TEST_F(CentralClientTest, KnownUUIDsKeepTheirOrderAndLearntOnesAreBounded) {
  cw.regions->set({"e2c56db5-dffb-48d2-b060-d0f5a71096e0", "61687109-905f-4436-91f8-e602f514c96d"}, {});
  nextSecond();
  cw.world.radio->setShowsIBeaconFramesToScans(true);
  hear(platform::Uuid::random(), mfr(kAppleIBeacon));  // learnt, though known: the oldest learnt, dropped below
  for (int i = 0; i < 300; ++i) {
    char hex[80];
    std::snprintf(hex, sizeof hex, "4c000215 %032x 0001 0016 c5", i + 1);
    hear(platform::Uuid::random(), mfr(hex));
  }
  const auto known = cw.client->knownProximityUUIDStrings();
  ASSERT_EQ(known.size(), 2 + KSCentralManagerClient::kMaximumLearntProximityUUIDs);
  EXPECT_EQ(known[0], "e2c56db5-dffb-48d2-b060-d0f5a71096e0");
  EXPECT_EQ(known[1], "61687109-905f-4436-91f8-e602f514c96d");
  EXPECT_EQ(known[2], "00000000-0000-0000-0000-00000000002D");  // 45: the oldest 45 learnt were dropped
  EXPECT_EQ(known.back(), "00000000-0000-0000-0000-00000000012C");
}

// A UUID heard while a cached region also names it is learnt all the same: when the region
// goes from the cache, the UUID is still offered to the parser, and a later maker frame that
// carries only its tail still resolves.
TEST_F(CentralClientTest, AUUIDAlsoInARegionIsLearntAndOutlivesTheRegion) {
  const std::string regionUUID = "e2c56db5-dffb-48d2-b060-d0f5a71096e0";
  cw.regions->set({regionUUID}, {});
  nextSecond();
  cw.world.radio->setShowsIBeaconFramesToScans(true);
  hear(platform::Uuid::random(), mfr(kAppleIBeacon));
  cw.regions->set({}, {});
  nextSecond();
  const auto known = cw.client->knownProximityUUIDStrings();
  EXPECT_EQ(known, (std::vector<std::string>{std::string(KSProximityUUIDString), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"}));
  const auto beacon = platform::Uuid::random();
  hear(beacon, mfr(kMakerType2));
  auto seen = discoveries();
  ASSERT_EQ(seen.size(), 2u);
  const auto* resolved = seen[1].adData["KSAdDataProximityUUIDStringKey"].string();
  ASSERT_NE(resolved, nullptr);
  EXPECT_EQ(*resolved, "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
}

TEST_F(CentralClientTest, EddystoneUIDPassesOnlyWithACachedNamespace) {
  const auto beacon = platform::Uuid::random();
  hear(beacon, eddystoneUID("00112233445566778899"));
  hear(beacon, mfr(kMakerType2));
  EXPECT_EQ(discoveries().size(), 1u);
  cw.regions->set({}, {"00112233445566778899AABB"});
  nextSecond();
  hear(beacon, eddystoneUID("00112233445566778899"));
  EXPECT_EQ(discoveries().size(), 1u);
  cw.regions->set({}, {"00112233445566778899"});
  nextSecond();
  hear(beacon, eddystoneUID("00112233445566778899"));
  ASSERT_EQ(discoveries().size(), 2u);
  cw.regions->set({}, {"aabbccddeeff00112233"});  // differs from the frame's only in case
  nextSecond();
  hear(beacon, eddystoneUID("aabbccddeeff00112233"));
  EXPECT_EQ(discoveries().size(), 3u);
}

TEST_F(CentralClientTest, ProcessorAnsweringYesEndsTheChainAndItsChangesReachTheHub) {
  struct Processor : KSPluginAdDataProcessable {
    Processor(bool stop, std::string key) : stop(stop), key(std::move(key)) {}
    bool processAdData(platform::Value& adData) override {
      ++calls;
      adData.set(key, true);
      return stop;
    }
    bool stop;
    std::string key;
    int calls = 0;
  };
  auto a = std::make_shared<Processor>(false, "a");
  auto b = std::make_shared<Processor>(true, "b");
  auto c = std::make_shared<Processor>(false, "c");
  cw.client->addAdDataProcessor(a);
  cw.client->addAdDataProcessor(b);
  cw.client->addAdDataProcessor(c);
  cw.client->addAdDataProcessor(nullptr);
  EXPECT_EQ(cw.client->countOfAdDataProcessor(), 3u);
  hear(platform::Uuid::random(), mfr(kMakerType2));
  auto seen = discoveries();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_TRUE(seen[0].adData["a"].toBool().has_value());
  EXPECT_TRUE(seen[0].adData["b"].toBool().has_value());
  EXPECT_TRUE(seen[0].adData["c"].isAbsent());
  EXPECT_EQ(c->calls, 0);
  cw.client->removeAdDataProcessor(b);
  EXPECT_EQ(cw.client->countOfAdDataProcessor(), 2u);
}

TEST(CentralClient, BackgroundScansFollowTheLiveOption) {
  CentralWorld off(platform::sim::SimApp::Step::LaunchBackground);
  off.setOption(KSOptionScanInBackground, false);
  off.makeClient();
  off.world.runUntilIdle();
  EXPECT_FALSE(off.client->isScanningEnabled());
  EXPECT_TRUE(off.central->log().empty());

  CentralWorld on(platform::sim::SimApp::Step::LaunchBackground);
  on.makeClient();
  on.world.runUntilIdle();
  EXPECT_TRUE(on.client->isScanningEnabled());
  ASSERT_EQ(on.central->log().size(), 1u);
  EXPECT_EQ(on.central->log()[0].filter, std::vector<BluetoothUUID>{*BluetoothUUID::parse("FEC4")});
}

TEST(CentralClient, StopWhenIdleTellsTheScanManagerButPostsNothing) {
  CentralWorld cw;
  cw.hub->allowScans = false;
  cw.makeClient();
  cw.world.runUntilIdle();
  int posted = 0;
  auto token = cw.world.center->addObserver(std::string(KSCentralManagerClientDidStopScan), nullptr, nullptr,
                                            [&](const platform::Notification&) { ++posted; });
  cw.client->stopScan();
  EXPECT_TRUE(cw.client->scanManager()->stoppedScanAt().has_value());
  EXPECT_EQ(posted, 0);
  cw.hub->allowScans = true;
  cw.client->scanForPeripherals();
  cw.client->stopScan();
  EXPECT_EQ(posted, 1);
  cw.world.center->removeObserver(token);
}

TEST(CentralClient, PowerChangesReachScanManagerHubThenNotification) {
  CentralWorld cw;
  cw.makeClient();
  auto token = cw.world.center->addObserver(std::string(KSNotificationBluetoothStateDidChange), nullptr, nullptr,
                                            [&](const platform::Notification&) {
                                              std::lock_guard lock(cw.hub->mutex);
                                              cw.hub->calls.push_back(cw.client->isScanningEnabled() ? "note on"
                                                                                                     : "note off");
                                            });
  cw.world.runUntilIdle();
  cw.world.radio->setPowerState(platform::bluetooth::CentralState::PoweredOff);
  cw.world.runUntilIdle();
  EXPECT_EQ(cw.hub->calls, (std::vector<std::string>{"hub state", "note on", "hub state", "note off"}));
  cw.world.center->removeObserver(token);
}

TEST(CentralClient, ConnectionsReachTheScanManagerAndTheOperationManagerInOrder) {
  struct Ops : KSBeaconOperationManaging {
    explicit Ops(KSCentralManagerClient** client) : client(client) {}
    void centralManagerDidConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&) override {
      log.push_back("connected state " + std::to_string((*client)->scanManager()->scanState()));
    }
    void centralManagerDidDisconnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                               const std::optional<platform::Error>&) override {
      log.push_back("disconnected state " + std::to_string((*client)->scanManager()->scanState()));
    }
    void centralManagerDidFailToConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>&,
                                                  const std::optional<platform::Error>&) override {
      log.push_back("failed state " + std::to_string((*client)->scanManager()->scanState()));
    }
    KSCentralManagerClient** client;
    std::vector<std::string> log;
  };
  CentralWorld cw;
  KSCentralManagerClient* raw = nullptr;
  auto ops = std::make_shared<Ops>(&raw);
  cw.makeClient(ops);
  raw = cw.client.get();
  cw.world.runUntilIdle();
  const auto good = platform::Uuid::random();
  const auto bad = platform::Uuid::random();
  cw.world.radio->advertise(good, mfr(kMakerType2), -50);
  cw.world.radio->advertise(bad, mfr(kMakerType2), -50);
  cw.world.runUntilIdle();
  platform::Error refused{"sim", 1, "refused", {}};
  cw.world.radio->setConnectScript(bad, {0.05, refused});
  auto peripheral = cw.client->retrievePeripheralWithIdentifier(good);
  ASSERT_TRUE(peripheral);
  EXPECT_FALSE(cw.client->retrievePeripheralWithIdentifier(platform::Uuid::random()));
  cw.client->connectPeripheral(peripheral);
  EXPECT_EQ(cw.client->scanManager()->scanState(), 7);
  EXPECT_FALSE(cw.client->isScanningEnabled());
  cw.world.scheduler->advanceBy(0.1);
  cw.client->cancelPeripheralConnection(peripheral);
  cw.world.runUntilIdle();
  cw.client->connectPeripheral(cw.client->retrievePeripheralWithIdentifier(bad));
  cw.world.scheduler->advanceBy(0.1);
  ASSERT_GE(ops->log.size(), 2u);
  EXPECT_EQ(ops->log.front(), "connected state 7");
  EXPECT_EQ(ops->log.back(), "failed state 0");
}

// However long a scan runs, a flood of peripherals leaves at most the cap's worth of
// metadata (and a margin before the next prune), the longest unheard going first.
TEST(CentralClientBounds, PeripheralMetadataIsCappedWithinAScan) {
  CentralWorld cw;
  cw.session->running = true;
  cw.makeClient();
  cw.world.runUntilIdle();
  ASSERT_TRUE(cw.client->isScanningEnabled());
  cw.world.radio->setShowsIBeaconFramesToScans(true);
  const auto frame = hexBytes(std::string(kAppleIBeacon));
  AdvertisementData ad;
  ad.manufacturerData = platform::Bytes(frame.begin(), frame.end());
  auto hear = [&](const platform::Uuid& who) {
    cw.world.radio->advertise(who, ad, -60);
    cw.world.runUntilIdle();
  };
  const std::size_t cap = KSCentralManagerClient::kMaximumPeripheralMetadata;
  const auto first = platform::Uuid::random();
  hear(first);
  cw.world.scheduler->advanceBy(0.5);
  ASSERT_TRUE(cw.client->isScanningEnabled());
  for (std::size_t i = 0; i < cap + cap / 8 + 10; ++i) cw.world.radio->advertise(platform::Uuid::random(), ad, -60);
  cw.world.runUntilIdle();
  EXPECT_LE(cw.client->peripheralMetadataCount(), cap + cap / 8);
  auto discoveries = [&] {
    std::lock_guard lock(cw.hub->mutex);
    return cw.hub->discoveries;
  };
  const auto before = discoveries().size();
  hear(first);
  const auto seen = discoveries();
  ASSERT_EQ(seen.size(), before + 1);
  EXPECT_EQ(seen.back().adData["KSAdDataDiscoveredCountKey"].toInt64(), 1);  // counted afresh
}

TEST(UUIDAdditions, Table) {
  using namespace uuid_additions;
  const auto fec4 = *BluetoothUUID::parse("FEC4");
  const auto base = *BluetoothUUID::parse("0000FEC4-0000-1000-8000-00805F9B34FB");
  const auto longOne = *BluetoothUUID::parse("FEC40000-1111-2222-3333-444455556666");
  const auto four = *BluetoothUUID::parse("1234FEC4");
  EXPECT_EQ(fec4, base);
  EXPECT_TRUE(isEqualToUUID(fec4, longOne));
  EXPECT_FALSE(isEqualToUUID(longOne, fec4));
  EXPECT_TRUE(isEqualToUUID(four, *BluetoothUUID::parse("1234FEC4-0000-0000-0000-000000000000")));
  EXPECT_FALSE(isEqualToUUID(four, fec4));
  EXPECT_TRUE(isEqualToInt(fec4, 0xFEC4));
  EXPECT_TRUE(isEqualToInt(four, 0x1234));
  EXPECT_FALSE(isEqualToInt(fec4, 0xC4FE));
  EXPECT_EQ(swap(0x1234), 0x3412);
  EXPECT_EQ(stringValue(fec4), "FEC4");
  EXPECT_EQ(stringValue(longOne), "FEC40000111122223333444455556666");
  const auto error = KSCentralManagerClient::errorWithDescription("boom");
  EXPECT_EQ(error.domain, "com.kestrine.KSCenteralManagerClient");
  EXPECT_EQ(error.code, -1);
}

TEST(CentralClientThreads, DiscoveriesFromManyThreadsWhileTheChainAndRegionsChange) {
  CentralWorld cw;
  cw.makeClient();
  cw.world.runUntilIdle();
  struct Noop : KSPluginAdDataProcessable {
    bool processAdData(platform::Value&) override { return false; }
  };
  const auto ad = mfr(kMakerType2);
  std::vector<std::shared_ptr<platform::bluetooth::Peripheral>> peripherals;
  for (int i = 0; i < 8; ++i) {
    const auto id = platform::Uuid::random();
    cw.world.radio->advertise(id, ad, -50);
  }
  cw.world.runUntilIdle();
  {
    std::lock_guard lock(cw.hub->mutex);
    for (const auto& d : cw.hub->discoveries) {
      peripherals.push_back(cw.client->retrievePeripheralWithIdentifier(d.peripheral));
    }
  }
  ASSERT_EQ(peripherals.size(), 8u);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) cw.client->centralDidDiscoverPeripheral(peripherals[t], ad, -50);
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      auto p = std::make_shared<Noop>();
      cw.client->addAdDataProcessor(p);
      cw.client->clearMetaDataForPeripheralUUID(peripherals[i % 8]->identifier());
      cw.regions->set({"e2c56db5-dffb-48d2-b060-d0f5a71096e0"}, {std::to_string(i)});
      cw.client->removeAdDataProcessor(p);
    }
  });
  for (auto& th : threads) th.join();
  std::lock_guard lock(cw.hub->mutex);
  EXPECT_EQ(cw.hub->discoveries.size(), 8u + 8u * 200u);
}

}  // namespace
}  // namespace velmora::kestrine
