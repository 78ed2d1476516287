// The Eddystone configuration and capability read on the simulated beacon's Eddystone
// configuration service, behind its lock.
#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconEddystoneConfigOperation.h"
#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "testing/HexBytes.h"
#include "testing/SettingsTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Dict;
using platform::Value;
using platform::sim::SimGattServer;
using testsupport::SettingsFixture;
using velmora::testing::hexBytes;

struct EddystoneTest : SettingsFixture {
  std::shared_ptr<testsupport::Report> run(const std::shared_ptr<KSBeaconOperation>& operation, bool lastAttempt = false) {
    if (lastAttempt) operation->setRetryCount(operation->maxNumberOfRetries());
    auto report = schedule(operation);
    runUntilReported(report, 60);
    return report;
  }
  std::shared_ptr<testsupport::Report> configure(Dict settings, bool lastAttempt = false) {
    return run(KSBeaconEddystoneConfigOperation::initWithBeacon(beacon, peripheralID, std::move(settings)), lastAttempt);
  }
  // The writes to the slot and lock characteristics, in the order the beacon took them.
  std::vector<std::pair<std::string, Bytes>> configWrites() const {
    const std::map<platform::bluetooth::BluetoothUUID, std::string> names{
        {gattUUID(ESCharacteristicUUIDStringActiveSlot), "active"},
        {gattUUID(ESCharacteristicUUIDStringRWADVSlot), "adv"},
        {gattUUID(ESCharacteristicUUIDStringLockstate), "lock"}};
    std::vector<std::pair<std::string, Bytes>> out;
    for (const auto& t : server->trace()) {
      if (t.answer || t.kind != SimGattServer::Kind::Write) continue;
      if (auto it = names.find(t.uuid); it != names.end()) out.emplace_back(it->second, t.bytes);
    }
    return out;
  }
  static Dict withSlots(Value slots, std::optional<std::string> newPasscode = std::nullopt) {
    Dict d{{std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"},
           {std::string(KSEddyConfigDataSlotDictionaryKey), std::move(slots)}};
    if (newPasscode) d[std::string(KSSettingsUpdateNewPasscodeKey)] = *newPasscode;
    return d;
  }
};

TEST_F(EddystoneTest, WritesTheSlotsInSlotOrder) {
  const Bytes a{0x10, 0xAA}, b{0x20, 0xBB, 0xBB}, c(20, 0xCC);
  auto report = configure(withSlots(Value::makeDict({{"10", c}, {"2", b}, {"0", a}})));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  using W = std::vector<std::pair<std::string, Bytes>>;
  EXPECT_EQ(configWrites(), (W{{"active", {0x00}}, {"adv", a}, {"active", {0x02}}, {"adv", b}, {"active", {0x0A}}, {"adv", c}}));
  EXPECT_EQ(slots->slot(10), c);
  EXPECT_EQ(texts(*report), (std::vector<std::string>{"Updating", "Succeeded"}));
}

TEST_F(EddystoneTest, ChangesThePasscodeAndTheBeaconThenUnlocksWithTheNewOne) {
  auto report = configure(withSlots(Value(), "654321"));
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  using W = std::vector<std::pair<std::string, Bytes>>;
  EXPECT_EQ(configWrites(), (W{{"lock", hexBytes("00 2c5120e3ce7ff42625e9b42b84079a5d")}}));
  EXPECT_EQ(lock->passcode(), testsupport::passcodeDigest("654321"));

  installBeacon(true);
  lock = platform::sim::SimEddystoneLock::install(
      server, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)},
      testsupport::passcodeDigest("654321"));
  lock->setChallenge(Bytes(16, 0x42));
  slots->setCapabilities(hexBytes("00 04 01 0F 01 0B 00"));
  report = run(KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, peripheralID, "654321"));
  EXPECT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_FALSE(lock->locked());
}

TEST_F(EddystoneTest, AFailedSlotWriteStopsEverything) {
  server->failNth(SimGattServer::Kind::Write, gattUUID(ESCharacteristicUUIDStringRWADVSlot), 1,
                  platform::Error(std::string(platform::bluetooth::gatt::kErrorDomain), 3, "refused"));
  auto report = configure(withSlots(Value::makeDict({{"0", Bytes{1}}, {"1", Bytes{2}}}), "654321"), true);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, 3);
  using W = std::vector<std::pair<std::string, Bytes>>;
  EXPECT_EQ(configWrites(), (W{{"active", {0x00}}, {"adv", {0x01}}})) << "no later slot, no passcode";
  advanceBy(30);
  EXPECT_EQ(configWrites().size(), 2u);
  EXPECT_EQ(lock->passcode(), testsupport::passcodeDigest("123456"));
}

TEST_F(EddystoneTest, NothingToWriteSucceedsAfterTheUnlock) {
  auto report = configure(withSlots(Value::makeDict()));
  ASSERT_EQ(report->successes, 1);
  EXPECT_TRUE(configWrites().empty());
  EXPECT_FALSE(lock->locked()) << "it did log in";
}

TEST_F(EddystoneTest, BadSettingsFailBeforeConnecting) {
  const std::vector<std::pair<Dict, std::string>> rows{
      {Dict{{std::string(KSEddyConfigDataSlotDictionaryKey), Value::makeDict()}}, "Empty Passcode String"},
      {withSlots(Value::makeDict({{"256", Bytes{1}}})), "Invalid setting 256"},
      {withSlots(Value::makeDict({{"-1", Bytes{1}}})), "Invalid setting -1"},
      {withSlots(Value::makeDict({{"3", "text"}})), "Invalid setting 3"},
      {withSlots(Value("no dictionary")), "Invalid setting KSEddyConfigDataSlotDictionaryKey"},
  };
  for (const auto& [d, message] : rows) {
    auto report = configure(d);
    ASSERT_EQ(report->failures, 1) << message;
    EXPECT_EQ(report->error->localizedDescription, message);
  }
  auto report = run(KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, peripheralID, std::nullopt));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Empty Passcode String");
  EXPECT_EQ(discoveries(*server), 0);
}

TEST_F(EddystoneTest, ReadsTheBroadcastCapabilities) {
  slots->setCapabilities(hexBytes("00 04 01 0F 01 0B 00"));
  auto operation = KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, peripheralID, "123456");
  auto report = run(operation);
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  const Dict& s = operation->settings();
  EXPECT_EQ(s.at(std::string(KSEddySettingVersionKey)).toUInt64(), 0u);
  EXPECT_EQ(s.at(std::string(KSEddySettingTotalNumSlotsKey)).toUInt64(), 4u);
  EXPECT_EQ(s.at(std::string(KSEddySettingTotalNumEIDSlotsKey)).toUInt64(), 1u);
  EXPECT_EQ(s.at(std::string(KSEddySettingCapabilitiesBitmaskKey)).toUInt64(), 15u);
  EXPECT_EQ(s.at(std::string(KSEddySettingFramesSupportedBitmaskKey)).toUInt64(), 267u);
  EXPECT_EQ(*s.at(std::string(KSEddySettingTxPowersKey)).bytes(), Bytes{0x00});

  installBeacon(true);
  slots->setCapabilities(hexBytes("00 04 01 0F 01 0B"));
  report = run(KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, peripheralID, "123456"));
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Broadcast Capabilities byte array too short");
}

// A host app makes the read itself and schedules it through the central client, the entry
// point it has: the operation runs on the beacon and reports through its own blocks.
TEST_F(EddystoneTest, AHostMadeReadScheduledThroughTheCentralClientRunsAndReports) {
  slots->setCapabilities(hexBytes("00 04 01 0F 01 0B 00"));
  auto operation = KSBeaconReadSettingsEddystoneOperation::initWithBeacon(beacon, peripheralID, "123456");
  auto report = watch(operation);
  central->client->scheduleBeaconOperation(operation);
  runUntilReported(report, 60);
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(operation->settings().at(std::string(KSEddySettingTotalNumSlotsKey)).toUInt64(), 4u);
  EXPECT_EQ(texts(*report).back(), "Succeeded");
}

}  // namespace
}  // namespace velmora::kestrine
