#include "beacons/model/KSBeaconVersion.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// Nested lookups export in their own forms: loudness and mode by id alone, target speed in
// full, the region under its own JSON keys; "version" itself is never exported.
TEST(KSBeaconVersion, ExportNestsEachRecordInItsOwnForm) {
  auto version = KSBeaconVersion::initWithDictionary(json(R"({"id":"v1","version":7,
      "proximityUUID":"61687109-905F-4436-91F8-E602F514C96D","major":10,"minor":20,
      "targetSpeed":{"id":2,"name":"normal","displayName":"Normal","milliseconds":350},
      "beaconLoudness":{"id":4,"name":"loud","level":4,"measuredPowerAt1Meter":-59},
      "measuredPowerAt1Meter":-61,
      "beaconRegion":{"id":"r1","regionIdentifier":"lobby"},
      "beaconMode":{"id":2,"name":"ibeacon"},
      "firmwareVersion":"1.10","privacyDuration":15})"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->version(), 7);
  EXPECT_EQ(version->proximityUUIDString(), "61687109-905F-4436-91F8-E602F514C96D");
  EXPECT_EQ(written(Value(version->toDictionary())), written(json(R"({"id":"v1",
      "proximityUUID":"61687109-905F-4436-91F8-E602F514C96D","major":10,"minor":20,
      "targetSpeed":{"id":2,"name":"normal","displayName":"Normal","milliseconds":350},
      "beaconLoudness":{"id":4},
      "measuredPowerAt1Meter":-61,
      "beaconRegion":{"id":"r1","regionIdentifier":"lobby","isAppManaged":false},
      "beaconMode":{"id":2},
      "firmwareVersion":"1.10","privacyDuration":15})")));
}

TEST(KSBeaconVersion, MeasuredPowerFallsBackToTheLoudness) {
  struct Case {
    const char* name;
    std::optional<std::int64_t> own;
    std::optional<std::int64_t> loudness;  // nullopt: no loudness record
    std::int64_t expected;
  };
  const std::vector<Case> cases = {
      {"own value", -61, -59, -61},
      {"own value of 0 still wins", 0, -59, 0},
      {"loudness when unset", std::nullopt, -59, -59},
      {"neither", std::nullopt, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    KSBeaconVersion version;
    version.setMeasuredPowerAt1Meter(c.own);
    if (c.loudness) {
      auto loudness = std::make_shared<KSBeaconLoudness>();
      loudness->setMeasuredPowerAt1Meter(*c.loudness);
      version.setBeaconLoudness(loudness);
    }
    EXPECT_EQ(version.measuredPowerAt1MeterOrDefault(), c.expected) << c.name;
  }
}

TEST(KSBeaconVersion, FirmwareComparisons) {
  struct Case {
    std::optional<std::string> firmware;
    const char* other;
    bool greater, greaterOrEqual, lessOrEqual, less;
  };
  const std::vector<Case> cases = {
      {"1.10", "1.9", true, true, false, false},
      {"1.9", "1.10", false, false, true, true},
      {"2", "2.0.0", false, true, true, false},
      {"2.0.0", "2", false, true, true, false},
      {"", "1.0", false, false, false, false},
      {"", "", false, false, false, false},
      {std::nullopt, "1.0", false, false, false, false},
  };
  for (const auto& c : cases) {
    KSBeaconVersion version;
    version.setFirmwareVersion(c.firmware);
    const std::string label = c.firmware.value_or("<unset>") + " vs " + c.other;
    EXPECT_EQ(version.isFirmwareVersionGreaterThanVersion(c.other), c.greater) << label;
    EXPECT_EQ(version.isFirmwareVersionGreaterThanOrEqualVersion(c.other), c.greaterOrEqual) << label;
    EXPECT_EQ(version.isFirmwareVersionLessThanOrEqualVersion(c.other), c.lessOrEqual) << label;
    EXPECT_EQ(version.isFirmwareVersionLessThanVersion(c.other), c.less) << label;
  }
}

}  // namespace
}  // namespace velmora::kestrine
