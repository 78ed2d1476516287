#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "platform/crypto/Base64.h"
#include "testing/HexBytes.h"
#include "testing/LoginTestSupport.h"

namespace velmora::kestrine::testsupport {
namespace {

using platform::describeBytes;

Bytes hex(std::string_view text) { return velmora::testing::hexBytes(text); }

struct MakerLoginTest : LoginFixture {};

// Water value → milk written, status post, outcome. The beacon checks the milk with the
// phone's own computation (random bytes fixed to A5) and answers 00 01 when it matches.
TEST_F(MakerLoginTest, WaterFormsTable) {
  struct Row {
    const char* name;
    Bytes water;
    bool withPasscode;
    std::optional<Bytes> milk;  // nullopt: nothing written
    bool indicatorRead;
    bool statusPosted;
    bool verdictAwaited;
    std::uint16_t loginResult;
    std::optional<std::string> error;
    std::int64_t code = -1;
  };
  const Bytes zeros19(19, 0);
  const Row rows[] = {
      {"legacy", hex("00 34 12 00"), false, hex("A5 1A 09 A5"), true, false, false, 0, {}},
      {"type 1", hex("01 03 AA BB CC"), false, hex("A5 5D E6 A5"), true, true, true, 1, {}},
      {"type 0 over the header", hex("00 03 AA BB CC"), false, hex("A5 01 D5 A5"), true, true, true, 1, {}},
      {"type 4 as type 1", hex("04 03 AA BB CC"), false, hex("A5 5D E6 A5"), true, true, true, 1, {}},
      {"length byte off", hex("01 04 AA BB CC"), false, {}, true, false, false, 0,
       "Water length does not match length in header"},
      {"19 bytes", zeros19, false, hex("A5 00 00 A5"), true, true, true, 1, {}},
      {"3 bytes", hex("01 02 03"), false, hex("A5 00 00 A5"), true, true, true, 1, {}},
      {"8 bytes with passcode", hex("01 02 03 04 05 06 07 08"), true, hex("E4 9F FB 3D CC DC DD 7D"), false, false, true,
       1, {}},
      {"type 2 with passcode", hex("02 05 A1 A2 A3 A4 A5"), true, hex("AF 65 52 93 C2 F2 3A 70"), false, false, true, 1,
       {}},
      {"type 2 without passcode", hex("02 05 A1 A2 A3 A4 A5"), false, {}, true, false, false, 0,
       "KSBeaconAuthLoginCommand Passcode Required", 3009},
      {"8 bytes without passcode", hex("01 02 03 04 05 06 07 08"), false, {}, true, false, false, 0,
       "KSBeaconAuthLoginCommand Passcode Required", 3009},
      {"type 3 without status", hex("03 03 AA BB CC"), true, {}, false, false, false, 0,
       "Security type not recognized or not valid"},
      {"type 5", hex("05 03 AA BB CC"), false, {}, true, false, false, 0, "Security type not recognized or not valid"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    world->cloud.clearLog();
    const std::size_t reportsBefore = world->cloud.statusReports().size();
    connectMaker();
    responder->setWater(row.water);
    auto login = makeLogin(row.withPasscode ? std::optional<Bytes>(passcode) : std::nullopt);
    const Outcome outcome = runToEnd(login);
    ASSERT_EQ(outcome.calls, 1);
    if (row.error) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->localizedDescription, *row.error);
      EXPECT_EQ(outcome.error->code, row.code);
      EXPECT_EQ(outcome.error->domain, row.code == 3009 ? "com.kestrine.KSBeaconLoginCommand"
                                                        : "com.kestrine.KSBeaconAuthLoginCommand");
    } else {
      EXPECT_FALSE(outcome.error) << outcome.error->localizedDescription;
    }
    const auto milks = responder->milkWrites();
    if (row.milk) {
      ASSERT_EQ(milks.size(), 1u);
      EXPECT_EQ(describeBytes(milks[0]), describeBytes(*row.milk));
    } else {
      EXPECT_TRUE(milks.empty());
    }
    EXPECT_EQ(readOf(KSCharacteristicUUIDStringIndicator), row.indicatorRead);
    EXPECT_EQ(login->loginResult(), row.loginResult);
    const auto trace = link->server->trace();
    const bool switched =
        std::any_of(trace.begin(), trace.end(), [](const auto& t) { return t.kind == SimGattServer::Kind::NotifySwitch; });
    EXPECT_EQ(switched, row.verdictAwaited);
    if (row.statusPosted) {
      // The post, then the record's refresh, while nothing waits for them.
      ASSERT_TRUE(world->drainUntil([&] { return world->cloud.hits("GET", "beacons/b-1") == 1; }, 3600));
      ASSERT_EQ(world->cloud.statusReports().size(), reportsBefore + 1);
      EXPECT_EQ(world->cloud.statusReports().back(), statusBlock);
    } else {
      EXPECT_EQ(world->cloud.hits("PUT", "beacons/b-1/versions/confirm"), 0u);
    }
    login.reset();
    link.reset();
  }
}

// The beacon's verdict after a type-1 answer.
TEST_F(MakerLoginTest, VerdictTable) {
  struct Row {
    Bytes verdict;
    std::uint16_t loginResult;
    std::optional<std::string> error;
    std::int64_t code;
  };
  const Row rows[] = {
      {hex("00 01"), 1, {}, 0},
      {hex("00 03 FF"), 3, {}, 0},
      {hex("00 02"), 2, "KSBeaconAuthLoginCommand Failed Login", 3009},
      {hex("03 00"), 0x0300, "KSBeaconAuthLoginCommand Unrecognized Response", -1},
      {hex("01"), 0, "KSBeaconAuthLoginCommand Unrecognized Response", -1},
      {{}, 0, "KSBeaconAuthLoginCommand Unrecognized Response", -1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(describeBytes(row.verdict));
    connectMaker();
    responder->setWater(hex("01 03 AA BB CC"));
    responder->setVerdict(row.verdict);
    auto login = makeLogin();
    const Outcome outcome = runToEnd(login);
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_EQ(login->loginResult(), row.loginResult);
    if (row.error) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->localizedDescription, *row.error);
      EXPECT_EQ(outcome.error->code, row.code);
    } else {
      EXPECT_FALSE(outcome.error);
    }
    login.reset();
    link.reset();
  }
}

TEST_F(MakerLoginTest, MissingCharacteristicsAndEmptyStatus) {
  {
    SCOPED_TRACE("no Milk");
    connect({makerLoginService(true, false)});
    const Outcome outcome = runToEnd(makeLogin());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->localizedDescription,
              "KSBeaconAuthLoginCommand Requires Indicate, Water and Milk Characteristics");
    EXPECT_EQ(outcome.error->code, -1);
    link.reset();
  }
  {
    SCOPED_TRACE("no maker service");
    connect({eddystoneService()});
    const Outcome outcome = runToEnd(makeLogin());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->localizedDescription, "KSDiscoverKestrineService Kestrine Service missing.");
    link.reset();
  }
  {
    SCOPED_TRACE("no Indicator: no status, no verdict to wait for beyond the write");
    connect({makerLoginService(false, true)});
    responder = platform::sim::SimLoginResponder::install(
        link->server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
                       gattUUID(KSCharacteristicUUIDStringIndicator)});
    responder->setWater(hex("00 34 12 00"));
    const Outcome outcome = runToEnd(makeLogin());
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(responder->milkWrites().size(), 1u);
    link.reset();
  }
  {
    SCOPED_TRACE("empty status block: no post");
    connectMaker();
    responder->setStatusBlock({});
    responder->setWater(hex("01 03 AA BB CC"));
    const Outcome outcome = runToEnd(makeLogin());
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(world->cloud.hits("PUT", "beacons/b-1/versions/confirm"), 0u);
    link.reset();
  }
}

// The cloud's answer: the payload and status go up as base64, the decoded "milk" is written.
TEST_F(MakerLoginTest, CloudAnswerIsFetchedAndWritten) {
  connectMaker();
  responder->setWater(hex("03 04 10 20 30 40"));
  auto login = makeLogin();
  const Outcome outcome = runToEnd(login);
  EXPECT_FALSE(outcome.error) << outcome.error->localizedDescription;
  EXPECT_EQ(login->loginResult(), 1);
  ASSERT_EQ(responder->milkWrites().size(), 1u);
  EXPECT_EQ(responder->milkWrites()[0], platform::sim::SimLoginResponder::cloudAnswer(cloudSecret, hex("10 20 30 40")));
  auto log = world->cloud.log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].path, "/api/beacons/b-1/milk");
  EXPECT_EQ(log[0].query, (std::map<std::string, std::string>{{"water", "ECAwQA=="},
                                                               {"status", platform::crypto::base64Encode(statusBlock)}}));
  EXPECT_EQ(log[0].header("X-Api-Version"), "3");
  EXPECT_EQ(log[0].header("Authorization"), "Kestrine dG9r");
  EXPECT_EQ(log[0].header("X-KS-InstallationID"), "install-1");
  EXPECT_EQ(log[0].header("X-KS-SDKVersion"), "2.1.0");
  EXPECT_EQ(world->cloud.hits("PUT", "beacons/b-1/versions/confirm"), 0u);
}

TEST_F(MakerLoginTest, CloudFailuresEndTheLogin) {
  using Fault = velmora::testing::BeaconCloudFake::Fault;
  const std::vector<std::pair<const char*, Fault>> faults = {
      {"500", Fault{.status = 500}},
      {"reset", Fault{.kind = Fault::Kind::Reset}},
      {"not JSON", Fault{.kind = Fault::Kind::Garbage}},
  };
  for (const auto& [name, fault] : faults) {
    SCOPED_TRACE(name);
    world->cloud.setFault("GET", "beacons/b-1/milk", fault);
    connectMaker();
    responder->setWater(hex("03 03 AA BB CC"));
    const Outcome outcome = runToEnd(makeLogin());
    ASSERT_EQ(outcome.calls, 1);
    EXPECT_TRUE(outcome.error);
    EXPECT_TRUE(responder->milkWrites().empty());
    world->cloud.clearFaults();
    link.reset();
  }
  // A reply without a base64 "milk" ends the login at once.
  for (const auto& reply : {platform::Value::makeDict({{"other", "x"}}), platform::Value::makeDict({{"milk", "@@"}}),
                            platform::Value::makeDict({{"milk", 12}})}) {
    world->cloud.setWriteReply("GET", "beacons/b-1/milk", 200, reply);
    connectMaker();
    responder->setWater(hex("03 03 AA BB CC"));
    const Outcome outcome = runToEnd(makeLogin());
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->localizedDescription, "KSBeaconAuthLoginCommand Milk Missing");
    EXPECT_TRUE(responder->milkWrites().empty());
    link.reset();
  }
}

// The status confirmation on the wire: escaped so that the cloud decodes the exact base64
// text, empty parameters as the body, then the record's refresh.
TEST_F(MakerLoginTest, StatusPostOnTheWire) {
  connectMaker();
  responder->setWater(hex("01 03 AA BB CC"));
  ASSERT_FALSE(runToEnd(makeLogin()).error);
  ASSERT_TRUE(world->drainUntil([&] { return world->cloud.hits("GET", "beacons/b-1") == 1; }, 3600));
  auto log = world->cloud.log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].method, "PUT");
  EXPECT_EQ(log[0].rawTarget, "/api/beacons/b-1/versions/confirm?status=%2B/%2B/AAAAAAAAAAAAAAAAAAAAAAA%3D");
  EXPECT_EQ(log[0].body, "{}");
  EXPECT_EQ(log[0].header("X-KS-InstallationID"), "install-1");
  EXPECT_EQ(log[0].header("Authorization"), "Kestrine dG9r");
  EXPECT_EQ(log[1].method, "GET");
  link.reset();

  // 49 bytes make two base64 lines.
  world->cloud.clearLog();
  const Bytes longStatus(49, 0x07);
  EXPECT_EQ(KSBeaconConfigurationCloud::statusConfirmationPath("b-1", longStatus).find("%0D%0A"), 36u + 64u);
  connectMaker();
  responder->setStatusBlock(longStatus);
  responder->setWater(hex("01 03 AA BB CC"));
  ASSERT_FALSE(runToEnd(makeLogin()).error);
  ASSERT_TRUE(world->drainUntil([&] { return world->cloud.hits("GET", "beacons/b-1") == 1; }, 3600));
  EXPECT_EQ(world->cloud.statusReports().back(), longStatus);
  EXPECT_NE(world->cloud.log()[0].rawTarget.find("%0D%0A"), std::string::npos);
  link.reset();
}

TEST_F(MakerLoginTest, FailingStatusPostChangesNothing) {
  world->cloud.setFault("PUT", "beacons/b-1/versions/confirm", {.status = 503});
  connectMaker();
  responder->setWater(hex("01 03 AA BB CC"));
  auto login = makeLogin();
  const Outcome outcome = runToEnd(login);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(login->loginResult(), 1);
  ASSERT_TRUE(world->drainUntil([&] { return world->cloud.hits("PUT", "beacons/b-1/versions/confirm") == 1; }, 3600));
  world->drain();
  EXPECT_EQ(world->cloud.hits("GET", "beacons/b-1"), 0u);
}

// A milk reply that comes after the login was cancelled is dropped: nothing is written.
TEST_F(MakerLoginTest, MilkReplyAfterTheEndIsIgnored) {
  world->cloud.setFault("GET", "beacons/b-1/milk", {.kind = velmora::testing::BeaconCloudFake::Fault::Kind::Hold});
  connectMaker();
  responder->setWater(hex("03 03 AA BB CC"));
  auto login = makeLogin();
  Outcome outcome;
  start(login, outcome);
  ASSERT_TRUE(world->drainUntil([&] { return world->cloud.hits("GET", "beacons/b-1/milk") == 1; }, 3600));
  login->cancel();
  world->cloud.releaseHeld();
  world->drainUntil([&] { return false; }, 5);
  EXPECT_EQ(outcome.calls, 0);
  EXPECT_TRUE(responder->milkWrites().empty());
}

}  // namespace
}  // namespace velmora::kestrine::testsupport
