#include "beacons/model/KSMeasurement.h"

#include <gtest/gtest.h>

#include <cmath>

#include "beacons/model/KSMeasurementHistory.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;

struct DecodeCase {
  const char* name;
  std::int64_t type;
  Bytes data;
  std::optional<std::vector<double>> values;  // nullopt: no measurement
};

TEST(KSMeasurement, DecodesEachTypeFromItsDataBytes) {
  const double scale = 180.0 / 4095.0;
  const std::vector<DecodeCase> cases = {
      {"temperature 25.0", 0, {0x19, 0x00}, std::vector<double>{25.0}},
      {"temperature -0.5", 0, {0xFF, 0x80}, std::vector<double>{-0.5}},
      {"temperature type 5", 5, {0x01, 0x80}, std::vector<double>{1.5}},
      {"voltage 3.012 V", 3, {0x0B, 0xC4}, std::vector<double>{3.012}},
      {"uptime below 2^24", 4, {0x00, 0x00, 0x01, 0x2C}, std::vector<double>{30.0}},
      // 25 days in tenths: 21'600'000 + 7 needs more than a float's 24 bits.
      {"uptime after 25 days", 4, {0x01, 0x49, 0x97, 0x07}, std::vector<double>{2'160'000.7}},
      {"tilt", 2, {0x80, 0x01, 0x23}, std::vector<double>{static_cast<float>(0x800 * scale), 0x123}},
      {"temperature too short", 0, {0x19}, std::nullopt},
      {"accelerometer scale 0", 1, {0x00, 0x40, 0x01, 0x00, 0x00, 0x00}, std::nullopt},
      {"unknown type", 6, {0x00, 0x00}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto values = KSMeasurement::parsedMeasurementData(c.data, c.type);
    ASSERT_EQ(values.has_value(), c.values.has_value());
    if (!values) continue;
    ASSERT_EQ(values->size(), c.values->size());
    for (std::size_t i = 0; i < values->size(); ++i) EXPECT_DOUBLE_EQ((*values)[i], (*c.values)[i]) << i;
  }
}

TEST(KSMeasurement, AccelerometerGivesScaledAxesAndAngles) {
  // Scale 64; X = 0x010 (16), Y = 0, Z = -16 (0xFF0).
  auto v = KSMeasurement::accelerometerMeasurements(Bytes{0x40, 0x01, 0x00, 0x00, 0xFF, 0x00});
  ASSERT_TRUE(v);
  ASSERT_EQ(v->size(), 6u);
  EXPECT_DOUBLE_EQ((*v)[0], 0.25);
  EXPECT_DOUBLE_EQ((*v)[1], 0.0);
  EXPECT_DOUBLE_EQ((*v)[2], -0.25);
  // gx = 1.024, gz = -1.024: 45 degrees off X, 90 off Y, 135 off Z.
  EXPECT_NEAR((*v)[3], 45.0, 1e-9);
  EXPECT_NEAR((*v)[4], 90.0, 1e-9);
  EXPECT_NEAR((*v)[5], 135.0, 1e-9);

  auto axis = KSMeasurement::accelerometerMeasurementsForAxis(Bytes{0x40, 0x01, 0x00, 0x00, 0xFF, 0x00}, 2);
  EXPECT_NEAR(*axis["Tilt"].toDouble(), 135.0, 1e-9);
  EXPECT_TRUE(KSMeasurement::accelerometerMeasurementsForAxis(Bytes{0x40, 0x01, 0x00, 0x00, 0xFF, 0x00}, 3).empty());
}

TEST(KSMeasurement, TwelveBitTwosComplementAndLengths) {
  EXPECT_EQ(KSMeasurement::toNumberWithTwosComplementOf12BitInt(2047), 2047);
  EXPECT_EQ(KSMeasurement::toNumberWithTwosComplementOf12BitInt(2048), -2048);
  EXPECT_EQ(KSMeasurement::toNumberWithTwosComplementOf12BitInt(4095), -1);
  const std::vector<std::size_t> lengths{2, 6, 3, 2, 4, 2, 0};
  for (std::int64_t t = 0; t < 7; ++t) EXPECT_EQ(KSMeasurement::dataLengthForMeasurementType(t), lengths[t]) << t;
  EXPECT_TRUE(KSMeasurement::measurementTypeValid(5));
  EXPECT_FALSE(KSMeasurement::measurementTypeValid(6));
}

TEST(KSMeasurementHistory, DecodesFramesUpToTheFirstBadRecord) {
  struct FrameCase {
    const char* name;
    Bytes frame;
    std::vector<std::int64_t> types;
  };
  const std::vector<FrameCase> cases = {
      {"one temperature", {0x00, 0x19, 0x00}, {0}},
      {"temperature, voltage, uptime", {0x00, 0x19, 0x00, 0x03, 0x0B, 0xC4, 0x04, 0, 0, 1, 0x2C}, {0, 3, 4}},
      {"single type byte", {0x00}, {}},
      {"empty", {}, {}},
      {"invalid first type", {0x07, 0x19, 0x00}, {}},
      {"stops at an invalid type", {0x00, 0x19, 0x00, 0x09, 0x0B, 0xC4}, {0}},
      {"last record cut short", {0x00, 0x19, 0x00, 0x04, 0x00, 0x01}, {0}},
      {"scale-0 accelerometer is skipped", {0x01, 0, 0, 0, 0, 0, 0, 0x00, 0x19, 0x00}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KSMeasurementHistory history;
    auto decoded = history.decodeFrame(c.frame);
    std::vector<std::int64_t> types;
    for (const auto& m : decoded) types.push_back(m->measurementType());
    EXPECT_EQ(types, c.types);
  }
}

TEST(KSMeasurementHistory, KeepsTenNewestFirst) {
  KSMeasurementHistory history;
  EXPECT_FALSE(history.measurementsOfType(0));
  for (std::uint8_t i = 0; i < 12; ++i) history.decodeFrame(Bytes{0x00, i, 0x00});
  auto kept = history.measurementsOfType(0);
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->size(), KSMeasurementHistory::kMaxPerType);
  EXPECT_DOUBLE_EQ(kept->front()->values()[0], 11.0);
  EXPECT_DOUBLE_EQ(kept->back()->values()[0], 2.0);
  EXPECT_EQ(history.availableMeasurementTypes(), std::vector<std::int64_t>{0});
}

TEST(KSMeasurementHistory, ChangeFlagCoversEveryRecordOfAFrame) {
  KSMeasurementHistory history;
  const Bytes frame{0x00, 0x19, 0x00, 0x03, 0x0B, 0xC4};
  history.decodeFrame(frame);
  EXPECT_TRUE(history.changeFlag());  // first values of each type
  history.clearChangeFlag();
  history.decodeFrame(frame);
  EXPECT_FALSE(history.changeFlag());
  // The temperature changes, the voltage (the last record) does not.
  history.decodeFrame(Bytes{0x00, 0x1A, 0x00, 0x03, 0x0B, 0xC4});
  EXPECT_TRUE(history.changeFlag());
}

TEST(KSMeasurementHistory, EqualityIgnoresOrderButCountsRepeats) {
  EXPECT_TRUE(KSMeasurementHistory::measurementIsEqualToMeasurement({1, 2, 2}, {2, 1, 2}));
  EXPECT_FALSE(KSMeasurementHistory::measurementIsEqualToMeasurement({1, 2, 2}, {1, 1, 2}));
  EXPECT_FALSE(KSMeasurementHistory::measurementIsEqualToMeasurement({1}, {1, 1}));
}

}  // namespace
}  // namespace velmora::kestrine
