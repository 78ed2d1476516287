// A drive through one car park at lane level, against the parking fake on a loopback port:
// the service's own lookups over HTTP, the host reporting enter and exit and handing the
// new status to the service, the beacon SDK replaced by the fake.
#include <gtest/gtest.h>

#include <map>

#include "parking/carpark_api/CarParkAPI.h"
#include "testing/LaneDetectionTestSupport.h"
#include "parking/user_api/UserAPI.h"
#include "testing/ParkingServiceFake.h"

namespace velmora::lane_test {
namespace {

class LaneDriveTest : public VirtualServiceTest {
 protected:
  void SetUp() override {
    platform::dispatch::Scheduler::setShared(scheduler);
    VelmoraSDKConfig::setServerName(fake.baseUrl());
    VelmoraSDKConfig::setUser(42, "token-42");
    auto carPark = carParkReply(
        7, "Harbour",
        {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1), beaconId(100, 2)}},
         {.laneId = 102, .laneType = 1, .group = 1, .sortOrder = 2, .beacons = {beaconId(100, 3)}},
         {.laneId = 201, .laneType = 2, .group = 2, .sortOrder = 1, .beacons = {beaconId(100, 4)}}});
    ASSERT_TRUE(fake.addCarPark(*encodeRecordJSON(carPark)));
    service = BeaconService::create(sdk);  // the default lookups: the parking APIs over HTTP
    service->setDelegate(recorder);
    service->initService();
    const std::map<std::string, std::string> names{{beaconId(999, 9), "Z"},  {beaconId(100, 1), "B1"},
                                                   {beaconId(100, 2), "B2"}, {beaconId(100, 3), "B3"},
                                                   {beaconId(100, 4), "B4"}};
    recorder->label = [names](const std::string& id) { return names.at(id); };
  }

  std::size_t calls(std::string_view path) {
    std::size_t n = 0;
    for (const auto& r : fake.server().requests()) n += r.target == path;
    return n;
  }
  // What the host does at a gate: report the lane, then hand the new status to the service.
  void gate(bool enter, std::int64_t laneId) {
    if (enter) {
      EXPECT_EQ(CarParkAPI::enter(laneId, laneId).result, "Success");
    } else {
      EXPECT_EQ(CarParkAPI::exit(laneId, laneId).result, "Success");
    }
    StatusResult status = UserAPI::status();
    ASSERT_EQ(status.result, "Success");
    service->setUserStatus(status);
    scheduler->runUntilIdle();
  }
  std::vector<std::string> heardAt(double t, std::vector<RangedBeacon> beacons) {
    at(t);
    report(std::move(beacons));
    return recorder->take();
  }

  velmora::testing::ParkingServiceFake fake;
};

TEST_F(LaneDriveTest, EntryLaneThenExitLane) {
  const auto Z = [](std::int64_t rssi) { return b(9, rssi, 999); };
  const std::vector<RangedBeacon> approach{Z(-60), b(1, -65), b(2, -75), b(3, -85)};

  EXPECT_EQ(heardAt(1, approach),
            (std::vector<std::string>{"N(Harbour)", "I(7)", "C(nil)", "L[]", "LB[]", "L[101,102]", "C(nil)",
                                      "LB[101 -70,102 -85]", "B[Z,B1,B2,B3]"}));
  EXPECT_EQ(heardAt(2, approach), (std::vector<std::string>{"L[101,102]", "C(nil)", "LB[101 -70,102 -85]"}));
  EXPECT_EQ(heardAt(3, approach), (std::vector<std::string>{"L[101,102]", "C(101)", "LB[101 -70,102 -85]"}));
  EXPECT_EQ(heardAt(4, {Z(-60), b(1, -80), b(2, -84), b(3, -62)}),
            (std::vector<std::string>{"L[101,102]", "C(102)", "LB[102 -62,101 -82]", "B[Z,B1,B2,B3]"}));
  // The closest lane is the very lane object listed among the lanes.
  ASSERT_EQ(recorder->lastLanes().size(), 2u);
  EXPECT_EQ(service->getClosestLane().get(), recorder->lastLanes()[1].get());
  EXPECT_TRUE(service->getClosestLane()->closest());
  EXPECT_FALSE(recorder->lastLanes()[0]->closest());

  at(4.5);
  gate(true, 102);
  EXPECT_TRUE(fake.inCarPark());
  EXPECT_EQ(recorder->take(), resetEvents());
  EXPECT_EQ(service->getCarParkId(), 7);

  for (double t : {5.0, 6.0, 7.0, 8.0, 9.0}) EXPECT_TRUE(heardAt(t, {}).empty()) << t;
  at(14.9);
  EXPECT_TRUE(recorder->take().empty());  // the tick at 10 finds 1 s of silence
  at(15);
  EXPECT_EQ(recorder->take(), resetEvents());
  at(20);
  EXPECT_EQ(recorder->take(), resetEvents());

  EXPECT_EQ(heardAt(21, {b(1, -55), b(4, -60)}),
            (std::vector<std::string>{"L[201]", "C(201)", "LB[201 -60]", "B[B1,B4]"}));
  at(21.5);
  gate(false, 201);
  EXPECT_FALSE(fake.inCarPark());
  EXPECT_EQ(recorder->take(), resetEvents());

  EXPECT_EQ(calls("/v4.0/user/status"), 3u);
  EXPECT_EQ(calls("/v4.0/carpark/detail"), 3u);
  EXPECT_EQ(calls("/v4.0/carpark/enter"), 1u);
  EXPECT_EQ(calls("/v4.0/carpark/exit"), 1u);
}

TEST_F(LaneDriveTest, TheFakeAnswersDetailsByBeaconAndStatusByTheLastGate) {
  DetailsRequest known;
  known.beaconID = beaconId(100, 4);
  DetailsResult found = CarParkAPI::detail(known);
  EXPECT_EQ(found.result, "Success");
  EXPECT_EQ(found.carParkId, 7);
  DetailsRequest unknown;
  unknown.beaconID = beaconId(999, 9);
  EXPECT_EQ(CarParkAPI::detail(unknown).message, "Http Status failed: 404");

  EXPECT_FALSE(UserAPI::status().inCarPark);
  CarParkAPI::enter(201, std::nullopt);
  StatusResult in = UserAPI::status();
  EXPECT_TRUE(in.inCarPark);
  EXPECT_EQ(in.carParkId, 7);
  CarParkAPI::exit(201, std::nullopt);
  EXPECT_FALSE(UserAPI::status().inCarPark);
  EXPECT_EQ(UserAPI::status().carParkId, std::nullopt);
}

}  // namespace
}  // namespace velmora::lane_test
