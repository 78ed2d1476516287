// The car-park, lane and lane-beacon models: construction values, the lane's threshold
// fallbacks, lane-beacon snapshots and history, the conversion from the details reply, and
// who keeps whom alive.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <memory>
#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "parking/carpark_api/CarParkModel.h"
#include "testing/CarParkTestSupport.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/service/LaneBeaconResult.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/service/LaneResult.h"

namespace velmora {
namespace {

using carpark_test::parseJSON;
using OptInt = std::optional<std::int64_t>;

TEST(CarParkModelTest, NewModelsHoldTheirConstructionValues) {
  auto lane = LaneModel::create();
  EXPECT_EQ(lane->laneId(), OptInt(0));
  for (auto v : {lane->laneType(), lane->laneGroupId(), lane->laneGroupDelay(), lane->detectionType(), lane->minRSSI(),
                 lane->minDetectionSecs(), lane->maxDetectionSecs(), lane->retrySecs(), lane->sortOrder(),
                 lane->beaconSensitivity(), lane->laneSensitivity()}) {
    EXPECT_EQ(v, std::nullopt);
  }
  EXPECT_EQ(lane->name(), "");
  EXPECT_EQ(lane->shortName(), "");
  EXPECT_TRUE(lane->laneBeacons().empty());
  EXPECT_EQ(lane->rssi(), 0);
  EXPECT_EQ(lane->carPark(), nullptr);
  EXPECT_FALSE(lane->closest());

  auto carPark = CarParkModel::create();
  EXPECT_EQ(carPark->result(), "");
  EXPECT_EQ(carPark->message(), "");
  EXPECT_EQ(carPark->carParkId(), 0);
  EXPECT_EQ(carPark->carParkName(), "");
  EXPECT_EQ(carPark->availableSpaces(), -1);
  EXPECT_FALSE(carPark->homeCarPark());
  EXPECT_TRUE(carPark->lanes().empty());

  auto beacon = LaneBeaconModel::create();
  EXPECT_EQ(beacon->laneBeaconId(), 0);
  EXPECT_EQ(beacon->beaconId(), "");
  EXPECT_EQ(beacon->beaconName(), "");
  EXPECT_EQ(beacon->beaconSerialNo(), "");
  EXPECT_EQ(beacon->rssi(), 0);
  EXPECT_EQ(beacon->rssiSmoothed(), 0);
  EXPECT_EQ(beacon->proximity(), 0);
  EXPECT_EQ(beacon->accuracy(), 0.0);
  EXPECT_EQ(beacon->measuredPowerAt1Meter(), 0);
  EXPECT_TRUE(beacon->history().empty());
}

TEST(CarParkModelTest, LaneThresholdsFallBackOnlyWhenNil) {
  struct Case {
    OptInt minRSSI, minDetectionSecs, maxDetectionSecs, retrySecs;
    std::int64_t wantMinRSSI, wantMin, wantMax, wantRetry;
  };
  const Case cases[] = {
      {{}, {}, {}, {}, 0, 5, 5, 3},
      {{}, 8, {}, {}, 0, 8, 8, 3},
      {{}, 0, {}, 0, 0, 0, 0, 0},
      {-70, {}, 12, {}, -70, 5, 12, 3},
      {0, 2, 0, 9, 0, 2, 0, 9},
  };
  for (const auto& c : cases) {
    auto lane = LaneModel::create();
    lane->setMinRSSI(c.minRSSI);
    lane->setMinDetectionSecs(c.minDetectionSecs);
    lane->setMaxDetectionSecs(c.maxDetectionSecs);
    lane->setRetrySecs(c.retrySecs);
    EXPECT_EQ(lane->getMinRSSI(), c.wantMinRSSI);
    EXPECT_EQ(lane->getMinDetectionSecs(), c.wantMin);
    EXPECT_EQ(lane->getMaxDetectionSecs(), c.wantMax);
    EXPECT_EQ(lane->getRetrySecs(), c.wantRetry);
  }
}

// A lane record's non-optional defaults arrive as present values, so the fallbacks do not
// apply to them; its nil retrySecs stays nil and does fall back.
TEST(CarParkModelTest, ALaneFromAnEmptyRecordKeepsTheRecordsDefaults) {
  auto record = decodeRecord<LaneResult>(parseJSON("{}"));
  ASSERT_TRUE(record);
  auto lane = toModel(*record);
  EXPECT_EQ(lane->minDetectionSecs(), OptInt(0));
  EXPECT_EQ(lane->getMinDetectionSecs(), 0);
  EXPECT_EQ(lane->getMaxDetectionSecs(), 0);
  EXPECT_EQ(lane->getMinRSSI(), 0);
  EXPECT_EQ(lane->retrySecs(), std::nullopt);
  EXPECT_EQ(lane->getRetrySecs(), 3);
  EXPECT_EQ(lane->beaconSensitivity(), OptInt(-100));
  EXPECT_EQ(lane->detectionType(), OptInt(1));
  EXPECT_EQ(lane->sortOrder(), OptInt(1));
  EXPECT_EQ(lane->laneGroupId(), std::nullopt);
  EXPECT_EQ(lane->carPark(), nullptr);
}

TEST(CarParkModelTest, ALaneBeaconFromItsRecordCopiesOnlyTheIds) {
  const LaneBeaconResult record{42, "B"};
  auto model = toModel(record);
  EXPECT_EQ(model->laneBeaconId(), 42);
  EXPECT_EQ(model->beaconId(), "B");
  EXPECT_EQ(model->rssi(), 0);
  EXPECT_EQ(model->accuracy(), 0.0);
  EXPECT_TRUE(model->history().empty());
  EXPECT_NE(toModel(record), model) << "each conversion makes a new object";
}

// Two lanes of three beacons each: order, counts, values and the link of every lane to
// the one new car park.
TEST(CarParkModelTest, DetailsConvertToACarParkWhoseLanesLinkBackToIt) {
  auto details = decodeRecord<DetailsResult>(parseJSON(R"({"result":"Success","message":"hi","carParkId":12,
      "carParkName":"North","availableSpaces":30,"homeCarPark":true,"lanes":[
      {"laneId":1,"laneType":2,"laneGroupId":7,"laneGroupDelay":3,"detectionType":2,"minRSSI":-75,
       "minDetectionSecs":4,"maxDetectionSecs":9,"retrySecs":6,"sortOrder":2,"name":"Entry","shortName":"E",
       "beaconSensitivity":-85,"laneSensitivity":5,
       "laneBeacons":[{"laneBeaconId":11,"beaconId":"a"},{"laneBeaconId":12,"beaconId":"b"},{"laneBeaconId":13,"beaconId":"c"}]},
      {"laneId":2,"name":"Exit",
       "laneBeacons":[{"laneBeaconId":21,"beaconId":"d"},{"laneBeaconId":22,"beaconId":"e"},{"laneBeaconId":23,"beaconId":"f"}]}
      ]})"));
  ASSERT_TRUE(details);
  auto carPark = DetailsResult::toModel(*details);
  EXPECT_EQ(carPark->result(), "Success");
  EXPECT_EQ(carPark->message(), "hi");
  EXPECT_EQ(carPark->carParkId(), 12);
  EXPECT_EQ(carPark->carParkName(), "North");
  EXPECT_EQ(carPark->availableSpaces(), 30);
  EXPECT_TRUE(carPark->homeCarPark());

  const auto lanes = carPark->lanes();
  ASSERT_EQ(lanes.size(), 2u);
  const char* ids[2][3] = {{"a", "b", "c"}, {"d", "e", "f"}};
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(lanes[i]->laneId(), OptInt(static_cast<std::int64_t>(i + 1)));
    EXPECT_EQ(lanes[i]->carPark(), carPark);
    const auto beacons = lanes[i]->laneBeacons();
    ASSERT_EQ(beacons.size(), 3u);
    for (std::size_t j = 0; j < 3; ++j) {
      EXPECT_EQ(beacons[j]->beaconId(), ids[i][j]);
      EXPECT_EQ(beacons[j]->laneBeaconId(), static_cast<std::int64_t>(10 * (i + 1) + j + 1));
    }
  }
  const auto& entry = lanes[0];
  EXPECT_EQ(entry->laneType(), OptInt(2));
  EXPECT_EQ(entry->laneGroupId(), OptInt(7));
  EXPECT_EQ(entry->laneGroupDelay(), OptInt(3));
  EXPECT_EQ(entry->detectionType(), OptInt(2));
  EXPECT_EQ(entry->getMinRSSI(), -75);
  EXPECT_EQ(entry->getMinDetectionSecs(), 4);
  EXPECT_EQ(entry->getMaxDetectionSecs(), 9);
  EXPECT_EQ(entry->getRetrySecs(), 6);
  EXPECT_EQ(entry->sortOrder(), OptInt(2));
  EXPECT_EQ(entry->name(), "Entry");
  EXPECT_EQ(entry->shortName(), "E");
  EXPECT_EQ(entry->beaconSensitivity(), OptInt(-85));
  EXPECT_EQ(entry->laneSensitivity(), OptInt(5));
  EXPECT_EQ(lanes[1]->name(), "Exit");
  EXPECT_EQ(lanes[1]->laneGroupId(), std::nullopt);

  // The same lane reached twice is the same object, and changes are seen through both.
  lanes[1]->setClosest(true);
  EXPECT_EQ(carPark->lanes()[1], lanes[1]);
  EXPECT_TRUE(carPark->lanes()[1]->closest());

  EXPECT_TRUE(DetailsResult::toModel(DetailsResult{})->lanes().empty());
}

TEST(CarParkModelTest, CopyTakesTheArgumentsValuesWithoutItsHistory) {
  auto source = LaneBeaconModel::create();
  source->setLaneBeaconId(5);
  source->setBeaconId("B");
  for (int i = 0; i < 11; ++i) source->recordReading("gate", "S1", -60 - i, 2, 1.5, -59);
  ASSERT_EQ(source->history().size(), 11u);

  auto copy = LaneBeaconModel::copy(*source);
  EXPECT_NE(copy, source);
  EXPECT_EQ(copy->laneBeaconId(), 5);
  EXPECT_EQ(copy->beaconId(), "B");
  EXPECT_EQ(copy->beaconName(), "gate");
  EXPECT_EQ(copy->beaconSerialNo(), "S1");
  EXPECT_EQ(copy->rssi(), -70);
  EXPECT_EQ(copy->rssiSmoothed(), -70);
  EXPECT_EQ(copy->proximity(), 2);
  EXPECT_EQ(copy->accuracy(), 1.5);
  EXPECT_EQ(copy->measuredPowerAt1Meter(), -59);
  EXPECT_TRUE(copy->history().empty());
  copy->setRssi(-1);
  EXPECT_EQ(source->rssi(), -70);
}

TEST(CarParkModelTest, HistoryKeepsTheLastElevenReadingsOldestFirst) {
  auto beacon = LaneBeaconModel::create();
  beacon->setBeaconId("B");
  for (int i = 1; i <= 12; ++i) beacon->recordReading(fmt::format("n{}", i), "s", -i, i % 4, i * 0.5, -59);
  const auto history = beacon->history();
  ASSERT_EQ(history.size(), LaneBeaconModel::kHistoryLimit);
  ASSERT_EQ(history.size(), 11u);
  for (std::size_t k = 0; k < history.size(); ++k) {
    EXPECT_EQ(history[k]->rssi(), -static_cast<std::int64_t>(k + 2)) << "the first reading has been dropped";
    EXPECT_TRUE(history[k]->history().empty());
    EXPECT_EQ(history[k]->beaconId(), "B");
  }
  const auto& newest = history.back();
  EXPECT_EQ(newest->beaconName(), beacon->beaconName());
  EXPECT_EQ(newest->rssi(), beacon->rssi());
  EXPECT_EQ(newest->rssiSmoothed(), -12);
  EXPECT_EQ(newest->proximity(), beacon->proximity());
  EXPECT_EQ(newest->accuracy(), 6.0);
  EXPECT_NE(newest, beacon);
}

// A lane taken from its car park keeps the car park (and its lanes) alive on its own; once
// the last pointer goes, everything is freed. The weak pointers see the frees; the
// sanitizer run sees any leak.
TEST(CarParkModelTest, ALaneHeldAloneKeepsItsCarParkAndNothingLeaks) {
  DetailsResult details;
  details.carParkId = 77;
  details.lanes.resize(2);
  details.lanes[0].laneId = 1;
  details.lanes[1].laneId = 2;
  details.lanes[1].laneBeacons = {LaneBeaconResult{1, "x"}};

  std::weak_ptr<CarParkModel> watchCarPark;
  std::weak_ptr<LaneModel> watchOtherLane;
  std::weak_ptr<LaneBeaconModel> watchBeacon;
  std::shared_ptr<LaneModel> held;
  {
    auto carPark = DetailsResult::toModel(details);
    watchCarPark = carPark;
    const auto lanes = carPark->lanes();
    watchOtherLane = lanes[1]->weak_from_this();
    watchBeacon = lanes[1]->laneBeacons()[0];
    held = lanes[0];
    carPark->setLanes(carPark->lanes());  // handing lanes back must not tie a knot
  }
  ASSERT_FALSE(watchCarPark.expired());
  auto carPark = held->carPark();
  ASSERT_NE(carPark, nullptr);
  EXPECT_EQ(carPark->carParkId(), 77);
  ASSERT_EQ(carPark->lanes().size(), 2u);
  EXPECT_EQ(carPark->lanes()[0], held);
  carPark.reset();

  held.reset();
  EXPECT_TRUE(watchCarPark.expired());
  EXPECT_TRUE(watchOtherLane.expired());
  EXPECT_TRUE(watchBeacon.expired());
}

TEST(CarParkModelTest, ALaneRemovedFromItsCarParkStaysUsable) {
  auto carPark = DetailsResult::toModel([] {
    DetailsResult d;
    d.lanes.resize(1);
    d.lanes[0].name = "only";
    return d;
  }());
  auto lane = carPark->lanes().at(0);
  std::weak_ptr<LaneModel> watchLane = lane->weak_from_this();
  carPark->setLanes({});
  EXPECT_EQ(lane->name(), "only");
  EXPECT_EQ(lane->carPark(), carPark);
  carPark.reset();
  EXPECT_NE(lane->carPark(), nullptr) << "the lane pointer still holds the car park that gave it out";
  lane.reset();
  EXPECT_TRUE(watchLane.expired());
}

TEST(CarParkModelTest, ACarParkHeldAloneKeepsItsLanes) {
  DetailsResult details;
  details.lanes.resize(3);
  auto carPark = DetailsResult::toModel(details);
  std::weak_ptr<LaneModel> watch = carPark->lanes()[2]->weak_from_this();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(carPark->lanes()[2]->carPark(), carPark);
  carPark.reset();
  EXPECT_TRUE(watch.expired());
}

TEST(CarParkModelTest, SetCarParkLinksWithoutOwning) {
  auto lane = LaneModel::create();
  auto carPark = CarParkModel::create();
  std::weak_ptr<CarParkModel> watch = carPark;
  lane->setCarPark(carPark);
  EXPECT_EQ(lane->carPark(), carPark);
  carPark.reset();
  EXPECT_TRUE(watch.expired()) << "the lane's link did not keep the car park";
  EXPECT_EQ(lane->carPark(), nullptr);
}

TEST(CarParkModelTest, EachLanesCallHandsOutItsOwnOwnerOfTheSameLane) {
  DetailsResult details;
  details.lanes.resize(1);
  auto carPark = DetailsResult::toModel(details);
  std::weak_ptr<CarParkModel> watch = carPark;
  auto first = carPark->lanes().at(0);
  auto second = carPark->lanes().at(0);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_TRUE(first.owner_before(second) || second.owner_before(first)) << "two owners";
  carPark.reset();
  first.reset();
  ASSERT_FALSE(watch.expired()) << "the second pointer alone keeps the car park";
  EXPECT_EQ(second->carPark(), watch.lock());
  second.reset();
  EXPECT_TRUE(watch.expired());
}

// Lane detection writes readings on its queue while the host app reads on another.
TEST(CarParkModelTest, ReadingsAndReadsFromTwoThreadsDoNotRace) {
  auto beacon = LaneBeaconModel::create();
  auto lane = LaneModel::create();
  lane->setLaneBeacons({beacon});
  std::thread writer([&] {
    for (int i = 0; i < 500; ++i) {
      beacon->recordReading("gate", "S", -i, 1, 0.5, -59);
      lane->setRssi(-i);
      lane->setName(i % 2 ? "odd" : "even");
    }
  });
  std::size_t seen = 0;
  for (int i = 0; i < 500; ++i) {
    seen = std::max(seen, beacon->history().size());
    EXPECT_LE(beacon->rssi(), 0);
    EXPECT_GE(beacon->rssi(), -499);
    EXPECT_LE(lane->rssi(), 0);
    EXPECT_GE(lane->rssi(), -499);
    const std::string name = lane->name();
    EXPECT_TRUE(name.empty() || name == "odd" || name == "even") << "a name read whole: " << name;
    EXPECT_TRUE(LaneBeaconModel::copy(*beacon)->history().empty());
  }
  writer.join();
  EXPECT_LE(seen, LaneBeaconModel::kHistoryLimit);
  EXPECT_EQ(beacon->history().size(), LaneBeaconModel::kHistoryLimit);
}

}  // namespace
}  // namespace velmora
