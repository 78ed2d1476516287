#include "beacons/foundation/KSStringify.h"

#include <gtest/gtest.h>

#include <clocale>

#include "beacons/foundation/KSTimeZoneUtilities.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

TEST(KSStringifyTest, UnitTextsAndNothingForNothing) {
  EXPECT_EQ(KSStringify::stringWithMilliseconds(250), "250 ms");
  EXPECT_EQ(KSStringify::stringWithIntegerValue(-7), "-7");
  EXPECT_EQ(KSStringify::stringWithIntegerNumber(42), "42");
  EXPECT_EQ(KSStringify::stringWithPower(-59), "-59 dBm");
  EXPECT_EQ(KSStringify::stringWithMinutes(15), "15 mins");
  EXPECT_EQ(KSStringify::stringWithPercentage(87), "87%");
  EXPECT_EQ(KSStringify::stringWithDistance(2.5), "2.50 m");
  EXPECT_EQ(KSStringify::stringWithDistance(0.005), "0.01 m");
  for (auto f : {&KSStringify::stringWithIntegerNumber, &KSStringify::stringWithPower, &KSStringify::stringWithMinutes,
                 &KSStringify::stringWithPercentage}) {
    EXPECT_EQ(f(std::nullopt), std::nullopt);
  }
  EXPECT_EQ(KSStringify::stringWithCoordinate(std::nullopt, 3), std::nullopt);
  EXPECT_EQ(KSStringify::stringWithCoordinate(151.20931234, 3), "151.209");
  EXPECT_EQ(KSStringify::stringWithCoordinate(151.20931234, 5), "151.20931");  // its own precision each call
}

TEST(KSStringifyTest, CoordinatesKeepAPointWhateverTheLocale) {
  // A decimal comma locale, where it is installed, must not reach query texts.
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  EXPECT_EQ(number_stringify::coordinateString(151.2093), "151.2093");
  EXPECT_EQ(number_stringify::coordinateString(151.20931234), "151.209312");
  EXPECT_EQ(number_stringify::coordinateString(-33.8688197), "-33.86882");
  EXPECT_EQ(KSStringify::stringWithDistance(2.5), "2.50 m");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(KSTimeZoneUtilitiesTest, OffsetOfTheDefaultZoneAtTheClocksNow) {
  const struct {
    std::string_view zone;
    double referenceSeconds;
    std::string_view text;
  } cases[] = {
      {"Europe/Berlin", 0, "+0100"},              // January 2001
      {"Europe/Berlin", 86400.0 * 190, "+0200"},  // July 2001
      {"America/St_Johns", 0, "-0330"},
      {"Asia/Kathmandu", 0, "+0545"},
      {"Etc/UTC", 0, "+0000"},
  };
  for (const auto& c : cases) {
    velmora::testing::ScopedTimeZone zone(c.zone);
    ASSERT_TRUE(zone.ok());
    platform::ManualClock clock(platform::Date::fromReferenceSeconds(c.referenceSeconds));
    EXPECT_EQ(KSTimeZoneUtilities::localTimeZoneOffsetString(clock), c.text) << c.zone;
  }
}

}  // namespace
}  // namespace velmora::kestrine
