#include "parking/lane_detection/BeaconService.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "testing/LaneDetectionTestSupport.h"
#include "platform/core/Log.h"

namespace velmora::lane_test {
namespace {

using ::testing::ElementsAre;
using velmora::testing::FakeBeaconSDK;

class BeaconServiceTest : public VirtualServiceTest {
 protected:
  void SetUp() override {
    VirtualServiceTest::SetUp();
    lookups->add(harbour());
    recorder->label = [](const std::string& id) { return id.substr(id.find(':') + 1); };
  }
  static DetailsResult harbour(std::int64_t id = 7) {
    return carParkReply(id, "Harbour",
                        {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1), beaconId(100, 2)}},
                         {.laneId = 102, .laneType = 1, .group = 1, .sortOrder = 2, .beacons = {beaconId(100, 3)}},
                         {.laneId = 201, .laneType = 2, .group = 2, .sortOrder = 1, .beacons = {beaconId(100, 4)}}});
  }
  // Only the beaconsChanged events of what was recorded.
  std::vector<std::string> beaconEvents() {
    std::vector<std::string> out;
    for (auto& e : recorder->take()) {
      if (e.rfind("B[", 0) == 0) out.push_back(e);
    }
    return out;
  }
  int resets() {
    int n = 0;
    auto events = recorder->take();
    for (std::size_t i = 0; i + 3 < events.size(); ++i) {
      if (std::vector<std::string>(events.begin() + i, events.begin() + i + 4) == resetEvents()) ++n;
    }
    return n;
  }
};

TEST_F(BeaconServiceTest, InitServiceInstallsAListenerAndSetsTheFourOptions) {
  EXPECT_TRUE(sdk->hasListener());
  auto options = sdk->optionsSet();
  ASSERT_EQ(options.size(), 1u);
  EXPECT_EQ(options[0].size(), 4u);
  EXPECT_EQ(options[0]["KSOptionCacheAllBeaconsForApp"].toBool(), true);
  EXPECT_EQ(options[0]["KSOptionDiscoverBeaconsNearby"].toBool(), true);
  EXPECT_EQ(options[0]["KSOptionMaximumDailyBackgroundUsageInMinutes"].toInt64(), 1440);
  EXPECT_EQ(options[0]["KSOptionBackgroundSessionTimeIntervalInSeconds"].toInt64(), 10800);
  service->initService();  // a second call installs a new listener in place of the old
  EXPECT_TRUE(sdk->hasListener());
  report({b(1, -60)});
  EXPECT_EQ(lookups->detailCalls, 1);
}

TEST_F(BeaconServiceTest, SkipsBeaconsWithoutTheirIdentifierAndConvertsTheRest) {
  RangedBeacon urlOnly = b(9, -50);
  urlOnly.isEddystone = true;  // heard only through URL frames: no UID
  report({urlOnly, b(1, -60)});
  EXPECT_THAT(beaconEvents(), ElementsAre("B[100:1]"));
  EXPECT_EQ(lookups->detailIds, std::vector<std::string>{beaconId(100, 1)});
}

TEST_F(BeaconServiceTest, EachBeaconIdIsLookedUpOnceUntilAReset) {
  lookups->carParks.erase(beaconId(100, 4));
  // Z has no car park; B1's lookup brings car park 7, so B2 (its lane beacon) is not looked up.
  report({b(9, -60, 999), b(1, -65), b(2, -70)});
  EXPECT_EQ(lookups->detailIds, (std::vector<std::string>{beaconId(999, 9), beaconId(100, 1)}));
  report({b(9, -61, 999), b(1, -66), b(2, -71), b(4, -80)});  // B4 is a lane beacon of the held car park
  EXPECT_EQ(lookups->detailCalls, 2);
  service->reset(false);
  scheduler->runUntilIdle();
  report({b(9, -60, 999)});
  EXPECT_EQ(lookups->detailCalls, 3);  // the failed id is looked up again after the reset
}

TEST_F(BeaconServiceTest, ASecondCarParkWithAHeldIdIsDroppedAndItsBeaconNotAskedAgain) {
  auto twin = carParkReply(7, "Harbour twin", {{.laneId = 301, .laneType = 1, .group = 1, .beacons = {beaconId(300, 1)}}});
  lookups->add(twin);
  auto empty = carParkReply(8, "No lanes", {});
  lookups->carParks[beaconId(400, 1)] = empty;
  report({b(1, -60), b(1, -70, 300), b(1, -75, 400)});
  report({b(1, -60), b(1, -70, 300), b(1, -75, 400)});
  EXPECT_EQ(lookups->detailCalls, 3);
  EXPECT_EQ(service->getCarParkName(), "Harbour");
}

TEST_F(BeaconServiceTest, ReportsBeaconsOnlyWhenASnapshotWasAddedOrChanged) {
  report({b(1, -60), b(2, -70)});
  EXPECT_THAT(beaconEvents(), ElementsAre("B[100:1,100:2]"));
  report({b(1, -60), b(2, -70)});
  EXPECT_TRUE(beaconEvents().empty());
  report({b(2, -71)});
  EXPECT_THAT(beaconEvents(), ElementsAre("B[100:1,100:2]"));  // the whole list
  report({});
  EXPECT_TRUE(beaconEvents().empty());
}

TEST_F(BeaconServiceTest, ResetReportsEmptyListsAndKeepsTheCarPark) {
  at(1);
  report({b(1, -60), b(2, -62)});
  ASSERT_EQ(service->getCarParkId(), 7);
  recorder->take();
  service->reset(true);
  scheduler->runUntilIdle();
  EXPECT_EQ(recorder->take(), resetEvents());
  EXPECT_EQ(service->getCarParkId(), 7);
  EXPECT_EQ(service->getCarParkName(), "Harbour");
  EXPECT_EQ(service->getClosestLane(), nullptr);
}

TEST_F(BeaconServiceTest, SilenceOfMoreThanFiveWholeSecondsResetsAtTheNextTick) {
  struct Case {
    double lastReport;
    double firstResetTick;
  } cases[] = {{4.0, 10}, {4.1, 15}, {0.0, 10}};
  for (const auto& c : cases) {
    TearDown();
    scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
    recorder = std::make_shared<RecordingDelegate>();
    SetUp();
    at(c.lastReport);
    report({});
    std::vector<double> resetTimes;
    for (double t : {5.0, 10.0, 15.0, 20.0}) {
      at(t);
      if (resets() > 0) resetTimes.push_back(t);
    }
    ASSERT_FALSE(resetTimes.empty()) << c.lastReport;
    EXPECT_EQ(resetTimes.front(), c.firstResetTick) << c.lastReport;
    // Silent from then on: every later tick resets again.
    EXPECT_EQ(resetTimes.back(), 20) << c.lastReport;
  }
}

TEST_F(BeaconServiceTest, TimerDisabledOrBackgroundParksTheTick) {
  service->setTimerEnabled(false);
  at(20);
  EXPECT_EQ(resets(), 0);
  service->setTimerEnabled(true);
  at(25);
  EXPECT_EQ(resets(), 1);
  service->onBackground();  // resets once, then the tick rests
  at(40);
  EXPECT_EQ(resets(), 1);
  sdk->setStatus(FakeBeaconSDK::kStatusRunning);
  service->onForeground();  // resets; running, so no restart
  scheduler->runUntilIdle();
  EXPECT_EQ(resets(), 1);
  EXPECT_TRUE(sdk->startTokens().empty());
}

TEST_F(BeaconServiceTest, ForegroundRestartsAStoppedSDK) {
  platform::LogCapture log;
  VelmoraSDKConfig::setBeaconToken("beacon-token");
  for (int status : {FakeBeaconSDK::kStatusStopped, FakeBeaconSDK::kStatusNotConfigured,
                     FakeBeaconSDK::kStatusRunningWithErrors}) {
    sdk->setStatus(status);
    service->onForeground();
    scheduler->runUntilIdle();
  }
  EXPECT_EQ(sdk->startTokens(), (std::vector<std::string>(3, "beacon-token")));
  EXPECT_EQ(log.count("BeaconService restarted"), 3u);
  EXPECT_EQ(resets(), 3);
}

TEST_F(BeaconServiceTest, StartAlwaysSucceedsAndLogsWhatIsMissing) {
  platform::LogCapture log;
  sdk->setTokenStatus(FakeBeaconSDK::kTokenInvalid);
  sdk->setLocationAuthorized(false);
  sdk->setNetworkReachable(false);
  sdk->setBluetoothEnabled(false);
  std::optional<BeaconServiceResult> result;
  service->startService([&](const BeaconServiceResult& r) { result = r; });
  scheduler->runUntilIdle();
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->success);
  for (const char* line : {"Beacon token is invalid", "Request location use from user", "Network is not reachable",
                           "Bluetooth is not enabled", "BeaconService: startService finished"}) {
    EXPECT_EQ(log.count(line), 1u) << line;
  }
  // With logging off only the finish line is written.
  VelmoraSDKConfig::setBeaconLogLevel(BeaconLogLevel::none);
  service->startService(nullptr);
  scheduler->runUntilIdle();
  EXPECT_EQ(log.count("Bluetooth is not enabled"), 1u);
  EXPECT_EQ(log.count("BeaconService: startService finished"), 2u);
}

TEST_F(BeaconServiceTest, StopReportsTheStatusWhenTheSDKIsNotStoppedAfterwards) {
  struct Case {
    int before;
    int after;
    bool success;
    std::string message;
  } cases[] = {
      {FakeBeaconSDK::kStatusRunning, FakeBeaconSDK::kStatusStopped, true, ""},
      {FakeBeaconSDK::kStatusRunning, FakeBeaconSDK::kStatusRunning, false, "Error stopping beacon service. Status=1"},
      {FakeBeaconSDK::kStatusNotConfigured, FakeBeaconSDK::kStatusStopped, false,
       "Error stopping beacon service. Status=0"},
  };
  for (const auto& c : cases) {
    sdk->setStatus(c.before);
    sdk->setStatusAfterStop(c.after);
    std::optional<BeaconServiceResult> result;
    service->stopService([&](const BeaconServiceResult& r) { result = r; });
    ASSERT_TRUE(result);  // before stopService returns
    EXPECT_EQ(result->success, c.success) << c.message;
    EXPECT_EQ(result->message, c.message);
  }
}

TEST_F(BeaconServiceTest, AcceptableLaneTypesFollowTheStatus) {
  struct Case {
    std::optional<StatusResult> status;
    std::vector<std::int64_t> types;
  } cases[] = {
      {ScriptedLookups::outOfCarPark(), {1, 7}},
      {ScriptedLookups::inCarPark(7), {2, 4, 3}},
      {ScriptedLookups::inCarPark(7, true), {5, 3}},
      {std::nullopt, {}},
  };
  for (const auto& c : cases) {
    // Signing out clears the cached status, so the next call fetches it.
    VelmoraSDKConfig::setUserId(-1);
    EXPECT_TRUE(service->getAcceptableLaneTypes().empty());
    VelmoraSDKConfig::setUser(42, "token-42");
    StatusResult failed;
    failed.result = "Failure";
    lookups->statusReply = c.status.value_or(failed);
    EXPECT_EQ(service->getAcceptableLaneTypes(), c.types);
  }
  // A status the host sets is taken as it is.
  service->setUserStatus(ScriptedLookups::inCarPark(3, true));
  scheduler->runUntilIdle();
  EXPECT_EQ(service->getAcceptableLaneTypes(), (std::vector<std::int64_t>{5, 3}));
}

TEST_F(BeaconServiceTest, SignedOutDropsReportsAndClearsTheCachedStatus) {
  platform::LogCapture log;
  report({b(1, -60)});
  const int statusCalls = lookups->statusCalls;
  EXPECT_EQ(statusCalls, 1);
  recorder->take();
  VelmoraSDKConfig::setUserId(-1);
  EXPECT_TRUE(service->getAcceptableLaneTypes().empty());
  at(3);
  report({b(1, -50)});
  EXPECT_EQ(log.count("WARNING: No user logged in - don't scan for beacons"), 1u);
  EXPECT_TRUE(beaconEvents().empty());
  at(5);  // the dropped report still counts as heard: no reset at 5 nor 5+
  EXPECT_EQ(resets(), 0);
  VelmoraSDKConfig::setUser(42, "token-42");
  report({b(1, -50)});
  EXPECT_EQ(lookups->statusCalls, statusCalls + 1);  // the cache was cleared
}

TEST_F(BeaconServiceTest, AFailingStatusIsAskedAtMostTwicePerPassAndNothingIsDecided) {
  lookups->statusReply.result = "Failure";
  report({b(1, -60), b(2, -62)});
  EXPECT_EQ(lookups->statusCalls, 2);
  EXPECT_EQ(service->getCarParkId(), 0);
  EXPECT_THAT(recorder->take(), ElementsAre("B[100:1,100:2]"));
}

TEST_F(BeaconServiceTest, NoResetDuringAnEightSecondLookup) {
  lookups->detailSeconds = 8;
  at(1);
  report({b(1, -60), b(2, -62)});  // the pass runs 1 … 9, across the tick at 5
  EXPECT_EQ(now(), 9);
  // The tick that came due during the pass waited for it: the pass's own reports come first,
  // then, the beacons having been silent for 8 s, the reset.
  auto events = recorder->take();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(events.front(), "N(Harbour)");
  EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()), resetEvents());
  EXPECT_EQ(std::count(events.begin(), events.end(), "B[]"), 1);
}

TEST_F(BeaconServiceTest, DroppedReportsDuringALongLookupStillCountAsHeard) {
  lookups->detailSeconds = 8;
  at(1);
  // The beacon SDK keeps ranging once a second while the first pass waits for its lookup.
  auto feeder = scheduler->makeTimer(scheduler->globalQueue());
  std::vector<RangedBeacon> again{b(2, -70)};
  feeder->setEventHandler([&] { sdk->deliver(again); });
  feeder->schedule(1, 1);
  feeder->resume();
  report({b(1, -60)});
  feeder->cancel();
  EXPECT_EQ(now(), 9);
  at(10);
  EXPECT_EQ(resets(), 0);
  EXPECT_EQ(lookups->detailCalls, 1);  // the reports that came during the pass were dropped
}

TEST_F(BeaconServiceTest, ALookupThatNeverAnswersIsAbandonedAtTenSecondsAndTheNextReportIsServed) {
  auto pending = std::make_shared<std::vector<Completion<DetailsResult>>>();
  int detailCalls = 0;
  auto waiting = std::make_shared<WaitingParkingLookups>(
      [](const StatusRequest&, Completion<StatusResult> done) { done(ScriptedLookups::outOfCarPark(), std::nullopt); },
      [&, pending](const DetailsRequest& request, Completion<DetailsResult> done) {
        ++detailCalls;
        if (request.beaconID == beaconId(100, 1)) {
          pending->push_back(std::move(done));  // never answered in time
        } else {
          done(harbour(), std::nullopt);
        }
      });
  service.reset();
  service = BeaconService::create(sdk, waiting);
  service->setDelegate(recorder);
  service->initService();
  at(1);
  report({b(1, -60)});
  EXPECT_EQ(now(), 11);
  EXPECT_EQ(service->getCarParkId(), 0);
  report({b(3, -55)});  // B3's lookup answers
  EXPECT_EQ(detailCalls, 2);
  EXPECT_EQ(service->getCarParkId(), 7);
  // The late answer is dropped.
  ASSERT_EQ(pending->size(), 1u);
  (*pending)[0](harbour(9), std::nullopt);
  scheduler->runUntilIdle();
  EXPECT_EQ(service->getCarParkId(), 7);
}

TEST_F(BeaconServiceTest, WithoutADelegateEverythingRunsAndNothingIsReported) {
  service->setDelegate(nullptr);
  at(1);
  report({b(1, -60), b(2, -62)});
  at(3);
  report({b(1, -60), b(2, -62)});
  service->reset(false);
  at(20);
  EXPECT_EQ(service->getCarParkId(), 7);
  EXPECT_TRUE(recorder->take().empty());
}

TEST_F(BeaconServiceTest, DestroyingTheServiceDetachesItAndStopsItsTick) {
  std::weak_ptr<BeaconService> weak = service;
  report({b(1, -60)});
  recorder->take();
  service.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(sdk->hasListener());
  sdk->deliver({b(1, -60)});
  at(30);
  EXPECT_TRUE(recorder->take().empty());
}

}  // namespace
}  // namespace velmora::lane_test
