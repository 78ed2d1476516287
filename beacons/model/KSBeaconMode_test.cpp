#include "beacons/model/KSBeaconMode.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "beacons/model/KSBatteryStatus.h"
#include "beacons/model/KSBeaconFirmware.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconRSSILog.h"
#include "beacons/model/KSPlatformType.h"
#include "beacons/model/KSTargetSpeed.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

Value json(std::string_view text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v.value_or(Value());
}

TEST(KSBeaconMode, OnlyModesOneToSixAreValidForSettings) {
  const std::vector<std::pair<std::int64_t, bool>> table = {
      {-1, false}, {0, false}, {1, true}, {2, true}, {3, true}, {4, true},
      {5, true},   {6, true},  {7, false}, {8, false}, {INT64_MIN, false}, {INT64_MAX, false},
  };
  for (const auto& [mode, valid] : table) EXPECT_EQ(KSBeaconMode::isValidBeaconModeID(mode), valid) << mode;
  EXPECT_EQ(KSBeaconModeIDIBeaconPlusUID, 7);
}

// Each lookup record imported from the platform's form, and what it exports and how it
// describes itself. Whitelisted records export their identifier alone, as "id".
TEST(KSBeaconLookups, ImportExportAndDescription) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<KSJSONModel>(const Value&)> import;
    const char* input;
    const char* exported;
    std::string description;
  };
  const std::vector<Case> cases = {
      {"mode", [](const Value& v) { return KSBeaconMode::initWithDictionary(v); },
       R"({"id":2,"name":"ibeacon","displayName":"iBeacon"})", R"({"id":2})", "iBeacon"},
      {"mode without display name", [](const Value& v) { return KSBeaconMode::initWithDictionary(v); },
       R"({"id":4,"name":"uid"})", R"({"id":4})", "uid"},
      {"mode with neither", [](const Value& v) { return KSBeaconMode::initWithDictionary(v); }, R"({"id":4})",
       R"({"id":4})", ""},
      {"loudness", [](const Value& v) { return KSBeaconLoudness::initWithDictionary(v); },
       R"({"id":3,"name":"loud","level":5,"measuredPowerAt1Meter":-59,"tiMeasuredPowerAt1Meter":-61})", R"({"id":3})",
       "loud"},
      {"target speed", [](const Value& v) { return KSTargetSpeed::initWithDictionary(v); },
       R"({"id":1,"name":"fast","displayName":"Fast","milliseconds":100})",
       R"({"id":1,"name":"fast","displayName":"Fast","milliseconds":100})", "Fast"},
      {"battery status", [](const Value& v) { return KSBatteryStatus::initWithDictionary(v); },
       R"({"id":2,"name":"low","displayName":""})", R"({"id":2,"name":"low","displayName":""})", ""},
      {"platform type", [](const Value& v) { return KSPlatformType::initWithDictionary(v); },
       R"({"id":1,"name":"ios","displayName":"iOS"})", R"({"id":1})", "iOS"},
      {"firmware", [](const Value& v) { return KSBeaconFirmware::initWithDictionary(v); },
       R"({"id":"f1","version":"1.2","description":"Fixes scanning","hexFileHash":"ab","otaFileHash":"cd"})",
       R"({"id":"f1","version":"1.2","description":"Fixes scanning","hexFileHash":"ab","otaFileHash":"cd"})",
       "Fixes scanning"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto record = c.import(json(c.input));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(written(Value(record->toDictionary())), written(json(c.exported)));
    EXPECT_EQ(record->description(), c.description);
    // A copy is a distinct record with the same content.
    auto copy = record->copyModel();
    EXPECT_NE(copy, record);
    EXPECT_EQ(written(Value(copy->toDictionaryWithKeys(std::nullopt))), written(Value(record->toDictionaryWithKeys(std::nullopt))));
  }
}

TEST(KSBeaconLookups, LoudnessKeepsBothMeasuredPowers) {
  auto loudness = KSBeaconLoudness::initWithDictionary(
      json(R"({"id":3,"level":5,"measuredPowerAt1Meter":-59,"tiMeasuredPowerAt1Meter":-61})"));
  ASSERT_NE(loudness, nullptr);
  EXPECT_EQ(loudness->beaconLoudnessID(), 3);
  EXPECT_EQ(loudness->level(), 5);
  EXPECT_EQ(loudness->measuredPowerAt1Meter(), -59);
  EXPECT_EQ(loudness->tiMeasuredPowerAt1Meter(), -61);

  auto log = KSBeaconRSSILog::beaconRSSILogWithRSSI(-70, platform::Date::fromUnixSeconds(100));
  EXPECT_EQ(log->rssi(), -70);
  EXPECT_EQ(log->loggedAt(), platform::Date::fromUnixSeconds(100));
}

}  // namespace
}  // namespace velmora::kestrine
