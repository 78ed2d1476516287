// The operation manager on the simulated radio with the real central client: one operation at
// a time, region monitoring, waiting for identifiers, put-aside operations, central events,
// retries and the reports the caller gets.
#include "beacons/configuration/KSBeaconOperationManager.h"

#include <gtest/gtest.h>

#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconDataRequestOperation.h"
#include "testing/OperationTestSupport.h"
#include "platform/bluetooth/Peripheral.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimGattServer;
using platform::sim::SimBeaconApplication;
using testsupport::OperationFixture;
using testsupport::TestOperation;

platform::Error linkError() { return platform::bluetooth::gatt::makeError(platform::bluetooth::gatt::kConnectionLost, "lost"); }
platform::Error writeError() { return platform::Error(std::string(platform::bluetooth::gatt::kErrorDomain), 3, "refused"); }

// Control writes the beacon's server saw, refused ones included.
std::vector<Bytes> controlRequests(const SimGattServer& server) {
  std::vector<Bytes> out;
  for (const auto& t : server.trace()) {
    if (!t.answer && t.kind == SimGattServer::Kind::Write && t.uuid == gattUUID(KSCharacteristicUUIDStringControl)) {
      out.push_back(t.bytes);
    }
  }
  return out;
}

struct ManagerTest : OperationFixture {};

TEST_F(ManagerTest, OperationsRunOneAfterTheOtherWithMonitoringOffMeanwhile) {
  auto other = std::make_shared<KSBeacon>();
  const platform::Uuid otherID = platform::Uuid::random();
  auto otherServer = addBeacon(otherID);
  other->setPeripheralIdentifier(otherID);
  auto first = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart));
  auto second = schedule(KSBeaconControlOperation::initWithBeacon(other, otherID, KSBeaconOpcodeReset));
  central->world.runUntilIdle();
  EXPECT_EQ(monitoring->changes(), (std::vector<bool>{false}));
  EXPECT_TRUE(manager->needsBeaconRegionMonitoringAndPeripheralScanningDisabled());
  advanceBy(2);
  ASSERT_EQ(first->successes, 1);
  ASSERT_EQ(second->successes, 1);
  // The second beacon hears nothing before the first job has reported.
  ASSERT_FALSE(otherServer->trace().empty());
  EXPECT_GE(static_cast<double>(otherServer->trace().front().micros) / 1e6, first->at);
  EXPECT_EQ(monitoring->changes(), (std::vector<bool>{false, true}));
  EXPECT_FALSE(manager->needsBeaconRegionMonitoringAndPeripheralScanningDisabled());
}

TEST_F(ManagerTest, MonitoringThatWasOffStaysOff) {
  monitoring->setBeaconRegionMonitoringEnabled(false);
  auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart));
  advanceBy(2);
  EXPECT_EQ(report->successes, 1);
  EXPECT_EQ(monitoring->changes(), (std::vector<bool>{false}));
}

TEST_F(ManagerTest, WithoutAnIdentifierTheOperationWaitsThenTimesOutOnce) {
  struct Row {
    const char* name;
    bool secure;
    double expiry;
  };
  for (const Row& row : {Row{"no mode", false, 11}, Row{"secure", true, 5}}) {
    SCOPED_TRACE(row.name);
    auto waiting = std::make_shared<KSBeacon>();
    if (row.secure) {
      auto mode = std::make_shared<KSBeaconMode>();
      mode->setBeaconModeID(KSBeaconModeIDSecure);
      waiting->setBeaconMode(mode);
    }
    const double start = now();
    auto operation = KSBeaconControlOperation::initWithBeacon(waiting, std::nullopt, KSBeaconOpcodeRestart);
    auto report = schedule(operation);
    central->world.runUntilIdle();
    EXPECT_EQ(operation->beaconOperationState(), KSBeaconOperationStateWaiting);
    EXPECT_EQ(manager->pendingBeaconOperations().size(), 1u);
    advanceBy(row.expiry - 0.1);
    EXPECT_EQ(report->calls(), 0);
    advanceBy(30);
    ASSERT_EQ(report->failures, 1);
    EXPECT_NEAR(report->at - start, row.expiry, 0.15);
    EXPECT_EQ(report->error->localizedDescription, "Beacon operation did timeout.");
    EXPECT_EQ(report->retryCount, 0);  // it waited: never retried
    EXPECT_TRUE(manager->pendingBeaconOperations().empty());
  }
  EXPECT_TRUE(server->trace().empty());
}

TEST_F(ManagerTest, AConnectThatNeverCompletesIsPutAsideForANewIdentifier) {
  radio()->setConnectScript(peripheralID, {.latencySeconds = 1000});
  const platform::Uuid fresh = platform::Uuid::random();
  auto freshServer = addBeacon(fresh);
  for (bool heard : {true, false}) {
    SCOPED_TRACE(heard ? "heard again at 8 s" : "never heard again");
    beacon->setPeripheralIdentifier(peripheralID);
    const double start = now();
    auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart));
    advanceBy(5.2);
    EXPECT_EQ(report->calls(), 0) << "put aside unreported at 5 s";
    ASSERT_EQ(manager->pendingBeaconOperations().size(), 1u);
    EXPECT_EQ(manager->pendingBeaconOperations().front()->beaconOperationState(), KSBeaconOperationStateWaiting);
    const int connectionsBefore = discoveries(*freshServer);
    if (heard) {
      advanceTo(start + 8);
      hear(beacon, fresh);
      advanceBy(2);
      EXPECT_EQ(report->successes, 1);
      EXPECT_EQ(report->failures, 0);
      EXPECT_EQ(discoveries(*freshServer), connectionsBefore + 1);
    } else {
      advanceTo(start + 30);
      ASSERT_EQ(report->failures, 1);
      EXPECT_NEAR(report->at - start, 16, 0.3);  // 5 s connecting, then 11 s waiting
      EXPECT_EQ(report->error->localizedDescription, "Beacon operation did timeout.");
      EXPECT_EQ(discoveries(*freshServer), connectionsBefore);
    }
    EXPECT_TRUE(manager->pendingBeaconOperations().empty());
  }
}

TEST_F(ManagerTest, AnIdentifierChangeReplacesAQueuedOperationButNotAConnectedOne) {
  // The first job is slow: its write is answered after a second.
  const platform::Uuid slowID = platform::Uuid::random();
  auto slow = addBeacon(slowID, SimGattServer::Latencies{.write = 1});
  auto slowBeacon = std::make_shared<KSBeacon>();
  slowBeacon->setPeripheralIdentifier(slowID);
  auto running = KSBeaconControlOperation::initWithBeacon(slowBeacon, slowID, KSBeaconOpcodeRestart);
  auto runningReport = schedule(running);
  auto queued = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeReset);
  queued->setRetryCount(1);
  auto queuedReport = schedule(queued);
  advanceBy(0.5);
  ASSERT_EQ(running->beaconOperationState(), KSBeaconOperationStateConnected);
  ASSERT_EQ(queued->beaconOperationState(), KSBeaconOperationStateScheduled);

  const platform::Uuid moved = platform::Uuid::random();
  auto movedServer = addBeacon(moved);
  hear(beacon, moved);                             // the queued one: replaced
  hear(slowBeacon, platform::Uuid::random());      // the connected one: ignored
  advanceBy(3);
  EXPECT_EQ(runningReport->successes, 1);
  EXPECT_EQ(queued->beaconOperationState(), KSBeaconOperationStateCanceled);
  EXPECT_TRUE(server->trace().empty()) << "the replaced operation never connects";
  EXPECT_EQ(discoveries(*movedServer), 1);
  EXPECT_EQ(queuedReport->successes, 1);
  EXPECT_EQ(queuedReport->retryCount, 1);
  EXPECT_EQ(discoveries(*slow), 1);
}

TEST_F(ManagerTest, ACancelledQueuedOperationNeverConnects) {
  auto slowBeacon = std::make_shared<KSBeacon>();
  const platform::Uuid slowID = platform::Uuid::random();
  addBeacon(slowID, SimGattServer::Latencies{.write = 1});
  slowBeacon->setPeripheralIdentifier(slowID);
  auto runningReport = schedule(KSBeaconControlOperation::initWithBeacon(slowBeacon, slowID, KSBeaconOpcodeRestart));
  auto queued = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeReset);
  auto queuedReport = schedule(queued);
  advanceBy(0.5);
  queued->cancel();
  advanceBy(3);
  EXPECT_EQ(runningReport->successes, 1);
  EXPECT_EQ(queuedReport->calls(), 0);
  EXPECT_TRUE(server->trace().empty());
}

TEST_F(ManagerTest, AConnectNobodyAskedForIsCancelled) {
  auto peripheral = central->client->retrievePeripheralWithIdentifier(peripheralID);
  ASSERT_TRUE(peripheral);
  central->client->connectPeripheral(peripheral);
  advanceBy(0.2);
  EXPECT_EQ(peripheral->state(), platform::bluetooth::PeripheralState::Disconnected);
}

TEST_F(ManagerTest, ADisconnectWhileDisconnectingChangesNothing) {
  auto operation = TestOperation::make(beacon, peripheralID);
  operation->disconnectAndWait = true;
  auto report = schedule(operation);
  advanceBy(1);
  // The link is down; the operation still owns the peripheral and waits in Disconnecting.
  EXPECT_EQ(operation->beaconOperationState(), KSBeaconOperationStateDisconnecting);
  EXPECT_TRUE(manager->isOperationExecutingForPeripheralIdentifier(peripheralID));
  EXPECT_EQ(report->calls(), 0);
}

TEST_F(ManagerTest, AnUnexpectedDisconnectWithoutErrorFails) {
  app->setRequestHandler(SimBeaconApplication::silent());
  auto report = schedule(KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID, {{0x01}}));
  advanceBy(1);
  central->client->cancelPeripheralConnection(central->client->retrievePeripheralWithIdentifier(peripheralID));
  advanceBy(1);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->localizedDescription, "Unexpected disconnect from peripheral");
  EXPECT_EQ(report->error->domain, "com.kestrine.KSBeaconDataRequestOperation");
}

TEST_F(ManagerTest, ALinkLostWithAnErrorRetriesOnceTheBeaconIsHeardAgain) {
  auto slow = addBeacon(peripheralID, SimGattServer::Latencies{.write = 2});
  auto slowApp = SimBeaconApplication::install(slow, radio()->timeline(), gattUUID(KSCharacteristicUUIDStringControl),
                                               gattUUID(KSCharacteristicUUIDStringIndicator));
  auto operation = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart);
  auto report = schedule(operation);
  // Logged in (the Milk write takes 2 s), the 0B write is in flight when the link drops.
  advanceBy(3);
  ASSERT_EQ(slowApp->controlWrites(), (std::vector<Bytes>{{0x0B}}));
  radio()->dropConnections(peripheralID, linkError());
  advanceBy(1);
  EXPECT_EQ(report->calls(), 0);
  EXPECT_EQ(operation->beaconOperationState(), KSBeaconOperationStateCanceled);
  ASSERT_EQ(manager->pendingBeaconOperations().size(), 1u);
  EXPECT_EQ(manager->pendingBeaconOperations().front()->retryCount(), 1);
  EXPECT_FALSE(beacon->peripheralIdentifier());
  hear(beacon, peripheralID);
  advanceBy(8);
  EXPECT_EQ(report->successes, 1);
  EXPECT_EQ(report->failures, 0);
  EXPECT_EQ(report->retryCount, 1);
  EXPECT_EQ(slowApp->controlWrites(), (std::vector<Bytes>{{0x0B}, {0x0B}}));
}

TEST_F(ManagerTest, AJobThatFailedAfterConnectingIsRetriedAtMostOnce) {
  for (int i = 0; i < 10; ++i) server->failNth(SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 1, writeError());
  auto report = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart));
  advanceBy(1);
  EXPECT_EQ(report->calls(), 0);
  hear(beacon, peripheralID);
  advanceBy(30);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(report->error->code, 3);
  EXPECT_EQ(discoveries(*server), 2);
  EXPECT_EQ(controlRequests(*server).size(), 2u);
}

// --- mends

TEST_F(ManagerTest, AFailedConnectionAttemptReportsThePlatformErrorOnceAndEnds) {
  const platform::Error refused("com.example.radio", 14, "Peer removed pairing information");
  radio()->setConnectScript(peripheralID, {.latencySeconds = 0.1, .failure = refused});
  auto operation = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart);
  auto report = schedule(operation);
  advanceBy(0.5);
  ASSERT_EQ(report->failures, 1);
  EXPECT_EQ(*report->error, refused);
  EXPECT_NEAR(report->at, 0.1, 0.01);
  // Over at once: not left Connecting for its timer, never put aside or run again.
  EXPECT_EQ(operation->beaconOperationState(), KSBeaconOperationStateFailed);
  EXPECT_TRUE(operation->isFinished());
  const auto statuses = report->statuses;
  EXPECT_EQ(statuses.back(), "Failed");
  advanceBy(60);
  EXPECT_EQ(report->calls(), 1);
  EXPECT_EQ(report->statuses, statuses);
  EXPECT_TRUE(manager->pendingBeaconOperations().empty());
  EXPECT_EQ(std::count(report->statuses.begin(), report->statuses.end(), "Connecting"), 1);
}

TEST_F(ManagerTest, AFailureRestartsTheWaitOfAnotherJobOfTheBeaconAndIsStillReported) {
  auto waiting = KSBeaconControlOperation::initWithBeacon(beacon, std::nullopt, KSBeaconOpcodeRestart);
  auto waitingReport = schedule(waiting);
  server->failNth(SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 1, writeError());
  auto failing = schedule(KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheralID, {{0x01}}));
  advanceBy(1);
  ASSERT_EQ(failing->failures, 1);
  EXPECT_EQ(failing->error->code, 3);
  const double failedAt = failing->at;
  advanceBy(30);
  ASSERT_EQ(waitingReport->failures, 1);
  EXPECT_NEAR(waitingReport->at, failedAt + 11, 0.15) << "its wait starts again at the other job's failure";
}

TEST_F(ManagerTest, AnOperationStartedWhileItsPeripheralIsOwnedFailsAsBusy) {
  auto slow = addBeacon(peripheralID, SimGattServer::Latencies{.write = 2});
  auto owner = schedule(KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart));
  advanceBy(0.5);
  ASSERT_TRUE(manager->isOperationExecutingForPeripheralIdentifier(peripheralID));
  // Started by hand past the manager's queue, as a second queue would.
  auto intruder = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeReset);
  auto intruderReport = watch(intruder);
  intruder->setDelegate(manager);
  intruder->setQueue(manager->queue(), central->world.scheduler);
  intruder->start();
  advanceBy(0.5);
  ASSERT_EQ(intruderReport->failures, 1);
  EXPECT_TRUE(manager->isOperationExecutingForPeripheralIdentifier(peripheralID))
      << "the refused operation's end leaves the owner's registration alone";
  advanceBy(5);
  EXPECT_EQ(intruderReport->error->localizedDescription, "Peripheral is busy with another beacon operation");
  EXPECT_EQ(owner->successes, 1) << "the owner keeps its peripheral";
  EXPECT_EQ(controlRequests(*slow), (std::vector<Bytes>{{0x0B}}));
}

TEST_F(ManagerTest, CancelWhileConnectedDropsTheLinkAndReportsNothing) {
  addBeacon(peripheralID, SimGattServer::Latencies{.write = 2});
  auto operation = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart);
  auto report = schedule(operation);
  advanceBy(0.5);
  ASSERT_EQ(operation->beaconOperationState(), KSBeaconOperationStateConnected);
  operation->cancel();
  advanceBy(5);
  EXPECT_EQ(report->calls(), 0);
  EXPECT_EQ(report->statuses.back(), "Canceled");
  EXPECT_EQ(operation->peripheral()->state(), platform::bluetooth::PeripheralState::Disconnected);
  EXPECT_FALSE(beacon->peripheralIdentifier()) << "the beacon is heard again before its next job";
  EXPECT_FALSE(manager->isOperationExecutingForPeripheralIdentifier(peripheralID));
}

TEST_F(ManagerTest, ACancelledWaitingJobLeavesThePendingListAndTheBeaconsNextJobRuns) {
  auto cancelled = KSBeaconControlOperation::initWithBeacon(beacon, std::nullopt, KSBeaconOpcodeRestart);
  auto cancelledReport = schedule(cancelled);
  advanceBy(1);
  ASSERT_EQ(cancelled->beaconOperationState(), KSBeaconOperationStateWaiting);
  cancelled->cancel();
  central->world.runUntilIdle();
  EXPECT_TRUE(manager->pendingBeaconOperations().empty());

  auto next = schedule(KSBeaconControlOperation::initWithBeacon(beacon, std::nullopt, KSBeaconOpcodeReset));
  advanceBy(1);
  beacon->setPeripheralIdentifier(std::nullopt);
  hear(beacon, peripheralID);
  advanceBy(3);
  ASSERT_EQ(next->successes, 1) << (next->error ? next->error->localizedDescription : "");
  EXPECT_EQ(controlRequests(*server), (std::vector<Bytes>{{0x0C}}));
  advanceBy(30);
  EXPECT_EQ(cancelledReport->calls(), 0);
  EXPECT_EQ(cancelled->beaconOperationState(), KSBeaconOperationStateCanceled) << "never sent back to Waiting";
  EXPECT_EQ(cancelledReport->statuses.back(), "Canceled");
  EXPECT_TRUE(manager->pendingBeaconOperations().empty());
}

// The first attempt's write fails, so the manager makes a retry that waits for the beacon to
// be heard again; the host cancels the job it holds (the first attempt) while the failure is
// decided, or once the retry waits. Neither the retry nor anything else reports afterwards.
TEST_F(ManagerTest, ACancelReachesTheRetryOfTheAttemptItWasGiven) {
  for (bool whileFailing : {true, false}) {
    SCOPED_TRACE(whileFailing ? "cancel while the failure is decided" : "cancel while the retry waits");
    beacon->setPeripheralIdentifier(peripheralID);
    server->failNth(SimGattServer::Kind::Write, gattUUID(KSCharacteristicUUIDStringControl), 1, writeError());
    const int connectionsBefore = discoveries(*server);
    auto operation = TestOperation::make(beacon, peripheralID);
    operation->retries = 1;
    auto report = schedule(operation);
    std::weak_ptr<TestOperation> weak = operation;
    operation->setBeaconOperationStatusBlock([weak, whileFailing, report](const auto&, const std::string& text) {
      report->statuses.push_back(text);
      if (auto op = weak.lock(); op && whileFailing && text == "Failed") op->cancel();
    });
    advanceBy(2);
    ASSERT_EQ(operation->beaconOperationState(), KSBeaconOperationStateFailed);
    EXPECT_EQ(report->calls(), 0);
    if (!whileFailing) {
      ASSERT_EQ(manager->pendingBeaconOperations().size(), 1u) << "the retry waits";
      operation->cancel();
      central->world.runUntilIdle();
    }
    EXPECT_TRUE(manager->pendingBeaconOperations().empty());
    hear(beacon, peripheralID);
    advanceBy(30);
    EXPECT_EQ(report->calls(), 0);
    EXPECT_EQ(discoveries(*server), connectionsBefore + 1) << "the retry never connects";
  }
}

TEST_F(ManagerTest, ARepeatedConnectEventKeepsTheRunningJobsLink) {
  auto slow = addBeacon(peripheralID, SimGattServer::Latencies{.write = 2});
  auto operation = KSBeaconControlOperation::initWithBeacon(beacon, peripheralID, KSBeaconOpcodeRestart);
  auto report = schedule(operation);
  advanceBy(0.5);
  ASSERT_EQ(operation->beaconOperationState(), KSBeaconOperationStateConnected);
  // The platform tells of the same connection once more.
  manager->centralManagerDidConnectPeripheral(operation->peripheral());
  advanceBy(0.1);
  EXPECT_EQ(operation->peripheral()->state(), platform::bluetooth::PeripheralState::Connected);
  advanceBy(5);
  ASSERT_EQ(report->successes, 1) << (report->error ? report->error->localizedDescription : "");
  EXPECT_EQ(report->failures, 0);
  EXPECT_EQ(discoveries(*slow), 1);
  EXPECT_EQ(controlRequests(*slow), (std::vector<Bytes>{{0x0B}}));
}

}  // namespace
}  // namespace velmora::kestrine
