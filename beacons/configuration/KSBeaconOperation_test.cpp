// The beacon-operation state machine: states and their status texts, state timers, timeouts,
// duplicates for retries and the keep-alive loop, with a minimal subclass.
#include "beacons/configuration/KSBeaconOperation.h"

#include <gtest/gtest.h>

#include <fstream>

#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSStreamFileDataCommand.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimEddystoneLock.h"
#include "testing/OperationTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimBeaconApplication;
using platform::sim::SimGattServer;
using testsupport::OperationFixture;
using testsupport::TestOperation;

TEST_F(OperationFixture, StatusTextsFollowTheStatesWithTheSubclassStepsBetween) {
  auto operation = TestOperation::make(beacon, peripheralID);
  auto report = schedule(operation);
  advanceBy(2);
  EXPECT_EQ(report->statuses, (std::vector<std::string>{"Scheduled", "Preparing", "Connecting", "Connected", "Working",
                                                        "Disconnecting", "Succeeded"}));
  EXPECT_EQ(report->successes, 1);
  EXPECT_EQ(controlWrites(), (std::vector<Bytes>{{0x2A}}));
  EXPECT_EQ(operation->beaconOperationState(), KSBeaconOperationStateSucceeded);
  // Having connected, the beacon is to be heard again before its next job.
  EXPECT_FALSE(beacon->peripheralIdentifier());
}

TEST_F(OperationFixture, TheEddystoneLoginUnlocksAndARefusedPasscodeIsNotRetried) {
  using namespace velmora::platform::bluetooth;
  const Bytes right = KSBeaconOperation::passcodeDataFromPasscodeString("123456");
  const Bytes wrong = KSBeaconOperation::passcodeDataFromPasscodeString("654321");
  EXPECT_EQ(right, platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, "123456"));
  struct Row {
    const char* name;
    Bytes passcode;
    bool unlocks;
  };
  for (const Row& row : {Row{"right passcode", right, true}, Row{"wrong passcode", wrong, false}}) {
    SCOPED_TRACE(row.name);
    const platform::Uuid id = platform::Uuid::random();
    auto eddy = SimGattServer::create(
        radio()->timeline(),
        {{gattUUID(KSServiceUUIDStringEddystoneService),
          {{gattUUID(ESCharacteristicUUIDStringLockstate), kPropertyRead | kPropertyWrite, {}},
           {gattUUID(ESCharacteristicUUIDStringUnlock), kPropertyRead | kPropertyWrite, {}}}}});
    radio()->setGattServer(id, eddy);
    auto lock = platform::sim::SimEddystoneLock::install(
        eddy, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)}, right);
    lock->setChallenge(Bytes(16, 0x42));
    beacon->setPeripheralIdentifier(id);
    auto operation = TestOperation::make(beacon, id);
    operation->eddystonePasscode = row.passcode;
    operation->retries = 3;
    auto report = schedule(operation);
    advanceBy(2);
    hear(beacon, id);
    advanceBy(20);
    ASSERT_EQ(report->calls(), 1);
    EXPECT_EQ(lock->locked(), !row.unlocks);
    EXPECT_EQ(lock->answers().size(), 1u) << "one attempt only";
    if (row.unlocks) {
      EXPECT_EQ(report->successes, 1);
      EXPECT_NE(std::find(report->statuses.begin(), report->statuses.end(), "Unlocked"), report->statuses.end());
      ASSERT_NE(operation->currentService(), nullptr);
      EXPECT_EQ(operation->currentService()->uuid(), gattUUID(KSServiceUUIDStringEddystoneService));
    } else {
      ASSERT_TRUE(report->error);
      EXPECT_EQ(report->error->localizedDescription, "Incorrect Passcode");
      EXPECT_EQ(report->error->code, 3009);
    }
  }
}

TEST(KSBeaconOperationNames, EveryStateHasItsTextAndOtherValuesNone) {
  const std::vector<std::string> names{"Unknown",       "Scheduled", "Preparing", "Connecting", "Connected",
                                       "Disconnecting", "Succeeded", "Failed",    "Canceled",   "Waiting"};
  for (int state = 0; state < 10; ++state) EXPECT_EQ(stringForBeaconOperationState(state), names[state]);
  EXPECT_EQ(stringForBeaconOperationState(10), "Not Defined");
  EXPECT_EQ(stringForBeaconOperationState(-1), "Not Defined");
}

TEST_F(OperationFixture, SettingATimedStateAgainRestartsItsFullTimeout) {
  radio()->setDefaultConnectScript({.latencySeconds = 0});
  auto operation = TestOperation::make(beacon, peripheralID);
  operation->hold = true;
  auto report = schedule(operation);
  central->world.runUntilIdle();
  ASSERT_EQ(operation->beaconOperationState(), KSBeaconOperationStateConnected);
  advanceTo(8);
  manager->queue()->async([operation] { operation->setBeaconOperationState(KSBeaconOperationStateConnected); });
  advanceTo(17.9);
  EXPECT_EQ(report->calls(), 0);
  EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Connected"), 2);
  advanceTo(18.2);  // the 10 s of Connected, counted from 8, and the timer's leeway
  ASSERT_EQ(report->failures, 1);
  EXPECT_NEAR(report->at, 18, 0.15);
  EXPECT_EQ(report->error->localizedDescription, "Beacon operation did timeout.");
  EXPECT_EQ(report->error->domain, "com.kestrine.TestOperation");
  EXPECT_EQ(report->error->code, -1);
  EXPECT_TRUE(operation->didTimeoutWhenConnected());
}

// A delegate that connects at once and records the order of what it is told.
class ScriptedDelegate final : public KSBeaconOperationDelegate {
 public:
  bool operationShouldStart(const std::shared_ptr<KSOperation>&) override { return true; }
  Peripheral operationPeripheralForIdentifier(const Operation&, const std::optional<platform::Uuid>&) override {
    return peripheral;
  }
  void operationNeedsCentralManagerToConnectPeripheral(const Operation& o, const Peripheral&) override {
    calls.push_back("connect");
    o->queue()->async([o] { o->connected(); });
  }
  void operationCentralManagerCanDisconnectPeripheral(const Operation&, const Peripheral&) override {
    calls.push_back("disconnect");
  }
  void operationDidSucceed(const Operation&) override { calls.push_back("succeeded"); }
  void operationDidFailWithError(const Operation& o, const platform::Error& e) override {
    calls.push_back("failed " + e.localizedDescription + " in " + std::string(stringForBeaconOperationState(
                                                                      o->beaconOperationState())));
  }
  void operationDidTimeout(const Operation& o) override {
    calls.push_back("timeout in " + std::string(stringForBeaconOperationState(o->beaconOperationState())));
  }
  Peripheral peripheral;
  std::vector<std::string> calls;
};

TEST_F(OperationFixture, AConnectedTimeoutTellsTheDelegateFirstThenFails) {
  auto delegate = std::make_shared<ScriptedDelegate>();
  delegate->peripheral = central->client->retrievePeripheralWithIdentifier(peripheralID);
  auto operation = TestOperation::make(beacon, peripheralID);
  operation->hold = true;
  operation->setDelegate(delegate);
  operation->setQueue(manager->queue(), central->world.scheduler);
  operation->start();
  advanceBy(10.5);
  EXPECT_EQ(delegate->calls,
            (std::vector<std::string>{"connect", "timeout in Connected", "failed Beacon operation did timeout. in Failed"}));
  EXPECT_TRUE(operation->didTimeoutWhenConnected());
  EXPECT_TRUE(operation->isFinished());
}

TEST_F(OperationFixture, NoPeripheralFailsWithPeripheralIsNil) {
  auto delegate = std::make_shared<ScriptedDelegate>();  // knows no peripheral
  auto operation = TestOperation::make(beacon, peripheralID);
  operation->setDelegate(delegate);
  operation->setQueue(manager->queue(), central->world.scheduler);
  operation->start();
  central->world.runUntilIdle();
  EXPECT_EQ(delegate->calls, (std::vector<std::string>{"failed Peripheral is nil in Failed"}));
}

TEST_F(OperationFixture, DuplicatesCarryTheJobAndTheIdentifierOnlyWhenNeverConnected) {
  struct Row {
    const char* name;
    bool connect;
    bool waited;
  };
  for (const Row& row : {Row{"never connected", false, false}, Row{"connected", true, false},
                         Row{"waited", false, true}}) {
    SCOPED_TRACE(row.name);
    auto original = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, 16, Bytes{0x01, 0x02});
    auto report = watch(original);
    original->setRetryCount(2);
    if (row.waited) original->waitForPeripheralIdentifier();
    if (row.connect) original->KSBeaconOperation::connected();  // the state step alone, no GATT
    auto copy = std::static_pointer_cast<KSBeaconControlOperation>(original->duplicateForRetry());
    ASSERT_NE(copy, original);
    EXPECT_EQ(copy->peripheralIdentifier(), row.connect ? std::nullopt : std::optional(peripheralID));
    EXPECT_EQ(copy->retryCount(), 2);
    EXPECT_EQ(copy->beacon(), beacon);
    EXPECT_EQ(copy->didWaitForPeripheral(), row.waited);
    EXPECT_FALSE(copy->didConnect());
    EXPECT_EQ(copy->beaconOperationState(), KSBeaconOperationStateUnknown);
    EXPECT_EQ(copy->opcode(), 16);
    EXPECT_EQ(copy->data(), (Bytes{0x01, 0x02}));
    // The caller's callbacks travel with it: a report of the copy reaches the same caller.
    report->statuses.clear();
    copy->setBeaconOperationState(KSBeaconOperationStateScheduled);
    copy->reportCompletion(std::nullopt);
    EXPECT_EQ(report->statuses, (std::vector<std::string>{"Scheduled"}));
    EXPECT_EQ(report->successes, 1);
    // An operation that waited is never retried by the count; one that did not is, while below it.
    EXPECT_EQ(copy->shouldRetry(), !row.waited);
  }
}

TEST_F(OperationFixture, KeepAliveWritesEachRoundAfterTheAnswerAndStopsAfterTheWriteInFlight) {
  constexpr SimGattServer::Latencies kInstant{.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0, .notification = 0};
  const platform::Uuid id = platform::Uuid::random();
  auto quick = addBeacon(id, kInstant);
  auto statusApp = SimBeaconApplication::install(quick, radio()->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                                 gattUUID(KSCharacteristicUUIDStringIndicator));
  statusApp->setStatusBlock({0x01, 0x02, 0x03});
  statusApp->setStatusDelay(0.05);
  radio()->setDefaultConnectScript({.latencySeconds = 0});
  beacon->setPeripheralIdentifier(id);
  auto operation = TestOperation::make(beacon, id);
  operation->keepAlive = true;
  auto report = schedule(operation);
  advanceTo(0.26);
  // The first 1D right after discovery, then one every 50 ms, each after its answer.
  std::vector<std::int64_t> at;
  for (const auto& t : quick->trace()) {
    if (!t.answer && t.kind == SimGattServer::Kind::Write && t.bytes == Bytes{0x1D}) at.push_back(t.micros / 1000);
  }
  EXPECT_EQ(at, (std::vector<std::int64_t>{0, 50, 100, 150, 200, 250}));
  operation->stopWritingKeepAliveStatus();
  advanceTo(1);
  // The write of 250 ms completes at 300 ms; no seventh round; then the completion.
  EXPECT_EQ(statusApp->statusRequests(), 6);
  EXPECT_EQ(operation->keepAliveCompletions, 1);
  EXPECT_EQ(report->successes, 1);
  // The flag stays: a later start completes at once, writing nothing.
  operation->restartKeepAlive();
  EXPECT_EQ(operation->keepAliveCompletions, 2);
  EXPECT_EQ(statusApp->statusRequests(), 6);
}

// Logs in and streams a file into Control with one of the two stream steps, then succeeds.
class StreamingOperation final : public KSBeaconOperation {
 public:
  struct Token {};
  StreamingOperation(Token, std::shared_ptr<KSBeacon> beacon, platform::Uuid id, std::string path, bool ownProgress)
      : KSBeaconOperation(std::move(beacon), id), path_(std::move(path)), ownProgress_(ownProgress) {}
  std::string_view className() const override { return "StreamingOperation"; }
  void connected() override {
    KSBeaconOperation::connected();
    std::weak_ptr<KSOperation> weak = weak_from_this();
    kestrineLoginAndDiscoverCharacteristics({KSCharacteristicUUIDStringControl}, [weak](const auto&) {
      auto self = std::static_pointer_cast<StreamingOperation>(weak.lock());
      if (!self) return;
      auto control = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
      auto done = [weak] {
        if (auto me = std::static_pointer_cast<StreamingOperation>(weak.lock())) me->succeeded();
      };
      if (!self->ownProgress_) return self->streamFileAtPath(self->path_, control, done, 0.02f);
      self->streamFileAtPath(
          self->path_, control, self->currentService(), 0.02f,
          [weak](const auto&, float p) {
            if (auto me = std::static_pointer_cast<StreamingOperation>(weak.lock())) me->commandProgress.push_back(p);
          },
          [done](const std::shared_ptr<KSPeripheralCommand>& command) {
            EXPECT_NE(std::dynamic_pointer_cast<KSStreamFileDataCommand>(command), nullptr);
            done();
          });
    });
  }
  std::vector<float> commandProgress;

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override { return nullptr; }
  const std::string path_;
  const bool ownProgress_;
};

TEST_F(OperationFixture, TheStreamStepsWriteTheFileInSixteenByteChunksWithProgress) {
  velmora::testing::TempDir dir;
  const auto path = (dir.path() / "image.bin").string();
  Bytes file(2056);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                             static_cast<std::streamsize>(file.size()));
  // Every 1024 bytes (and 0 at the start): the operation's progress in the short form, the
  // caller's own block in the long one.
  const std::vector<float> fractions{0.0f, 1024.0f / 2056.0f, 2048.0f / 2056.0f};
  for (bool ownProgress : {false, true}) {
    SCOPED_TRACE(ownProgress ? "service and progress given" : "current service, operation's progress");
    beacon->setPeripheralIdentifier(peripheralID);
    const std::size_t before = controlWrites().size();
    auto operation = std::make_shared<StreamingOperation>(StreamingOperation::Token{}, beacon, peripheralID, path,
                                                          ownProgress);
    auto report = schedule(operation);
    advanceBy(5);
    ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
    const auto writes = controlWrites();
    ASSERT_EQ(writes.size() - before, 129u);
    Bytes streamed;
    for (std::size_t i = before; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].size(), i + 1 == writes.size() ? 8u : 16u);
      streamed.insert(streamed.end(), writes[i].begin(), writes[i].end());
    }
    EXPECT_EQ(streamed, file);
    EXPECT_EQ(ownProgress ? operation->commandProgress : report->progress, fractions);
    EXPECT_TRUE(ownProgress ? report->progress.empty() : operation->commandProgress.empty());
  }

  // A file that is not there fails the operation with the command's error.
  beacon->setPeripheralIdentifier(peripheralID);
  const std::size_t before = controlWrites().size();
  const auto missing = (dir.path() / "missing.bin").string();
  auto report = schedule(
      std::make_shared<StreamingOperation>(StreamingOperation::Token{}, beacon, peripheralID, missing, false));
  advanceBy(2);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->domain, "com.kestrine.KSStreamFileDataCommand");
  EXPECT_EQ(report->error->localizedDescription, "File not found at path " + missing);
  EXPECT_EQ(controlWrites().size(), before);
}

}  // namespace
}  // namespace velmora::kestrine
