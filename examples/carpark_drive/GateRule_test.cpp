// The gate app's rule on lanes and snapshots made by hand, one look a second.
#include "examples/carpark_drive/GateRule.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "parking/carpark_api/LaneBeaconModel.h"

namespace {

using carparkdrive::GateRule;
using velmora::BeaconModel;
using velmora::LaneModel;
using velmora::platform::Date;

// Two entry lanes side by side (minimum RSSI -72, two detection seconds) and one exit lane,
// one beacon each; the test sets what lane detection would: the lanes' signal, and the
// snapshot of each beacon with when it was last heard.
class GateRuleTest : public ::testing::Test {
 protected:
  GateRuleTest() {
    lanes = {lane(101, 1), lane(102, 1), lane(201, 2)};
    for (const auto& l : lanes) beacons.push_back(BeaconModel::create({.beaconID = beaconOf(*l->laneId())}));
    rule.setClock([](Date d) { return d.timeIntervalSinceReferenceDate(); });
    rule.setLanes(lanes);
    rule.setBeacons(beacons);
  }
  static std::string beaconOf(std::int64_t laneId) { return "U:1:" + std::to_string(laneId); }
  static std::shared_ptr<LaneModel> lane(std::int64_t id, std::int64_t type) {
    auto l = LaneModel::create();
    l->setLaneId(id);
    l->setLaneType(type);
    l->setMinRSSI(-72);
    l->setMinDetectionSecs(2);
    auto lb = velmora::LaneBeaconModel::create();
    lb->setBeaconId(beaconOf(id));
    l->setLaneBeacons({lb});
    return l;
  }
  // One second of lane detection at time t: each lane's signal (0 for a lane whose beacon
  // was not heard, which keeps its last signal), then the host's look.
  std::optional<std::int64_t> second(double t, std::vector<int> rssi, std::int64_t type = 1) {
    for (std::size_t i = 0; i < lanes.size(); ++i) {
      if (rssi[i] == 0) continue;
      lanes[i]->setRssi(rssi[i]);
      beacons[i]->setRssi(rssi[i]);
      beacons[i]->setLastUpdated(Date::fromReferenceSeconds(t));
    }
    auto decided = rule.look(t, type);
    return decided ? decided->laneId() : std::nullopt;
  }

  std::vector<std::shared_ptr<LaneModel>> lanes;
  std::vector<std::shared_ptr<BeaconModel>> beacons;
  GateRule rule;
};

TEST_F(GateRuleTest, ALaneThatLeadsClearlyForItsDetectionSecondsIsReportedOnce) {
  EXPECT_EQ(second(1, {-70, -66, 0}), std::nullopt);
  EXPECT_EQ(second(2, {-70, -65, 0}), std::nullopt);
  EXPECT_EQ(second(3, {-71, -66, 0}), 102);
  // Reported: the rule starts over and needs the lane to lead again.
  EXPECT_EQ(second(4, {-71, -66, 0}), std::nullopt);
}

TEST_F(GateRuleTest, NeighboursWithinTheMarginOrBelowTheMinimumDecideNothing) {
  for (double t = 1; t <= 10; ++t) {
    // Trading places by a decibel each second: never plainly the strongest.
    EXPECT_EQ(second(t, {static_cast<int>(t) % 2 ? -67 : -66, static_cast<int>(t) % 2 ? -66 : -67, 0}), std::nullopt);
  }
  rule.forget();
  for (double t = 11; t <= 20; ++t) EXPECT_EQ(second(t, {-85, -74, 0}), std::nullopt) << "below -72";
  // The exit lane is not what is looked for on the way in, however strong.
  for (double t = 21; t <= 30; ++t) EXPECT_EQ(second(t, {-85, -85, -60}), std::nullopt);
}

TEST_F(GateRuleTest, ALaneWhoseBeaconsWentSilentIsNoLongerTheStrongest) {
  EXPECT_EQ(second(1, {-80, -62, 0}), std::nullopt);
  // Lane 102's beacon falls silent; lane detection keeps its -62. Lane 101 alone is heard,
  // below its minimum at first, then above it.
  EXPECT_EQ(second(2, {-80, 0, 0}), std::nullopt);
  EXPECT_EQ(second(3, {-75, 0, 0}), std::nullopt);
  EXPECT_EQ(second(4, {-64, 0, 0}), std::nullopt);
  EXPECT_EQ(second(5, {-64, 0, 0}), std::nullopt);
  EXPECT_EQ(second(6, {-64, 0, 0}), std::nullopt);
  EXPECT_EQ(second(7, {-64, 0, 0}), 101);
}

}  // namespace
