// The lane step over a table of drives: car parks, the user's status, and ranging reports at
// given virtual times, with what the delegate hears and which lane is closest after each.
#include <gtest/gtest.h>

#include <functional>

#include "parking/carpark_api/LaneBeaconModel.h"
#include "testing/LaneDetectionTestSupport.h"

namespace velmora::lane_test {
namespace {

struct Step {
  double t;
  std::vector<std::pair<int, std::int64_t>> beacons;  // (minor of U:100:minor, or 300+minor for U:300:…), rssi
  std::optional<std::vector<std::string>> events;      // everything the delegate heard in the pass
  std::optional<std::string> closest;                  // the closest lane after the pass
};

struct Case {
  const char* what;
  std::vector<DetailsResult> carParks;
  StatusResult status;
  std::vector<Step> steps;
  std::function<void(BeaconService&, const std::vector<std::shared_ptr<LaneModel>>& lastLanes)> check;
};

std::string beaconFor(int code) { return code >= 300 ? beaconId(300, code - 300) : beaconId(100, code); }

std::vector<LaneSpec> harbourLanes(LaneSpec tweak = {}) {
  auto lane = [&](std::int64_t id, std::int64_t type, std::int64_t group, std::int64_t sort, std::vector<int> minors) {
    LaneSpec s{.laneId = id, .laneType = type, .group = group, .sortOrder = sort};
    for (int m : minors) s.beacons.push_back(beaconFor(m));
    if (tweak.minRSSI) s.minRSSI = tweak.minRSSI;
    if (tweak.minSecs) s.minSecs = tweak.minSecs;
    if (tweak.maxSecs) s.maxSecs = tweak.maxSecs;
    if (tweak.retrySecs) s.retrySecs = tweak.retrySecs;
    return s;
  };
  return {lane(101, 1, 1, 1, {1, 2}), lane(102, 1, 1, 2, {3}), lane(201, 2, 2, 1, {4})};
}

DetailsResult harbour(LaneSpec tweak = {}) { return carParkReply(7, "Harbour", harbourLanes(tweak)); }

// The events of a first switch to Harbour.
std::vector<std::string> switched(std::vector<std::string> rest) {
  std::vector<std::string> e{"N(Harbour)", "I(7)", "C(nil)", "L[]", "LB[]"};
  e.insert(e.end(), rest.begin(), rest.end());
  return e;
}

Step closestAt(double t, std::vector<std::pair<int, std::int64_t>> beacons, std::string closest) {
  return {t, std::move(beacons), std::nullopt, std::move(closest)};
}

class LaneDecisionTest : public VirtualServiceTest {
 protected:
  void run(const Case& c) {
    SCOPED_TRACE(c.what);
    TearDown();
    scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
    lookups = std::make_shared<ScriptedLookups>();
    recorder = std::make_shared<RecordingDelegate>();
    recorder->label = [](const std::string& id) { return id.substr(id.find(':') + 1); };
    SetUp();
    lookups->statusReply = c.status;
    for (const auto& p : c.carParks) lookups->add(p);
    for (const Step& step : c.steps) {
      SCOPED_TRACE(::testing::Message() << "t=" << step.t);
      at(step.t);
      recorder->take();
      std::vector<RangedBeacon> beacons;
      for (auto [code, rssi] : step.beacons) {
        beacons.push_back(code >= 300 ? b(code - 300, rssi, 300) : b(code, rssi));
      }
      report(beacons);
      if (step.events) {
        EXPECT_EQ(recorder->take(), *step.events);
      }
      if (step.closest) {
        EXPECT_EQ(laneText(service->getClosestLane()), *step.closest);
      }
    }
    if (c.check) c.check(*service, recorder->lastLanes());
  }
};

class LaneCapture final : public BeaconServiceDelegate {
 public:
  explicit LaneCapture(std::vector<std::shared_ptr<LaneModel>>& out) : out_(out) {}
  void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override { out_ = lanes; }

 private:
  std::vector<std::shared_ptr<LaneModel>>& out_;
};

TEST_F(LaneDecisionTest, Table) {
  const StatusResult out = ScriptedLookups::outOfCarPark();
  const Case cases[] = {
      {"every snapshot at 0 dBm: no candidate, no lane step",
       {harbour()}, out,
       {{1, {{1, 0}, {2, 0}}, std::vector<std::string>{"B[100:1,100:2]"}, "nil"}}},
      {"the strongest beacon's lane has an unacceptable type: the next one's lane is the candidate",
       {harbour()}, out,
       {{1, {{4, -50}, {1, -60}},
         switched({"L[101,102]", "C(nil)", "LB[102 0,101 -60]", "B[100:4,100:1]"}), "nil"}}},
      {"in a car park without a car-park id: never a candidate",
       {harbour()}, ScriptedLookups::inCarPark(std::nullopt),
       {{1, {{4, -50}, {1, -60}}, std::vector<std::string>{"B[100:4,100:1]"}, "nil"},
        {9, {{4, -50}, {1, -60}}, std::vector<std::string>{}, "nil"}}},
      {"a second car park within 5 s of a switch: its lane is processed under the first id",
       {harbour(), carParkReply(8, "Quay", {{.laneId = 301, .laneType = 1, .group = 1, .sortOrder = 1,
                                             .beacons = {beaconFor(301)}}})},
       out,
       {{1, {{1, -60}}, std::nullopt, "nil"},
        {3, {{1, -90}, {301, -50}}, std::vector<std::string>{"L[301]", "C(301)", "LB[301 -50]", "B[100:1,300:1]"},
         "301"}},
       [](BeaconService& s, const auto& lanes) {
         EXPECT_EQ(s.getCarParkId(), 7);
         EXPECT_EQ(s.getCarParkName(), "Harbour");
         ASSERT_EQ(lanes.size(), 1u);
         EXPECT_EQ(lanes[0]->carPark()->carParkId(), 8);
       }},
      {"lane signal is the truncated mean; a silent lane keeps it and stays the strongest",
       {harbour()}, out,
       {{1, {{1, -60}, {2, -75}}, switched({"L[101,102]", "C(nil)", "LB[102 0,101 -67]", "B[100:1,100:2]"}), "nil"},
        {3, {{1, 0}, {2, 0}, {3, -90}},
         std::vector<std::string>{"L[101,102]", "C(101)", "LB[101 -67,102 -90]", "B[100:1,100:2,100:3]"}, "101"}}},
      {"a weak lane is accepted at the maximum detection time after the switch",
       {harbour({.minRSSI = -70, .minSecs = 5, .maxSecs = 10})}, out,
       {closestAt(1, {{1, -80}}, "nil"), closestAt(6, {{1, -80}}, "nil"), closestAt(10, {{1, -80}}, "nil"),
        closestAt(11, {{1, -80}}, "101")}},
      {"a strong lane is accepted at the minimum detection time after the switch",
       {harbour({.minRSSI = -70, .minSecs = 5, .maxSecs = 10})}, out,
       {closestAt(1, {{1, -65}}, "nil"), closestAt(5, {{1, -65}}, "nil"), closestAt(6, {{1, -65}}, "101")}},
      {"with a closest lane, a different strongest lane replaces it at once",
       {harbour()}, out,
       {closestAt(1, {{1, -60}}, "nil"), closestAt(3, {{1, -60}}, "101"),
        {4, {{1, -80}, {3, -62}}, std::vector<std::string>{"L[101,102]", "C(102)", "LB[102 -62,101 -80]", "B[100:1,100:3]"},
         "102"}}},
      {"a retry of 20 s keeps the gate closed until 11 s after the last reset",
       {harbour({.retrySecs = 20})}, out,
       {closestAt(1, {{1, -60}}, "nil"), closestAt(4, {{1, -60}}, "nil"), closestAt(8, {{1, -60}}, "nil"),
        closestAt(10.9, {{1, -60}}, "nil"), closestAt(11, {{1, -60}}, "101")}},
      {"no lane below 0 dBm: the lanes are emptied and none is closest",
       // Two lanes share id 101: the first (silent) one is kept, the heard one is not added.
       {carParkReply(7, "Harbour", {{.laneId = 101, .laneType = 1, .group = 1, .beacons = {beaconFor(9)}},
                                    {.laneId = 101, .laneType = 1, .group = 1, .beacons = {beaconFor(1)}}})},
       out,
       {{1, {{1, -60}}, switched({"C(nil)", "L[]", "C(nil)", "LB[]", "B[100:1]"}), "nil"}}},
      {"lanes without a group form one group and sort first",
       {carParkReply(7, "Harbour", {{.laneId = 103, .laneType = 1, .group = 5, .sortOrder = 1, .beacons = {beaconFor(5)}},
                                    {.laneId = 102, .laneType = 1, .sortOrder = 2, .beacons = {beaconFor(3)}},
                                    {.laneId = 101, .laneType = 1, .sortOrder = 1, .beacons = {beaconFor(1)}}})},
       out,
       {{1, {{1, -60}, {3, -70}, {5, -80}},
         switched({"L[101,102]", "C(nil)", "LB[101 -60,102 -70]", "B[100:1,100:3,100:5]"}), "nil"}}},
      {"inside a car park only exit types are acceptable",
       {harbour()}, ScriptedLookups::inCarPark(7),
       {{1, {{1, -50}, {4, -60}}, switched({"L[201]", "C(nil)", "LB[201 -60]", "B[100:1,100:4]"}), "nil"},
        closestAt(3, {{1, -50}, {4, -60}}, "201")}},
      {"inside another car park than the beacons': nothing is a candidate",
       {harbour()}, ScriptedLookups::inCarPark(8),
       {{1, {{4, -60}}, std::vector<std::string>{"B[100:4]"}, "nil"}}},
  };
  for (const Case& c : cases) run(c);
}

TEST_F(LaneDecisionTest, LaneBeaconsTakeTheSnapshotAndKeepElevenInTheirHistory) {
  std::vector<std::shared_ptr<LaneModel>> lanes;
  auto capture = std::make_shared<LaneCapture>(lanes);  // the service holds its delegate weakly
  for (int pass = 1; pass <= 12; ++pass) {
    at(pass);
    if (pass == 1) {
      lookups->add(harbour());
      service->setDelegate(capture);
    }
    report({b(1, -60 - pass)});
  }
  ASSERT_FALSE(lanes.empty());
  ASSERT_EQ(laneText(lanes[0]), "101");
  auto laneBeacons = lanes[0]->laneBeacons();
  const auto& b1 = laneBeacons[0];
  EXPECT_EQ(b1->rssi(), -72);
  EXPECT_EQ(b1->rssiSmoothed(), -72);
  EXPECT_EQ(b1->beaconSerialNo(), "SN100-1");
  EXPECT_EQ(b1->measuredPowerAt1Meter(), 1);
  auto history = b1->history();
  ASSERT_EQ(history.size(), 11u);
  EXPECT_EQ(history.front()->rssi(), -62);  // the first pass's entry was dropped
  EXPECT_EQ(history.back()->rssi(), -72);
  EXPECT_TRUE(history.back()->history().empty());
  // B2 was never heard: its history holds copies of its unchanged values.
  auto b2History = laneBeacons[1]->history();
  ASSERT_EQ(b2History.size(), 11u);
  EXPECT_EQ(b2History.back()->rssi(), 0);
}

}  // namespace
}  // namespace velmora::lane_test
