#include "parking/lane_detection/BeaconModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "parking/lane_detection/BeaconSDKPort.h"
#include "parking/lane_detection/BeaconServiceResult.h"
#include "platform/core/Json.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora {
namespace {

constexpr const char* kUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
constexpr const char* kUid = "EDD1EBEAC04E5DEFA017" "0BDB87539B67";

class BeaconModelTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::dispatch::Scheduler::setShared(scheduler); }
  void TearDown() override { platform::dispatch::Scheduler::setShared(nullptr); }
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromReferenceSeconds(1000));
};

RangedBeacon ibeacon(std::optional<std::int64_t> major, std::optional<std::int64_t> minor) {
  RangedBeacon b;
  b.proximityUUIDString = kUuid;
  b.major = major;
  b.minor = minor;
  b.rssi = -63;
  b.serialNumber = "SN-1";
  b.name = "Gate A";
  b.proximity = 3;
  b.accuracy = 2.25;
  return b;
}

TEST_F(BeaconModelTest, ConvertsTheIdentifierOfEachKind) {
  RangedBeacon both = ibeacon(100, 7);  // heard as iBeacon and as Eddystone UID
  both.isEddystone = true;
  both.eddystoneUID = kUid;
  RangedBeacon lowerCase = ibeacon(1, 2);
  lowerCase.proximityUUIDString = "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0";
  RangedBeacon uidOnly;
  uidOnly.isEddystone = true;
  uidOnly.eddystoneUID = kUid;
  struct Case {
    const char* what;
    RangedBeacon beacon;
    std::string beaconID;
  } cases[] = {
      {"major and minor", ibeacon(100, 7), std::string(kUuid) + ":100:7"},
      {"major 0 is a value", ibeacon(0, 5), std::string(kUuid) + ":0:5"},
      {"no major, no minor", ibeacon(std::nullopt, std::nullopt), std::string(kUuid) + "::"},
      {"minor only", ibeacon(std::nullopt, 9), std::string(kUuid) + "::9"},
      {"Eddystone wins over the UUID", both, std::string(kUid) + ":100:7"},
      {"Eddystone UID alone", uidOnly, std::string(kUid) + "::"},
      {"identifier verbatim", lowerCase, "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0:1:2"},
  };
  for (const auto& c : cases) {
    auto model = BeaconModel::toModel(c.beacon);
    ASSERT_TRUE(model) << c.what;
    EXPECT_EQ(model->beaconID(), c.beaconID) << c.what;
  }
}

TEST_F(BeaconModelTest, CopiesTheReadingAndAlwaysCarriesMeasuredPowerOne) {
  auto model = BeaconModel::toModel(ibeacon(100, 7));
  ASSERT_TRUE(model);
  auto v = model->values();
  EXPECT_EQ(v.serialNumber, "SN-1");
  EXPECT_EQ(v.name, "Gate A");
  EXPECT_EQ(v.rssi, -63);
  EXPECT_EQ(v.proximity, 3);
  EXPECT_EQ(v.accuracy, 2.25);
  EXPECT_EQ(v.measuredPowerAt1Meter, 1);
  EXPECT_EQ(v.lastUpdated, platform::Date::fromReferenceSeconds(1000));
}

TEST_F(BeaconModelTest, MissingValuesReadAsEmptyAndBeaconsWithoutTheirIdentifierAreSkipped) {
  RangedBeacon bare;
  bare.proximityUUIDString = kUuid;
  auto model = BeaconModel::toModel(bare);
  ASSERT_TRUE(model);
  EXPECT_EQ(model->name(), "");
  EXPECT_EQ(model->serialNumber(), "");
  EXPECT_EQ(model->rssi(), 0);

  RangedBeacon urlOnly = ibeacon(1, 1);  // Eddystone heard only by URL: no UID
  urlOnly.isEddystone = true;
  EXPECT_EQ(BeaconModel::toModel(urlOnly), nullptr);
  RangedBeacon noUuid = ibeacon(1, 1);
  noUuid.proximityUUIDString.reset();
  EXPECT_EQ(BeaconModel::toModel(noUuid), nullptr);
}

TEST_F(BeaconModelTest, UpdateReportsAChangeOfAnyComparedValueAndAlwaysCopies) {
  const BeaconModel::Values base{"U:1:2", "SN", "Gate", -60, 2, 1.5, 1, platform::Date::fromReferenceSeconds(5)};
  struct Case {
    const char* what;
    std::function<void(BeaconModel::Values&)> change;
    bool changed;
  } cases[] = {
      {"identical values, newer date", [](auto& v) { v.lastUpdated = platform::Date::fromReferenceSeconds(9); }, false},
      {"rssi", [](auto& v) { v.rssi = -61; }, true},
      {"beaconID", [](auto& v) { v.beaconID = "U:1:3"; }, true},
      {"serialNumber", [](auto& v) { v.serialNumber = "SN2"; }, true},
      {"name", [](auto& v) { v.name = "Gate B"; }, true},
      {"proximity", [](auto& v) { v.proximity = 3; }, true},
      {"accuracy", [](auto& v) { v.accuracy = 1.75; }, true},
      {"measuredPowerAt1Meter", [](auto& v) { v.measuredPowerAt1Meter = -59; }, true},
      {"NaN accuracy", [](auto& v) { v.accuracy = std::numeric_limits<double>::quiet_NaN(); }, true},
  };
  for (const auto& c : cases) {
    auto stored = BeaconModel::create(base);
    BeaconModel::Values next = base;
    next.lastUpdated = platform::Date::fromReferenceSeconds(9);
    c.change(next);
    EXPECT_EQ(stored->update(*BeaconModel::create(next)), c.changed) << c.what;
    auto after = stored->values();
    EXPECT_EQ(after.lastUpdated, platform::Date::fromReferenceSeconds(9)) << c.what;
    EXPECT_EQ(after.rssi, next.rssi) << c.what;
    EXPECT_EQ(after.beaconID, next.beaconID) << c.what;
  }
  // A NaN stored value differs from a NaN argument too.
  BeaconModel::Values nan = base;
  nan.accuracy = std::numeric_limits<double>::quiet_NaN();
  auto stored = BeaconModel::create(nan);
  EXPECT_TRUE(stored->update(*BeaconModel::create(nan)));
}

TEST_F(BeaconModelTest, JsonCarriesAllEightKeysAndRoundTrips) {
  auto model =
      BeaconModel::create({"U:1:2", "SN", "Gate", -60, 2, 1.5, 1, platform::Date::fromReferenceSeconds(812.25)});
  platform::Error error;
  auto text = encodeBeaconModelJSON(*model, &error);
  ASSERT_TRUE(text) << error.debugDescription();
  EXPECT_EQ(*text, R"({"beaconID":"U:1:2","serialNumber":"SN","name":"Gate","rssi":-60,"proximity":2,)"
                   R"("accuracy":1.5,"measuredPowerAt1Meter":1,"lastUpdated":812.25})")
      << "the fields' own order";
  auto json = platform::json::parse(*text);
  ASSERT_TRUE(json);
  EXPECT_EQ(json->size(), 8u);
  EXPECT_EQ(*(*json)["beaconID"].string(), "U:1:2");
  EXPECT_EQ((*json)["rssi"].toInt64(), -60);
  EXPECT_EQ((*json)["lastUpdated"].toDouble(), 812.25);

  auto back = decodeBeaconModelJSON(*text, &error);
  ASSERT_TRUE(back) << error.debugDescription();
  auto v = back->values();
  EXPECT_EQ(v.beaconID, "U:1:2");
  EXPECT_EQ(v.serialNumber, "SN");
  EXPECT_EQ(v.name, "Gate");
  EXPECT_EQ(v.proximity, 2);
  EXPECT_EQ(v.accuracy, 1.5);
  EXPECT_EQ(v.measuredPowerAt1Meter, 1);
  EXPECT_EQ(v.lastUpdated, platform::Date::fromReferenceSeconds(812.25));
}

TEST_F(BeaconModelTest, DecodingNeedsEveryKeyWithItsType) {
  const char* keys[] = {"beaconID", "serialNumber", "name", "rssi", "proximity", "accuracy",
                        "measuredPowerAt1Meter", "lastUpdated"};
  auto full = *platform::json::parse(
      R"({"beaconID":"U:1:2","serialNumber":"SN","name":"","rssi":-60,"proximity":2,"accuracy":1.5,)"
      R"("measuredPowerAt1Meter":1,"lastUpdated":10})");
  for (const char* key : keys) {
    platform::Dict without = *full.dict();
    without.erase(key);
    platform::Error error;
    EXPECT_FALSE(decodeBeaconModelJSON(*platform::json::write(platform::Value(without)), &error)) << key;
    EXPECT_FALSE(error.domain.empty()) << key;

    platform::Dict wrong = *full.dict();
    wrong[key] = platform::Value(std::string(key) == "beaconID" ? platform::Value(3) : platform::Value("x"));
    if (std::string(key) == "serialNumber" || std::string(key) == "name") wrong[key] = platform::Value(true);
    EXPECT_FALSE(decodeBeaconModelJSON(*platform::json::write(platform::Value(wrong)))) << key << " wrong type";
  }
  EXPECT_FALSE(decodeBeaconModelJSON(R"({"beaconID":null,"serialNumber":"","name":"","rssi":0,"proximity":0,)"
                                     R"("accuracy":0,"measuredPowerAt1Meter":1,"lastUpdated":0})"));
  EXPECT_FALSE(decodeBeaconModelJSON("[]"));
}

TEST_F(BeaconModelTest, ServiceResultJson) {
  platform::Error error;
  auto fresh = encodeRecordJSON(BeaconServiceResult{}, &error);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(*fresh, R"({"success":true,"message":""})");
  auto json = platform::json::parse(*fresh);
  EXPECT_EQ(json->size(), 2u);
  EXPECT_EQ((*json)["success"].toBool(), true);
  EXPECT_EQ(*(*json)["message"].string(), "");

  auto decoded = decodeRecordJSON<BeaconServiceResult>(R"({"success":false,"message":"Status=1"})");
  ASSERT_TRUE(decoded);
  EXPECT_FALSE(decoded->success);
  EXPECT_EQ(decoded->message, "Status=1");

  for (const char* bad : {R"({"success":true})", R"({"message":""})", R"({"success":"yes","message":""})",
                          R"({"success":true,"message":7})"}) {
    EXPECT_FALSE(decodeRecordJSON<BeaconServiceResult>(bad, &error)) << bad;
  }
}

}  // namespace
}  // namespace velmora
