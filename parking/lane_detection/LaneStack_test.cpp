// The lane drive on the whole stack: iBeacon frames on the simulated radio, heard by the
// simulated location services, parsed, cached and smoothed by the beacon layer, reported by
// its public beacon manager to lane detection through the default binding, with the
// parking lookups over HTTP to the loopback fake. The host starts and stops the beacon SDK
// through the service and reports the gates as an app does.
#include <gtest/gtest.h>

#include <map>

#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "parking/carpark_api/CarParkAPI.h"
#include "parking/user_api/UserAPI.h"
#include "platform/core/Log.h"
#include "platform/sim/SimTrace.h"
#include "testing/ConfigReset.h"
#include "testing/LaneDetectionTestSupport.h"
#include "testing/LaneStackWorld.h"
#include "testing/ParkingServiceFake.h"

namespace velmora::lane_test {
namespace {

// What the drive is judged by, each stamped with the virtual second it came at: the closest
// lane as it changes, the car-park switches and the resets (the only calls that report an
// empty beacon list).
class TimedRecorder final : public BeaconServiceDelegate {
 public:
  explicit TimedRecorder(std::function<double()> clock) : clock_(std::move(clock)) {}
  void carParkIdChanged(std::int64_t id) override { carParkSwitches.push_back({clock_(), id}); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) override {
    if (beacons.empty()) resets.push_back(clock_());
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    const std::string text = laneText(lane);
    if (closest.empty() || closest.back().second != text) closest.push_back({clock_(), text});
  }

  std::vector<std::pair<double, std::string>> closest;
  std::vector<std::pair<double, std::int64_t>> carParkSwitches;
  std::vector<double> resets;

 private:
  std::function<double()> clock_;
};

// iBeacon frames (tx -59) of the named beacons (name -> major, minor) that have a strength in
// `rssi`, 10 a second each over [from, to).
std::string phase(double from, double to, const std::map<std::string, std::pair<int, int>>& beacons,
                  const std::map<std::string, int>& rssi) {
  std::string text;
  for (int tick = 0; from + tick * 0.1 < to - 1e-9; ++tick) {
    for (const auto& [name, ids] : beacons) {
      auto it = rssi.find(name);
      if (it == rssi.end()) continue;
      const double t = from + tick * 0.1 + 0.01 * ids.second;
      text += fmt::format("{:.3f} adv {} {} mfr={}\n", t, name, it->second,
                          velmora::testing::iBeaconFrameHex(kUuid, ids.first, ids.second, -59));
    }
  }
  return text;
}

// A host that runs the beacon SDK without its cloud API has no token to verify: starting
// lane detection says nothing of a bad token. With the API on and no token, it does.
TEST(LaneStack, StartWithTheCloudApiOffOnPurposeReportsNoTokenFault) {
  for (const bool useApi : {false, true}) {
    velmora::testing::ConfigReset config;
    velmora::testing::LaneStackWorld stack;
    platform::LogCapture log;
    auto service = BeaconService::create();
    service->initService();
    if (useApi) kestrine::KestrineSDK::setOptions({{std::string(kestrine::KSOptionUseApi), platform::Value(true)}});
    std::optional<BeaconServiceResult> started;
    service->startService([&](const BeaconServiceResult& r) { started = r; });
    stack.world.runUntilIdle();
    ASSERT_TRUE(started && started->success) << useApi;
    EXPECT_EQ(log.count("Beacon token is invalid"), useApi ? 1u : 0u) << "cloud API " << (useApi ? "on" : "off");
    EXPECT_EQ(log.count("BeaconService: startService finished"), 1u);
    service->stopService(nullptr);
    stack.world.runUntilIdle();
  }
}

TEST(LaneStack, TheDriveOnTheSimulatedRadio) {
  velmora::testing::ConfigReset config;
  velmora::testing::LaneStackWorld stack;
  velmora::testing::ParkingServiceFake fake;
  VelmoraSDKConfig::setServerName(fake.baseUrl());
  VelmoraSDKConfig::setUser(42, "token-42");
  auto carPark = carParkReply(
      7, "Harbour",
      {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1), beaconId(100, 2)}},
       {.laneId = 102, .laneType = 1, .group = 1, .sortOrder = 2, .beacons = {beaconId(100, 3)}},
       {.laneId = 201, .laneType = 2, .group = 2, .sortOrder = 1, .beacons = {beaconId(100, 4)}}});
  ASSERT_TRUE(fake.addCarPark(*encodeRecordJSON(carPark)));
  stack.monitorProximityUUID(kUuid);

  auto recorder = std::make_shared<TimedRecorder>([&stack] { return stack.now(); });
  auto service = BeaconService::create();
  service->setDelegate(recorder);
  service->initService();
  std::optional<BeaconServiceResult> started;
  service->startService([&](const BeaconServiceResult& r) { started = r; });
  stack.world.runUntilIdle();
  ASSERT_TRUE(started && started->success);

  const std::map<std::string, std::pair<int, int>> ids{
      {"Z", {999, 9}}, {"B1", {100, 1}}, {"B2", {100, 2}}, {"B3", {100, 3}}, {"B4", {100, 4}}};
  std::string text = phase(0, 5, ids, {{"Z", -60}, {"B1", -65}, {"B2", -75}, {"B3", -85}}) +
                     phase(5, 10, ids, {{"Z", -60}, {"B1", -80}, {"B2", -84}, {"B3", -62}});
  auto trace = platform::sim::SimTrace::parse(text);
  ASSERT_TRUE(trace);
  stack.world.radio->play(*trace);

  const auto calls = [&fake](std::string_view path) {
    std::size_t n = 0;
    for (const auto& r : fake.server().requests()) n += r.target == path;
    return n;
  };
  // What the host does at a gate: report the lane, then hand the new status to the service.
  const auto gate = [&](bool enter, std::int64_t laneId) {
    EXPECT_EQ(enter ? CarParkAPI::enter(laneId, laneId).result : CarParkAPI::exit(laneId, laneId).result, "Success");
    StatusResult status = UserAPI::status();
    ASSERT_EQ(status.result, "Success");
    service->setUserStatus(status);
    stack.world.runUntilIdle();
  };

  // Up to the entry lanes and past lane 102, then ten seconds parked with the beacons out of
  // range and the SDK still running: its passes keep coming, empty, so nothing resets.
  stack.at(20);
  EXPECT_TRUE(recorder->resets.empty());
  EXPECT_EQ(service->getCarParkId(), 7);

  gate(true, 102);
  EXPECT_TRUE(fake.inCarPark());
  std::optional<BeaconServiceResult> stopped;
  service->stopService([&](const BeaconServiceResult& r) { stopped = r; });
  ASSERT_TRUE(stopped);
  EXPECT_TRUE(stopped->success) << stopped->message;

  // Stopped: no passes, so the ticks reset once more than five seconds have gone by.
  stack.at(35);
  started.reset();
  service->startService([&](const BeaconServiceResult& r) { started = r; });
  stack.world.runUntilIdle();
  ASSERT_TRUE(started && started->success);
  auto exitPhase = platform::sim::SimTrace::parse(phase(0, 5, ids, {{"B1", -55}, {"B4", -60}}));
  ASSERT_TRUE(exitPhase);
  stack.world.radio->play(*exitPhase);
  stack.at(40);
  gate(false, 201);
  EXPECT_FALSE(fake.inCarPark());

  // The decisions of the lane-level drive, each within two passes of its time there.
  const std::vector<std::pair<double, std::string>> expected{
      {1, "nil"}, {3, "101"}, {6, "102"}, {20, "nil"}, {36, "201"}, {40, "nil"}};
  ASSERT_EQ(recorder->closest.size(), expected.size()) << ::testing::PrintToString(recorder->closest);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(recorder->closest[i].second, expected[i].second) << i;
    EXPECT_NEAR(recorder->closest[i].first, expected[i].first, 2.0) << i << " " << expected[i].second;
  }
  ASSERT_EQ(recorder->carParkSwitches.size(), 1u);
  EXPECT_EQ(recorder->carParkSwitches[0].second, 7);
  // The host's resets at the gates, and the ticks' only while the SDK was stopped.
  EXPECT_EQ(recorder->resets, (std::vector<double>{20, 30, 35, 40}));

  EXPECT_EQ(calls("/v4.0/user/status"), 3u);
  EXPECT_EQ(calls("/v4.0/carpark/detail"), 3u);
  EXPECT_EQ(calls("/v4.0/carpark/enter"), 1u);
  EXPECT_EQ(calls("/v4.0/carpark/exit"), 1u);

  service.reset();
}

// The host's own order: the service (and so its beacon manager) is made before anything has
// configured the beacon SDK; then the options, initService and startService. The hub the
// manager's creation brought about must be the SDK's own: listening to the location client,
// with the region manager behind it, so the lanes are decided from the radio.
TEST(LaneStack, AServiceMadeBeforeTheBeaconSDKIsConfiguredDecidesTheLanes) {
  velmora::testing::ConfigReset config;
  velmora::testing::LaneStackWorld stack(velmora::testing::LaneStackWorld::Options::LeftToTheHost);
  velmora::testing::ParkingServiceFake fake;
  VelmoraSDKConfig::setServerName(fake.baseUrl());
  VelmoraSDKConfig::setUser(42, "token-42");
  ASSERT_TRUE(fake.addCarPark(*encodeRecordJSON(carParkReply(
      7, "Harbour", {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1)}}}))));

  auto recorder = std::make_shared<TimedRecorder>([&stack] { return stack.now(); });
  auto service = BeaconService::create();
  service->setDelegate(recorder);
  velmora::testing::LaneStackWorld::setSDKOptions();
  stack.monitorProximityUUID(kUuid);
  service->initService();
  std::optional<BeaconServiceResult> started;
  service->startService([&](const BeaconServiceResult& r) { started = r; });
  stack.world.runUntilIdle();
  ASSERT_TRUE(started && started->success) << (started ? started->message : "no completion");

  auto trace = platform::sim::SimTrace::parse(phase(0, 8, {{"B1", {100, 1}}}, {{"B1", -62}}));
  ASSERT_TRUE(trace);
  stack.world.radio->play(*trace);
  stack.at(10);

  auto hub = kestrine::KSBeaconManagerInternal::sharedInternal(*stack.provider);
  ASSERT_NE(hub, nullptr);
  EXPECT_NE(hub->cachedBeaconWithIBeaconKey(beaconId(100, 1)), nullptr) << "the hub cached the beacon";
  ASSERT_FALSE(recorder->closest.empty());
  EXPECT_EQ(recorder->closest.back().second, "101");
  EXPECT_EQ(service->getCarParkId(), 7);
  service.reset();
}

}  // namespace
}  // namespace velmora::lane_test
