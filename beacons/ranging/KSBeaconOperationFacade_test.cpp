#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeaconUpdates.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Value;

// An operation the test ends, with the blocks the hub gave it.
class FakeOperation : public KSBeaconOperationRef {
 public:
  void setBeaconOperationCompletionBlockWithSuccess(Success s, Failure f) override {
    success = std::move(s);
    failure = std::move(f);
  }
  void setBeaconOperationStatusBlock(Status s) override { status = std::move(s); }
  void setBeaconOperationProgressBlock(Progress p) override { progress = std::move(p); }
  std::vector<Bytes> responseDataArray() const override { return responses; }
  Bytes responseData() const override { return response; }

  void finish() {
    auto s = std::move(success);
    success = nullptr;
    failure = nullptr;
    if (s) s(shared_from_this());
  }
  void fail(const std::string& message) {
    auto f = std::move(failure);
    success = nullptr;
    failure = nullptr;
    if (f) f(shared_from_this(), KSBeaconManagerInternal::errorWithDescription(message));
  }

  std::string kind;
  std::shared_ptr<KSBeacon> beacon;
  std::optional<platform::Uuid> peripheral;
  std::string argument;  // the kind's arguments, as text
  Success success;
  Failure failure;
  Status status;
  Progress progress;
  std::vector<Bytes> responses;
  Bytes response;
};

class FakeFactory : public KSBeaconOperationFactory {
 public:
  Ref makeFirmwareEncryptedUpdateOperation(const Beacon& b, const Peripheral& p, const std::string& v) override {
    return make("firmware-encrypted", b, p, v);
  }
  Ref makeFirmwareUpdateOperation(const Beacon& b, const Peripheral& p, const std::string& v) override {
    return make("firmware", b, p, v);
  }
  Ref makeFirmwareUpdateLegacyOperation(const Beacon& b, const Peripheral& p) override {
    return make("firmware-legacy", b, p, "");
  }
  Ref makeSettingsUpdateOperation(const Beacon& b, const Peripheral& p) override { return make("settings", b, p, ""); }
  Ref makeSettingsUpdateLegacyOperation(const Beacon& b, const Peripheral& p) override {
    return make("settings-legacy", b, p, "");
  }
  Ref makeSettingsUpdateOfflineOperation(const Beacon& b, const Peripheral& p, const platform::Dict& d) override {
    return make("settings-offline", b, p, std::to_string(d.size()));
  }
  Ref makeEddystoneConfigOperation(const Beacon& b, const Peripheral& p, const platform::Dict& d) override {
    return make("eddystone-config", b, p, std::to_string(d.size()));
  }
  Ref makeDataRequestOperation(const Beacon& b, const Peripheral& p, const std::vector<Bytes>& r) override {
    return make("data-request", b, p, std::to_string(r.size()));
  }
  Ref makeTransportDataRequestOperation(const Beacon& b, const Peripheral& p, const Bytes& r) override {
    return make("transport", b, p, std::to_string(r.size()));
  }
  Ref makeControlOperation(const Beacon& b, const Peripheral& p, std::int32_t opcode,
                           const std::optional<Bytes>& data) override {
    return make("control", b, p, std::to_string(opcode) + (data ? "+data" : ""));
  }

  std::shared_ptr<FakeOperation> last() const { return made.empty() ? nullptr : made.back(); }
  std::vector<std::shared_ptr<FakeOperation>> made;

 private:
  Ref make(std::string kind, const Beacon& b, const Peripheral& p, std::string argument) {
    auto op = std::make_shared<FakeOperation>();
    op->kind = std::move(kind);
    op->beacon = b;
    op->peripheral = p;
    op->argument = std::move(argument);
    made.push_back(op);
    return op;
  }
};

// Counts what reaches the central client's operation manager.
class Scheduled : public KSBeaconOperationManaging {
 public:
  void scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& op) override {
    operations.push_back(op);
  }
  std::vector<std::shared_ptr<KSSchedulableBeaconOperation>> operations;
};

struct FacadeWorld {
  explicit FacadeWorld(platform::Dict options = {}) {
    provider = KSInstanceProvider::create(world.bundle());
    configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions(options);
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    KSBeaconManagerInternal::Ports ports;
    ports.session = std::make_shared<testsupport::FakeSession>();
    ports.operations = scheduled;
    ports.operationFactory = factory;
    hub = KSBeaconManagerInternal::create(provider, ports);
    world.runUntilIdle();
  }
  ~FacadeWorld() { world.runUntilIdle(); }
  // A cached beacon with that feature mask, heard from a peripheral.
  std::shared_ptr<KSBeacon> cached(std::uint32_t mask, std::string address = "C4:7C:8D:6A:11:22") {
    auto b = std::make_shared<KSBeacon>();
    b->setBluetoothAddress(address);
    b->setFeatureBitmask(mask);
    b->setPeripheralIdentifier(platform::Uuid::random());
    hub->cacheBeacon(b, false);
    return b;
  }
  // The same beacon as a caller would know it: another record with the same address.
  static std::shared_ptr<KSBeacon> asKnown(const std::shared_ptr<KSBeacon>& b) {
    auto other = std::make_shared<KSBeacon>();
    other->setBluetoothAddress(b->bluetoothAddress());
    return other;
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<FakeFactory> factory = std::make_shared<FakeFactory>();
  std::shared_ptr<Scheduled> scheduled = std::make_shared<Scheduled>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
};

TEST(BeaconOperationFacade, OperationChosenByFeatureBits) {
  struct Case {
    std::uint32_t mask;
    const char* firmware;  // nullptr: not supported
    const char* settings;
  };
  const Case cases[] = {
      {0x8000 | 0x4000, "firmware-encrypted", nullptr},
      {0x4000 | 0x2000, "firmware", nullptr},
      {0x2000, "firmware-legacy", nullptr},
      {0x1000 | 0x0400, nullptr, "settings"},
      {0x0400, nullptr, "settings-legacy"},
      {0x0800, nullptr, nullptr},  // the unencrypted settings bit alone selects nothing
      {0, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    FacadeWorld w;
    auto beacon = w.cached(c.mask);
    std::vector<std::string> failures;
    auto fail = [&](platform::Error e) { failures.push_back(e.localizedDescription); };
    w.hub->updateFirmwareInBeacon(FacadeWorld::asKnown(beacon), "1.2.3", nullptr, nullptr, nullptr, fail);
    w.hub->updateSettingsInBeacon(FacadeWorld::asKnown(beacon), nullptr, nullptr, fail);
    std::vector<std::string> kinds;
    for (const auto& op : w.factory->made) kinds.push_back(op->kind);
    std::vector<std::string> expected;
    if (c.firmware) expected.push_back(c.firmware);
    if (c.settings) expected.push_back(c.settings);
    EXPECT_EQ(kinds, expected);
    EXPECT_EQ(w.scheduled->operations.size(), expected.size());
    for (const auto& op : w.factory->made) {
      EXPECT_EQ(op->beacon, beacon);  // the cached record, not the caller's
      EXPECT_EQ(op->peripheral, beacon->peripheralIdentifier());
      if (op->kind == "firmware-encrypted" || op->kind == "firmware") {
        EXPECT_EQ(op->argument, "1.2.3");
      }
    }
    // Failures came at once, on this thread, with the features named.
    const std::string features = beacon_updates::featureSupportDebug(c.mask);
    std::vector<std::string> expectedFailures;
    if (!c.firmware) expectedFailures.push_back("Firmware update not supported. Device supports: " + features);
    if (!c.settings) expectedFailures.push_back("Settings Update Not Supported. Device Supports: " + features);
    EXPECT_EQ(failures, expectedFailures);
  }
}

TEST(BeaconOperationFacade, DataRequestArgumentsFailOnTheMainQueueWithNothingScheduled) {
  const Bytes ok(250, 1);
  const Bytes tooLong(251, 1);
  struct Case {
    const char* name;
    std::function<void(KSBeaconManagerInternal&, std::shared_ptr<KSBeacon>, KSBeaconHubPort::Failure)> call;
    std::string error;  // empty: accepted
  };
  const std::string tooLongText =
      "requestData too long. Use transportDataRequest if beacon host supports it or shorten request.";
  const std::string endpoint = "KSBeaconEndpointSerial is the only supported endpoint.";
  const Case cases[] = {
      {"250 bytes", [&](auto& h, auto b, auto f) { h.sendDataRequest(ok, b, 0, nullptr, nullptr, f); }, ""},
      {"empty", [&](auto& h, auto b, auto f) { h.sendDataRequest({}, b, 0, nullptr, nullptr, f); },
       "requestData parameter is required."},
      {"251 bytes and a bad endpoint",
       [&](auto& h, auto b, auto f) { h.sendDataRequest(tooLong, b, 3, nullptr, nullptr, f); }, tooLongText},
      {"bad endpoint", [&](auto& h, auto b, auto f) { h.sendDataRequest(ok, b, 1, nullptr, nullptr, f); }, endpoint},
      {"no array", [&](auto& h, auto b, auto f) { h.sendDataRequests({}, b, 0, nullptr, nullptr, f); },
       "requestDataArray parameter is required."},
      {"array with a bad endpoint",
       [&](auto& h, auto b, auto f) { h.sendDataRequests({tooLong}, b, 2, nullptr, nullptr, f); }, endpoint},
      {"second and third elements too long",
       [&](auto& h, auto b, auto f) { h.sendDataRequests({ok, tooLong, tooLong}, b, 0, nullptr, nullptr, f); },
       "requestDataArray[1] too long. Use transportDataRequest if beacon host supports it or shorten request."},
      {"array with an empty element",
       [&](auto& h, auto b, auto f) { h.sendDataRequests({ok, Bytes{}}, b, 0, nullptr, nullptr, f); }, ""},
      {"empty transport", [&](auto& h, auto b, auto f) { h.transportDataRequest({}, b, 0, nullptr, nullptr, f); },
       "requestData parameter is required"},
      {"long transport", [&](auto& h, auto b, auto f) { h.transportDataRequest(Bytes(1000, 2), b, 0, nullptr, nullptr, f); },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FacadeWorld w;
    auto beacon = w.cached(0);
    std::vector<std::string> failures;
    bool onMain = false;
    c.call(*w.hub, beacon, [&](platform::Error e) {
      onMain = w.world.scheduler->mainQueue()->isCurrent();
      failures.push_back(e.localizedDescription);
    });
    EXPECT_TRUE(failures.empty());  // never on the caller's thread
    w.world.runUntilIdle();
    if (c.error.empty()) {
      EXPECT_TRUE(failures.empty());
      EXPECT_EQ(w.scheduled->operations.size(), 1u);
    } else {
      EXPECT_EQ(failures, std::vector<std::string>{c.error});
      EXPECT_TRUE(onMain);
      EXPECT_TRUE(w.scheduled->operations.empty());
    }
  }
}

TEST(BeaconOperationFacade, ResultsStatusAndProgressReachTheCaller) {
  FacadeWorld w;
  auto beacon = w.cached(0x8000);
  std::vector<std::string> log;
  w.hub->updateFirmwareInBeacon(
      beacon, [&](Value v) { log.push_back(v.object() ? "done" : "no operation"); },
      [&](Value v) { log.push_back("status " + *v.string()); },
      [&](double p) { log.push_back("progress " + std::to_string(static_cast<int>(p * 100))); },
      [&](platform::Error e) { log.push_back("failed " + e.localizedDescription); });
  auto op = w.factory->last();
  ASSERT_TRUE(op);
  EXPECT_EQ(op->argument, "latest");
  op->status(op, "connecting");
  op->progress(op, 0.5);
  op->finish();
  EXPECT_EQ(log, (std::vector<std::string>{"status connecting", "progress 50", "done"}));

  std::vector<Value> responses;
  w.hub->sendDataRequests({Bytes{1}, Bytes{2}}, beacon, 0, [&](Value v) { responses.push_back(v); }, nullptr,
                          [&](platform::Error e) { log.push_back("failed " + e.localizedDescription); });
  w.factory->last()->responses = {Bytes{9}, Bytes{8}};
  w.factory->last()->finish();
  w.hub->sendDataRequest(Bytes{1}, beacon, 0, [&](Value v) { responses.push_back(v); }, nullptr, nullptr);
  w.factory->last()->responses = {Bytes{7}};
  w.factory->last()->finish();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0], Value(platform::Array{Value(Bytes{9}), Value(Bytes{8})}));
  EXPECT_EQ(responses[1], Value(Bytes{7}));

  w.hub->sendOpcode(-5, Bytes{1}, beacon, nullptr, [&](platform::Error e) { log.push_back("failed " + e.localizedDescription); });
  EXPECT_EQ(w.factory->last()->argument, "-5+data");
  w.factory->last()->fail("Unexpected disconnect from peripheral");
  EXPECT_EQ(log.back(), "failed Unexpected disconnect from peripheral");

  platform::Dict slot{{std::string(KSEddyConfigDataSlotDictionaryKey), Value(1)}};
  w.hub->updateSettingsInBeacon(beacon, slot, nullptr, nullptr, nullptr);
  w.hub->updateSettingsInBeacon(beacon, platform::Dict{{"txPower", Value(4)}}, nullptr, nullptr, nullptr);
  EXPECT_EQ(w.factory->made[w.factory->made.size() - 2]->kind, "eddystone-config");
  EXPECT_EQ(w.factory->last()->kind, "settings-offline");
}

TEST(BeaconOperationFacade, AnUncachedBeaconGetsItsOperationWithoutBeaconOrPeripheral) {
  FacadeWorld w;
  auto stranger = std::make_shared<KSBeacon>();
  stranger->setBluetoothAddress(std::string("00:00:00:00:00:01"));
  w.hub->sendOpcode(7, std::nullopt, stranger, nullptr, nullptr);
  auto op = w.factory->last();
  ASSERT_TRUE(op);
  EXPECT_EQ(op->beacon, nullptr);
  EXPECT_FALSE(op->peripheral);
  std::string failure;
  w.hub->updateSettingsInBeacon(stranger, nullptr, nullptr, [&](platform::Error e) { failure = e.localizedDescription; });
  EXPECT_EQ(failure, "Settings Update Not Supported. Device Supports: ");
}

// A beacon due for a crowd-sourced settings update: synced, discovered, settings bit 12, and
// advertising another settings version than its record's.
std::shared_ptr<KSBeacon> dueBeacon(FacadeWorld& w, std::string address, int rssi) {
  auto b = w.cached(0x1000, std::move(address));
  b->setSyncStatus(KSSyncStatusSynced);
  b->setFirstDiscoveredAt(platform::Date::fromUnixSeconds(1));
  b->setVersion(Value(4));
  b->setAdData(testsupport::adDataOfType(KSAdDataTypeKestrineIBeaconKey, {{KSAdDataSettingsVersionKey, Value(5)}}),
               KSAdDataTypeKestrineIBeaconKey);
  b->setRssi(Value(rssi));
  return b;
}

TEST(BeaconOperationFacade, CrowdSourcingIsGatedBySignalTimeOptionAndOneAttemptPerBeacon) {
  FacadeWorld w;
  auto weak = dueBeacon(w, "C4:7C:8D:6A:00:01", -80);
  auto strong = dueBeacon(w, "C4:7C:8D:6A:00:02", -79);
  auto other = dueBeacon(w, "C4:7C:8D:6A:00:03", -60);
  EXPECT_TRUE(beacon_updates::shouldUpdateSettingsCrowdSourced(*strong, true));
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(weak));
  EXPECT_TRUE(w.hub->shouldCrowdSourceUpdateBeacon(strong));

  w.hub->crowdSourceUpdateBeacon(strong, nullptr, nullptr, nullptr);
  EXPECT_EQ(w.factory->last()->kind, "settings");
  // One attempt a minute for the phone, one per stay in the cache for the beacon.
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(other));
  w.world.advanceBy(60);
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(other));
  w.world.advanceBy(1);
  EXPECT_TRUE(w.hub->shouldCrowdSourceUpdateBeacon(other));
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(strong));

  // Record says what it advertises: nothing due; with a pending version: due again.
  other->setVersion(Value(5));
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(other));
  other->setPendingVersion(Value(6));
  EXPECT_TRUE(w.hub->shouldCrowdSourceUpdateBeacon(other));

  w.configurator->setUserOptions({{std::string(KSOptionCrowdSourceBeaconUpdates), Value("NO")}});
  EXPECT_FALSE(w.hub->shouldCrowdSourceUpdateBeacon(other));
}

TEST(BeaconOperationFacade, FeatureNamesInBitOrder) {
  EXPECT_EQ(beacon_updates::featureSupportDebug(0), "");
  EXPECT_EQ(beacon_updates::featureSupportDebug(0x10001u), "KSFeatureTripleKey KSFeatureBLERequestSupported ");
  // Bit 11 and the bits above 16 have no name.
  EXPECT_EQ(beacon_updates::featureSupportDebug((1u << 11) | (1u << 20) | 0x8000u),
            "KSFeatureFirmwareUpdateBLEAES128CMAC ");
}

// Over a long run the cache lets go of quiet beacons it does not need: not the synced or
// restored ones, not one an operation is using, not one heard lately.
TEST(HubCacheBounds, QuietUnsyncedBeaconsLeaveUnlessSyncedRestoredOrInUse) {
  struct Removals : KSBeaconManagerInternalDelegate {
    void beaconManagerInternalDidRemoveBeacons(Hub, Beacons b) override {
      for (const auto& x : b) removed.push_back(x->bluetoothAddress().value_or("?"));
    }
    std::vector<std::string> removed;
  };
  FacadeWorld w;
  auto removals = std::make_shared<Removals>();
  w.hub->addDelegate(removals);
  auto withStatus = [&](const std::string& address, std::int64_t status) {
    auto b = std::make_shared<KSBeacon>();
    b->setBluetoothAddress(address);
    b->setSyncStatus(status);
    b->setSiteID("S1");
    w.hub->cacheBeacon(b, true, false);
    return b;
  };
  withStatus("00:00:00:00:00:00", KSSyncStatusNotSynced);
  withStatus("00:00:00:00:00:01", KSSyncStatusUnauthorized);
  withStatus("00:00:00:00:00:04", KSSyncStatusExpired);
  withStatus("00:00:00:00:00:02", KSSyncStatusSynced);
  withStatus("00:00:00:00:00:03", KSSyncStatusRestored);
  auto busy = withStatus("00:00:00:00:00:0B", KSSyncStatusNotSynced);
  w.hub->sendOpcode(7, std::nullopt, busy, nullptr, nullptr);
  ASSERT_TRUE(w.factory->last());
  const auto siteState = w.hub->cacheStateForSiteID("S1");
  w.world.advanceBy(KSBeaconManagerInternal::kQuietTimeBeforeEvictionInSeconds - 100);
  withStatus("00:00:00:00:00:0C", KSSyncStatusNotSynced);  // cached lately
  w.world.advanceBy(100);

  EXPECT_EQ(w.hub->evictQuietBeacons(), 3u);
  w.world.runUntilIdle();
  std::sort(removals->removed.begin(), removals->removed.end());
  EXPECT_EQ(removals->removed, (std::vector<std::string>{"00:00:00:00:00:00", "00:00:00:00:00:01", "00:00:00:00:00:04"}));
  EXPECT_EQ(w.hub->cachedBeaconCount(), 4u);
  EXPECT_FALSE(w.hub->cachedBeaconWithBluetoothAddress("00:00:00:00:00:00"));
  // Going quiet does not make the site due for a full sync, as a removal does.
  EXPECT_EQ(w.hub->cacheStateForSiteID("S1"), siteState);

  // The operation's end lets its beacon go at the next sweep after the quiet time.
  w.factory->last()->finish();
  w.world.advanceBy(KSBeaconManagerInternal::kQuietTimeBeforeEvictionInSeconds);
  EXPECT_EQ(w.hub->evictQuietBeacons(), 2u);
  EXPECT_TRUE(w.hub->cachedBeaconWithBluetoothAddress("00:00:00:00:00:02"));
  EXPECT_TRUE(w.hub->cachedBeaconWithBluetoothAddress("00:00:00:00:00:03"));
  EXPECT_FALSE(w.hub->cachedBeaconWithBluetoothAddress("00:00:00:00:00:0B"));
}

TEST(HubCacheBounds, BeyondTheCapTheLongestUnheardGoFirstButNotTheCurrentPass) {
  FacadeWorld w;
  const std::size_t cap = KSBeaconManagerInternal::kMaximumCachedBeacons;
  auto address = [](std::size_t i) {
    char text[18];
    std::snprintf(text, sizeof text, "00:00:00:00:%02zX:%02zX", (i >> 8) & 0xFF, i & 0xFF);
    return std::string(text);
  };
  for (std::size_t i = 0; i < cap + 100; ++i) {
    w.cached(0, address(i));
    if (i == 50) w.world.advanceBy(1);  // the first 51 are the longest unheard
  }
  w.world.advanceBy(KSBeaconManagerInternal::kCurrentPassTimeInSeconds);
  // Heard now: over the cap as well, but in the current pass.
  for (std::size_t i = cap + 100; i < cap + 120; ++i) w.cached(0, address(i));
  EXPECT_EQ(w.hub->evictQuietBeacons(), 120u);
  EXPECT_EQ(w.hub->cachedBeaconCount(), cap);
  EXPECT_FALSE(w.hub->cachedBeaconWithBluetoothAddress(address(0)));
  EXPECT_FALSE(w.hub->cachedBeaconWithBluetoothAddress(address(50)));
  EXPECT_TRUE(w.hub->cachedBeaconWithBluetoothAddress(address(cap + 119)));
}

}  // namespace
}  // namespace velmora::kestrine
