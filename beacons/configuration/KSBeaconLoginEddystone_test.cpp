#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "platform/crypto/Digest.h"
#include "testing/LoginTestSupport.h"

namespace velmora::kestrine::testsupport {
namespace {

using platform::sim::SimEddystoneLock;

const Bytes kChallenge = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

struct EddystoneLoginTest : GattFixture {
  const Bytes passcode = md5Passcode("123456");
  std::shared_ptr<SimEddystoneLock> lock;

  void connectLock(const Bytes& beaconPasscode, bool locked, bool unlock = true) {
    connect({makerService(), eddystoneService(unlock)});
    lock = SimEddystoneLock::install(link->server,
                                     {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)},
                                     beaconPasscode, locked);
    lock->setChallenge(kChallenge);
  }
  Outcome login(std::optional<Bytes> with) {
    return run(KSBeaconLoginEddystoneCommand::create(nullptr, link->peripheral, commandQueue, std::move(with)));
  }
  bool unlockRead() const {
    for (const auto& t : link->server->trace()) {
      if (t.uuid == gattUUID(ESCharacteristicUUIDStringUnlock) && t.kind == SimGattServer::Kind::Read) return true;
    }
    return false;
  }
};

TEST_F(EddystoneLoginTest, LockStatesTable) {
  struct Row {
    const char* name;
    std::optional<Bytes> lockState;  // a value put in place of the lock's own
    bool rightPasscode;
    bool givePasscode;
    std::optional<std::string> error;
    std::int64_t code;
    bool answered;
  };
  const Row rows[] = {
      {"unlocked 01", Bytes{0x01}, true, true, {}, 0, false},
      {"unlocked 02", Bytes{0x02, 0x09}, true, true, {}, 0, false},
      {"right passcode", {}, true, true, {}, 0, true},
      {"wrong passcode", {}, false, true, "Incorrect Passcode", 3009, true},
      {"state 03", Bytes{0x03}, true, true, "Unrecognized Lock State", -1, false},
      {"empty state", Bytes{}, true, true, "Unrecognized Lock State", -1, false},
      {"no passcode", {}, true, false, "Passcode Required", 3009, false},
      {"short passcode", {}, true, true, "Passcode Required", 3009, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    connectLock(row.rightPasscode ? passcode : md5Passcode("654321"), true);
    if (row.lockState) lock->setLockStateValue(*row.lockState);
    std::optional<Bytes> given;
    if (row.givePasscode) given = std::string_view(row.name) == "short passcode" ? Bytes(15, 1) : passcode;
    const Outcome outcome = login(given);
    ASSERT_EQ(outcome.calls, 1);
    if (row.error) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->localizedDescription, *row.error);
      EXPECT_EQ(outcome.error->code, row.code);
      EXPECT_EQ(outcome.error->domain, "com.kestrine.KSBeaconLoginEddystoneCommand");
    } else {
      EXPECT_FALSE(outcome.error) << outcome.error->localizedDescription;
    }
    EXPECT_EQ(unlockRead(), row.answered);
    if (row.answered) {
      ASSERT_EQ(lock->answers().size(), 1u);
      EXPECT_EQ(platform::describeBytes(lock->answers()[0]), "<ed7eec10 20f6b303 2d1d3044 b17121e7>");
    } else {
      EXPECT_TRUE(lock->answers().empty());
    }
    link.reset();
  }
}

TEST_F(EddystoneLoginTest, MissingCharacteristicsAndStepFailures) {
  connectLock(passcode, true, false);
  Outcome outcome = login(passcode);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->localizedDescription, "Missing Eddystone Characteristics");
  EXPECT_EQ(outcome.error->code, 3009);
  link.reset();

  connect({makerService()});
  outcome = login(passcode);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->localizedDescription, "KSDiscoverEddystoneServiceCommand Service missing.");
  link.reset();

  // A failed Unlock write ends the login with the write's error.
  connectLock(passcode, true);
  link->server->failNth(SimGattServer::Kind::Write, gattUUID(ESCharacteristicUUIDStringUnlock), 1,
                        platform::Error("CBATTErrorDomain", 3, "Writing is not permitted."));
  outcome = login(passcode);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, 3);
  EXPECT_TRUE(lock->locked());
}

// A cancelled login takes no further step, whatever the beacon still sends.
TEST_F(EddystoneLoginTest, CancelStopsTheSteps) {
  connectLock(passcode, true);
  auto command = KSBeaconLoginEddystoneCommand::create(nullptr, link->peripheral, commandQueue, passcode);
  Outcome outcome;
  start(command, outcome);
  scheduler->advanceBy(0.012);
  command->cancel();
  scheduler->advanceBy(5);
  EXPECT_EQ(outcome.calls, 0);
  EXPECT_TRUE(lock->answers().empty());
}

}  // namespace
}  // namespace velmora::kestrine::testsupport
