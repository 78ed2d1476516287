#include "beacons/bluetooth/KSBeaconStringify.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBatteryStatus.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"
#include "beacons/model/KSTargetSpeed.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Value;
namespace bs = beacon_stringify;
using Op = std::function<std::optional<std::string>(const KSBeacon&)>;

Value adData(std::string_view type, double at, platform::Dict fields) {
  fields[std::string(KSAdDataTypeKey)] = Value(type);
  fields[std::string(KSAdDataTimestampKey)] = Value(Date::fromReferenceSeconds(at));
  return Value(std::move(fields));
}

std::shared_ptr<KSCategory> category(std::string name) {
  auto c = std::make_shared<KSCategory>();
  c->setName(std::move(name));
  return c;
}

// A beacon with every property set; with `makerAd` it has also heard a maker frame.
std::shared_ptr<KSBeacon> fixture(bool makerAd) {
  auto b = std::make_shared<KSBeacon>();
  b->setPrivacyDuration(Value(15));
  b->setSyncStatus(KSSyncStatusSynced);
  b->setVersion(Value(12));
  b->setPendingVersion(Value(13));
  auto speed = std::make_shared<KSTargetSpeed>();
  speed->setDisplayName("Fast");
  speed->setMilliseconds(100);
  b->setTargetSpeed(speed);
  auto loudness = std::make_shared<KSBeaconLoudness>();
  loudness->setDisplayName("Loud");
  loudness->setLevel(4);
  loudness->setMeasuredPowerAt1Meter(-59);
  b->setBeaconLoudness(loudness);
  b->setMajor(Value(100));
  b->setMinor(Value(7));
  auto battery = std::make_shared<KSBatteryStatus>();
  battery->setDisplayName("Good");
  b->setBatteryStatus(battery);
  b->setLastKnownBatteryLevel(Value(88));
  b->setMeasuredPowerAt1Meter(Value(-61));
  b->setRssi(Value(-40));
  b->setAccuracy(2.456);
  b->setProximity(2);
  auto mapPoint = std::make_shared<KSMapPoint>();
  mapPoint->setMapName("Level 2");
  mapPoint->setPoint(KSPoint::pointWithXY(12.5, -3));
  b->setMapPoint(mapPoint);
  b->setCategories(std::vector{category("Entry"), category("Exit")});
  // An iBeacon frame alone never counts as a maker advertisement.
  b->setAdData(adData(KSAdDataTypeAppleIBeaconKey, 1, {{std::string(KSAdDataMajorKey), Value(1)}}),
               KSAdDataTypeAppleIBeaconKey);
  if (makerAd) {
    b->setAdData(adData(KSAdDataTypeKestrineSecureKey, 2,
                        {{std::string(KSKestrineAdDataTypeKey), Value(3)},
                         {std::string(KSAdDataSettingsVersionKey), Value(14)},
                         {std::string(KSAdDataTargetSpeedInMillisecondsKey), Value(250)},
                         {std::string(KSAdDataBeaconLoudnessLevelKey), Value(5)},
                         {std::string(KSAdDataMajorKey), Value(101)},
                         {std::string(KSAdDataMinorKey), Value(8)},
                         {std::string(KSAdDataBatteryLevelKey), Value(87)},
                         {std::string(KSAdDataTxPowerLevelKey), Value(-4)},
                         {std::string(KSAdDataMeasuredPowerAt1MeterKey), Value(-58)}}),
                 KSAdDataTypeKestrineSecureKey);
  }
  return b;
}

TEST(KSBeaconStringifyTest, EveryOperationWithAndWithoutAMakerAdvertisement) {
  using S = std::optional<std::string>;
  struct Case {
    const char* name;
    Op op;
    S withAd, withoutAd;
  };
  const std::vector<Case> cases = {
      {"privacyDuration", bs::privacyDurationString, "15 mins", "15 mins"},
      {"syncStatus", bs::syncStatusString, "Synced", "Synced"},
      {"version", bs::versionString, "12", "12"},
      {"versionAd", bs::versionStringFromKestrineAdData, "14", std::nullopt},
      {"pendingVersion", bs::pendingVersionString, "13", "13"},
      {"adDataType", bs::adDataTypeStringFromKestrineAdData, "Secure 2", "Unknown"},
      {"targetSpeed", bs::targetSpeedString, "Fast", "Fast"},
      {"targetSpeedMs", bs::targetSpeedInMillisecondsString, "100 ms", "100 ms"},
      {"targetSpeedMsAd", bs::targetSpeedInMillisecondsStringFromKestrineAdData, "250 ms", std::nullopt},
      {"loudness", bs::beaconLoudnessString, "Loud", "Loud"},
      {"loudnessLevel", bs::beaconLoudnessLevelString, "4", "4"},
      {"loudnessLevelAd", bs::beaconLoudnessLevelStringFromKestrineAdData, "5", std::nullopt},
      // The record's major and minor prefer the newest maker advertisement's.
      {"major", bs::majorString, "101", "100"},
      {"minor", bs::minorString, "8", "7"},
      {"majorAd", bs::majorStringFromKestrineAdData, "101", std::nullopt},
      {"minorAd", bs::minorStringFromKestrineAdData, "8", std::nullopt},
      {"batteryStatus", bs::batteryStatusString, "Good", "Good"},
      {"batteryLevelAd", bs::batteryLevelStringFromKestrineAdData, "87%", std::nullopt},
      {"lastKnownBattery", bs::lastKnownBatteryLevelString, "87%", "88%"},
      {"txPowerAd", bs::txPowerLevelStringFromKestrineAdData, "-4 dBm", std::nullopt},
      {"measuredPower", bs::measuredPowerAt1MeterString, "-61 dBm", "-61 dBm"},
      {"measuredPowerAd", bs::measuredPowerAt1MeterStringFromKestrineAdData, "-58 dBm", std::nullopt},
      {"measuredPowerLoudness", bs::measuredPowerAt1MeterStringFromBeaconLoudness, "-59 dBm", "-59 dBm"},
      {"rssi", bs::rssiString, "-40 dBm", "-40 dBm"},
      {"accuracy", bs::accuracyString, "2.46 m", "2.46 m"},
      {"proximity", bs::proximityString, "Near", "Near"},
      {"mapPoint", bs::mapPointString, "Level 2 (12.500000, -3.000000)", "Level 2 (12.500000, -3.000000)"},
      {"categoryCount", bs::categoryCountString, "2", "2"},
      {"categoriesJoined", [](const KSBeacon& b) { return bs::categoriesJoinedByString(b, ", "); }, "Entry, Exit",
       "Entry, Exit"},
  };
  const auto withAd = fixture(true);
  const auto withoutAd = fixture(false);
  EXPECT_EQ(beacon_kestrine_ad_data::adDataTypeFromKestrineAdData(*withAd), 3);
  EXPECT_EQ(beacon_kestrine_ad_data::adDataTypeFromKestrineAdData(*withoutAd), -1);
  for (const auto& c : cases) {
    EXPECT_EQ(c.op(*withAd), c.withAd) << c.name;
    EXPECT_EQ(c.op(*withoutAd), c.withoutAd) << c.name;
  }
}

TEST(KSBeaconStringifyTest, ABareBeaconGivesNoTextExceptTheAlwaysPresentOnes) {
  const KSBeacon bare;
  for (const Op& op : std::vector<Op>{bs::privacyDurationString, bs::versionString, bs::pendingVersionString,
                                      bs::targetSpeedString, bs::targetSpeedInMillisecondsString,
                                      bs::beaconLoudnessString, bs::beaconLoudnessLevelString, bs::majorString,
                                      bs::minorString, bs::batteryStatusString, bs::lastKnownBatteryLevelString,
                                      bs::measuredPowerAt1MeterString, bs::rssiString, bs::mapPointString,
                                      bs::categoryCountString}) {
    EXPECT_EQ(op(bare), std::nullopt);
  }
  EXPECT_EQ(bs::categoriesJoinedByString(bare, ","), std::nullopt);
  EXPECT_EQ(bs::measuredPowerAt1MeterStringFromBeaconLoudness(bare), "0 dBm");
  EXPECT_EQ(bs::syncStatusString(bare), "Not synced");
  EXPECT_EQ(bs::proximityString(bare), "Unknown");
  EXPECT_EQ(bs::adDataTypeStringFromKestrineAdData(bare), "Unknown");
}

TEST(KSBeaconStringifyTest, ListsMapPointsAndAdTypesAtTheirEdges) {
  KSBeacon b;
  b.setCategories(std::vector<std::shared_ptr<KSCategory>>{});
  EXPECT_EQ(bs::categoriesJoinedByString(b, ", "), "");
  EXPECT_EQ(bs::categoryCountString(b), "0");

  auto pointless = std::make_shared<KSMapPoint>();
  pointless->setMapName("Roof");
  b.setMapPoint(pointless);
  EXPECT_EQ(bs::mapPointString(b), std::nullopt);
  auto unnamed = std::make_shared<KSMapPoint>();
  unnamed->setPoint(KSPoint::pointWithXY(1, 2));
  b.setMapPoint(unnamed);
  EXPECT_EQ(bs::mapPointString(b), "(null) (1.000000, 2.000000)");

  // A maker type without a name, and a type value that is not a usable integer.
  struct TypeCase {
    Value type;
    std::int64_t number;
    const char* text;
  };
  for (const auto& c : std::vector<TypeCase>{{Value(6), 6, "NewBorn 1"},
                                             {Value(42), 42, "Unknown"},
                                             {Value("3"), -1, "Unknown"},
                                             {Value(std::numeric_limits<double>::quiet_NaN()), -1, "Unknown"}}) {
    b.setAdData(adData(KSAdDataTypeKestrineSecureKey, 1, {{std::string(KSKestrineAdDataTypeKey), c.type}}),
                KSAdDataTypeKestrineSecureKey);
    EXPECT_EQ(beacon_kestrine_ad_data::adDataTypeFromKestrineAdData(b), c.number) << c.text;
    EXPECT_EQ(bs::adDataTypeStringFromKestrineAdData(b), c.text);
  }
}

}  // namespace
}  // namespace velmora::kestrine
