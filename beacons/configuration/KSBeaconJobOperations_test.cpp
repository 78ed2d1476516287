// The jobs a host app sends: data requests, control opcodes and transport requests, each on
// the simulated beacon through the real manager, and the numbers every operation class keeps.
#include <gtest/gtest.h>

#include <functional>

#include "beacons/api/KSApiClient.h"
#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconDataRequestOperation.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "testing/OperationTestSupport.h"
#include "platform/sim/SimTransportEngine.h"
#include "beacons/configuration/KSBeaconEddystoneConfigOperation.h"
#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"
#include "beacons/configuration/KSBeaconSettingsUpdateLegacyOperation.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/model/KSBeaconVersion.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimGattServer;
using platform::sim::SimTransportEngine;
using platform::sim::SimBeaconApplication;
using testsupport::OperationFixture;

platform::Error writeError() { return platform::Error(std::string(platform::bluetooth::gatt::kErrorDomain), 3, "refused"); }

Bytes pattern(std::size_t n, std::uint8_t from = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}

// --- every operation class

// A cloud that has the latest version at once, so the legacy update reaches its connection.
struct VersionAtOnceCloud final : KSSettingsCloud {
  VersionAtOnceCloud() : KSSettingsCloud(nullptr) {}
  void getLatestVersion(const std::shared_ptr<KSBeacon>&, std::function<void(std::shared_ptr<KSBeaconVersion>)> success,
                        Failure) override {
    success(std::make_shared<KSBeaconVersion>());
  }
};

platform::Dict withPasscode() { return {{std::string(KSSettingsUpdateCurrentPasscodeKey), "123456"}}; }

struct ClassRow {
  const char* name;
  std::function<std::shared_ptr<KSBeaconOperation>(std::shared_ptr<KSBeacon>, std::optional<platform::Uuid>)> make;
  double preparing, connecting, connected, disconnecting, waiting, other;
  std::int64_t maxRetries;
  int attemptsWithoutPeripheral;
};

const std::vector<ClassRow>& classRows() {
  static const std::vector<ClassRow> rows{
      {"data request",
       [](auto b, auto id) { return KSBeaconDataRequestOperation::initWithBeacon(b, id, {{0x01}}); },
       10, 5, 10, 10, 11, 15, 0, 1},
      {"transport",
       [](auto b, auto id) { return KSBeaconTransportDataRequestOperation::initWithBeacon(b, id, {0x01}); },
       60, 60, 60, 60, 60, 60, 1, 2},
      {"control",
       [](auto b, auto id) { return KSBeaconControlOperation::initWithBeacon(b, id, KSBeaconOpcodeRestart); },
       10, 5, 10, 10, 11, 15, 3, 4},
      {"settings", [](auto b, auto id) { return KSBeaconSettingsUpdateOperation::initWithBeacon(b, id); },
       30, 5, 30, 60, 11, 15, 0, 1},
      {"legacy settings",
       [](auto b, auto id) {
         auto operation = KSBeaconSettingsUpdateLegacyOperation::initWithBeacon(b, id);
         operation->setCloud(std::make_shared<VersionAtOnceCloud>());
         return operation;
       },
       30, 5, 10, 60, 11, 15, 4, 5},
      {"offline settings",
       [](auto b, auto id) { return KSBeaconSettingsUpdateOfflineOperation::initWithBeacon(b, id, withPasscode()); },
       10, 5, 10, 10, 11, 15, 3, 4},
      {"eddystone config",
       [](auto b, auto id) { return KSBeaconEddystoneConfigOperation::initWithBeacon(b, id, withPasscode()); },
       10, 5, 10, 10, 11, 15, 1, 2},
      {"eddystone read",
       [](auto b, auto id) { return KSBeaconReadSettingsEddystoneOperation::initWithBeacon(b, id, "123456"); },
       10, 5, 10, 10, 11, 15, 0, 1},
      {"firmware",
       [](auto b, auto id) {
         return KSBeaconFirmwareUpdateOperation::initWithBeacon(b, id, "2.0.0", KSApiClient::create("http://127.0.0.1:1/api/"));
       },
       30, 5, 450, 60, 11, 15, 0, 1},
      {"encrypted firmware",
       [](auto b, auto id) {
         return KSBeaconFirmwareEncryptedUpdateOperation::initWithBeacon(b, id, "2.0.0",
                                                                        KSApiClient::create("http://127.0.0.1:1/api/"));
       },
       30, 5, 450, 60, 11, 15, 0, 1},
  };
  return rows;
}

struct EveryOperationClass : OperationFixture, ::testing::WithParamInterface<ClassRow> {};

TEST_P(EveryOperationClass, KeepsItsTimeoutsAndRetries) {
  const auto& row = GetParam();
  auto operation = row.make(beacon, peripheralID);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStatePreparing), row.preparing);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStateConnecting), row.connecting);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStateConnected), row.connected);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStateDisconnecting), row.disconnecting);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStateWaiting), row.waiting);
  EXPECT_EQ(operation->timeoutInSecondsForOperationState(KSBeaconOperationStateScheduled), row.other);
  EXPECT_EQ(operation->maxNumberOfRetries(), row.maxRetries);
}

TEST_P(EveryOperationClass, RetriesAPeripheralTheCentralDoesNotKnowThenReportsOnce) {
  const auto& row = GetParam();
  const platform::Uuid unknown = platform::Uuid::random();
  beacon->setPeripheralIdentifier(unknown);
  auto report = schedule(row.make(beacon, unknown));
  advanceBy(120);
  EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Preparing"), row.attemptsWithoutPeripheral);
  ASSERT_EQ(report->calls(), 1);
  EXPECT_EQ(report->error->localizedDescription, "Peripheral is nil");
  EXPECT_EQ(report->retryCount, row.maxRetries);
}

INSTANTIATE_TEST_SUITE_P(Classes, EveryOperationClass, ::testing::ValuesIn(classRows()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// --- data requests

struct DataRequestTest : OperationFixture {};

TEST_F(DataRequestTest, ThreeRequestsGiveTheirRepliesInOrder) {
  app->setRequestHandler([](const Bytes& request) {
    Bytes reply = request;
    reply.push_back(0xAA);
    return SimBeaconApplication::Answer::send(reply);
  });
  auto operation = KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID,
                                                                {{0x01}, pattern(30, 0x10), {}});
  auto report = schedule(operation);
  bool linkDownAtSuccess = false;
  auto recorded = std::move(report);
  operation->setBeaconOperationCompletionBlockWithSuccess(
      [&](const std::shared_ptr<KSBeaconOperation>& o) {
        ++recorded->successes;
        linkDownAtSuccess = o->peripheral()->state() == platform::bluetooth::PeripheralState::Disconnected;
      },
      [&](const auto&, const platform::Error& e) {
        ++recorded->failures;
        recorded->error = e;
      });
  advanceBy(5);
  ASSERT_EQ(recorded->successes, 1);
  EXPECT_TRUE(linkDownAtSuccess) << "the link is given back before the caller hears";
  Bytes second = pattern(30, 0x10);
  second.push_back(0xAA);
  EXPECT_EQ(operation->responseDataArray(), (std::vector<Bytes>{{0x01, 0xAA}, second, {0xAA}}));
  // An empty request is one packet 13 F0 00.
  EXPECT_EQ(app->requests(), (std::vector<Bytes>{{0x01}, pattern(30, 0x10), {}}));
  EXPECT_EQ(app->controlWrites().back(), (Bytes{0x13, 0xF0, 0x00}));
  const std::vector<std::string> texts(recorded->statuses.begin() + 4, recorded->statuses.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"Requesting Data", "Received data from 1 of 3 requests.",
                                             "Received data from 2 of 3 requests.",
                                             "Received data from 3 of 3 requests.", "Disconnecting", "Succeeded"}));
  EXPECT_EQ(recorded->progress, (std::vector<float>{1.0f / 3.0f, 2.0f / 3.0f, 1.0f}));
  EXPECT_TRUE(login->milkWrites().empty()) << "data requests only discover the service";
}

TEST_F(DataRequestTest, AFailedRequestEndsTheJobAndTheRestAreNeverWritten) {
  server->failNth(SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 2, writeError());
  auto report = schedule(KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID, {{0x01}, {0x02}, {0x03}}));
  advanceBy(5);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, 3);
  EXPECT_EQ(app->requests(), (std::vector<Bytes>{{0x01}}));
  int writes = 0;
  for (const auto& t : server->trace()) writes += !t.answer && t.kind == SimGattServer::Kind::Write;
  EXPECT_EQ(writes, 2) << "the third request is never written";
}

TEST_F(DataRequestTest, CancelDuringTheFirstRequestStopsEverything) {
  app->setRequestHandler(SimBeaconApplication::silent());
  auto operation = KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID, {{0x01}, {0x02}});
  auto report = schedule(operation);
  advanceBy(1);
  ASSERT_EQ(app->requests().size(), 1u);
  const auto writesBefore = server->trace().size();
  operation->cancel();
  app->setRequestHandler(SimBeaconApplication::echo());
  advanceBy(30);
  EXPECT_EQ(report->calls(), 0);
  EXPECT_EQ(app->requests().size(), 1u);
  for (std::size_t i = writesBefore; i < server->trace().size(); ++i) {
    EXPECT_NE(server->trace()[i].kind, SimGattServer::Kind::Write) << "nothing is written after the cancel";
  }
}

TEST_F(DataRequestTest, AnEmptyListFailsAtOnceWithoutConnecting) {
  auto report = schedule(KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID, {}));
  advanceBy(1);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "requestDataArray parameter is required.");
  EXPECT_TRUE(server->trace().empty());
}

// --- control

struct ControlTest : OperationFixture {};

TEST_F(ControlTest, WritesTheOpcodeByteAndItsData) {
  struct Row {
    std::int32_t opcode;
    std::optional<Bytes> data;
    Bytes written;
  };
  for (const Row& row : {Row{11, std::nullopt, {0x0B}}, Row{11, Bytes{}, {0x0B}}, Row{16, Bytes{0x01, 0x02}, {0x10, 0x01, 0x02}},
                         Row{0x1FF, Bytes{0x07}, {0xFF, 0x07}}}) {
    SCOPED_TRACE(row.opcode);
    beacon->setPeripheralIdentifier(peripheralID);
    const auto before = app->controlWrites().size();
    auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, row.opcode, row.data));
    advanceBy(2);
    EXPECT_EQ(report->successes, 1);
    ASSERT_EQ(app->controlWrites().size(), before + 1);
    EXPECT_EQ(app->controlWrites().back(), row.written);
  }
}

TEST_F(ControlTest, LogsInBeforeWritingTheOpcode) {
  auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, 11));
  advanceBy(2);
  ASSERT_EQ(report->successes, 1);
  // Status block read, challenge read, milk written, verdict heard; then the opcode.
  std::vector<std::string> steps;
  for (const auto& t : server->trace()) {
    if (t.answer) continue;
    if (t.kind == SimGattServer::Kind::Read && t.uuid == gattUUID(KSCharacteristicUUIDStringIndicator)) steps.push_back("status");
    if (t.kind == SimGattServer::Kind::Read && t.uuid == gattUUID(KSCharacteristicUUIDStringWater)) steps.push_back("water");
    if (t.kind == SimGattServer::Kind::Write && t.uuid == gattUUID(KSCharacteristicUUIDStringMilk)) steps.push_back("milk");
    if (t.kind == SimGattServer::Kind::Write && t.uuid == gattUUID(KSCharacteristicUUIDStringControl)) steps.push_back("opcode");
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"status", "water", "milk", "opcode"}));
  EXPECT_TRUE(login->loggedIn());
  EXPECT_EQ(cloud->statusPosts.load(), 1);
}

TEST_F(ControlTest, ARefusedLoginIsReportedOnceAndNeverRetried) {
  // Verdicts as the beacon sends them: 00 02 refuses (3009, no retry); an unknown verdict is
  // an ordinary failure after connecting, retried once when the beacon is heard again.
  struct Row {
    Bytes verdict;
    std::int64_t code;
    int connections;
  };
  for (const Row& row : {Row{{0x00, 0x02}, 3009, 1}, Row{{0x03, 0x00}, -1, 2}}) {
    SCOPED_TRACE(row.code);
    const int before = discoveries(*server);
    login->setVerdict(row.verdict);
    beacon->setPeripheralIdentifier(peripheralID);
    auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, 11));
    // The beacon is heard again and again: a retry would find it.
    for (int i = 0; i < 8; ++i) {
      advanceBy(1);
      hear(beacon, peripheralID);
    }
    advanceBy(30);
    ASSERT_EQ(report->calls(), 1);
    ASSERT_EQ(report->failures, 1);
    EXPECT_EQ(report->error->code, row.code);
    EXPECT_EQ(discoveries(*server) - before, row.connections);
  }
  EXPECT_TRUE(app->controlWrites().empty());
}

TEST_F(ControlTest, ARetryWritesTheSameBytesAndErrorsNameTheClass) {
  server->failNth(SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 1, writeError());
  auto operation = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, 16, Bytes{0x01, 0x02});
  auto report = schedule(operation);
  advanceBy(1);
  hear(beacon, peripheralID);
  advanceBy(5);
  ASSERT_EQ(report->successes, 1);
  EXPECT_EQ(report->retryCount, 1);
  std::vector<Bytes> requests;
  for (const auto& t : server->trace()) {
    if (!t.answer && t.kind == SimGattServer::Kind::Write && t.uuid == gattUUID(KSCharacteristicUUIDStringControl)) {
      requests.push_back(t.bytes);
    }
  }
  EXPECT_EQ(requests, (std::vector<Bytes>{{0x10, 0x01, 0x02}, {0x10, 0x01, 0x02}}));
  EXPECT_EQ(login->milkWrites().size(), 2u) << "each attempt logs in before writing";
  EXPECT_EQ(operation->errorWithDescription("x").domain, "com.kestrine.KSBeaconControlOperation");
}

// --- transport

struct TransportTest : OperationFixture {
  std::shared_ptr<SimTransportEngine> engine = SimTransportEngine::create();
  void SetUp() override {
    OperationFixture::SetUp();
    engine->attach(*app);
  }
  std::shared_ptr<KSBeaconTransportDataRequestOperation> operation;
  std::shared_ptr<testsupport::Report> run(Bytes request, double seconds = 10) {
    operation = KSBeaconTransportDataRequestOperation::initWithBeacon(beacon, peripheralID, std::move(request));
    auto report = schedule(operation);
    advanceBy(seconds);
    return report;
  }
  std::vector<std::string> transferTexts(const testsupport::Report& r) const {
    std::vector<std::string> out;
    for (const auto& s : r.statuses) {
      if (s != "Scheduled" && s != "Preparing" && s != "Connecting" && s != "Connected" && s != "Disconnecting" &&
          s != "Succeeded" && s != "Failed") {
        out.push_back(s);
      }
    }
    return out;
  }
};

TEST_F(TransportTest, ALongRequestAndItsReplyTravelAsPackets) {
  engine->setReplyHandler([](const Bytes&) { return pattern(300, 0x40); });
  auto report = run(pattern(600));
  ASSERT_EQ(report->successes, 1);
  EXPECT_EQ(operation->responseData(), pattern(300, 0x40));
  EXPECT_EQ(engine->requests(), (std::vector<Bytes>{pattern(600)}));
  EXPECT_EQ(transferTexts(*report), (std::vector<std::string>{"Requesting Data", "3 packets remaining",
                                                              "2 packets remaining", "Received 1 Packet(s)"}));
}

TEST_F(TransportTest, ABadCrcIsNackedAndTheRetransmissionKept) {
  struct Row {
    const char* name;
    SimTransportEngine::Fault fault;
  };
  for (const Row& row : {Row{"first reply packet", SimTransportEngine::Fault::CorruptCrcOnce},
                         Row{"last reply packet", SimTransportEngine::Fault::CorruptLastCrcOnce}}) {
    SCOPED_TRACE(row.name);
    beacon->setPeripheralIdentifier(peripheralID);
    engine->setReplyHandler([](const Bytes&) { return pattern(300, 0x40); });
    engine->setFault(row.fault);
    const auto receivedBefore = engine->received().size();
    auto report = run({0x61, 0x62, 0x63});
    ASSERT_EQ(report->successes, 1);
    EXPECT_EQ(operation->responseData(), pattern(300, 0x40)) << "the corrupt payload is not kept";
    const auto received = engine->received();
    const std::vector<Bytes> phone(received.begin() + static_cast<std::ptrdiff_t>(receivedBefore), received.end());
    EXPECT_EQ(std::count(phone.begin(), phone.end(), (Bytes{0x00, 0x01, 0x00, 0x00, 0x51, 0xC0})), 1);
  }
}

TEST_F(TransportTest, BeaconFaultsEndTheTransfer) {
  struct Row {
    const char* name;
    SimTransportEngine::Fault fault;
    const char* message;
  };
  for (const Row& row : {Row{"nack", SimTransportEngine::Fault::Nack, "Connection NACK'ED"},
                         Row{"error", SimTransportEngine::Fault::Error, "Connection Error"},
                         Row{"unknown ctrl", SimTransportEngine::Fault::UnknownCtrl, "Unrecognized Packet"},
                         Row{"short packet", SimTransportEngine::Fault::ShortPacket, "Unrecognized Packet"},
                         Row{"data while requesting", SimTransportEngine::Fault::DataWhileRequesting,
                             "Unrecognized Packet"}}) {
    SCOPED_TRACE(row.name);
    beacon->setPeripheralIdentifier(peripheralID);
    engine->setFault(row.fault);
    auto op = KSBeaconTransportDataRequestOperation::initWithBeacon(beacon, peripheralID, pattern(300));
    op->setRetryCount(1);  // its one retry used up: the first failure is the report
    auto report = schedule(op);
    advanceBy(10);
    ASSERT_EQ(report->failures, 1);
    EXPECT_EQ(report->error->localizedDescription, row.message);
    EXPECT_EQ(report->error->domain, "com.kestrine.KSBeaconTransportDataRequestOperation");
    EXPECT_EQ(op->peripheral()->state(), platform::bluetooth::PeripheralState::Disconnected);
  }
}

TEST_F(TransportTest, ANackedTransferIsRetriedOnceTheBeaconIsHeardAgain) {
  engine->setFault(SimTransportEngine::Fault::Nack);
  engine->setReplyHandler([](const Bytes&) { return Bytes{0x4F, 0x4B}; });
  auto report = run({0x01}, 1);
  EXPECT_EQ(report->calls(), 0);
  hear(beacon, peripheralID);
  advanceBy(5);
  ASSERT_EQ(report->successes, 1);
  EXPECT_EQ(report->retryCount, 1);
  EXPECT_EQ(discoveries(*server), 2);
}

TEST_F(TransportTest, SilenceTimesOutSixtySecondsAfterConnectedAndIsNotRetried) {
  engine->setFault(SimTransportEngine::Fault::Silence);
  auto report = run({0x01}, 59);
  EXPECT_EQ(report->calls(), 0);
  advanceBy(30);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Beacon operation did timeout.");
  EXPECT_NEAR(report->at, 60.05, 0.2);
  EXPECT_TRUE(operation->didTimeoutWhenConnected());
  EXPECT_EQ(discoveries(*server), 1);
}

}  // namespace
}  // namespace velmora::kestrine
