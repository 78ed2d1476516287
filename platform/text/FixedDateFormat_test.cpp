#include "platform/text/FixedDateFormat.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/text/DefaultTimeZone.h"
#include "platform/text/LibraryDateFormat.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::platform {
// Readable dates in assertion messages.
static void PrintTo(const Date& d, std::ostream* os) { *os << d.iso8601(); }
}  // namespace velmora::platform

namespace velmora::platform::text {
namespace {

constexpr std::string_view kSeconds = "yyyy-MM-dd'T'HH:mm:ss";
constexpr std::string_view kMillis = "yyyy-MM-dd'T'HH:mm:ss.SSS";
constexpr std::string_view kMillisZone = "yyyy-MM-dd'T'HH:mm:ss.SSSZ";

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The instant of a UTC wall-clock time.
Date utc(std::int64_t y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
  const std::int64_t seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
  return Date::fromUnixMicros(seconds * 1'000'000 + ms * 1000);
}

constexpr std::int64_t kHour = 3600LL * 1'000'000;


TEST(FixedDateFormatTest, ReadsEachWireFormatOnlyWhenItMatchesTheWholeText) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  struct Case {
    std::string_view pattern;
    std::string_view text;
    std::optional<Date> expected;
  };
  const std::vector<Case> cases = {
      {kSeconds, "2021-03-04T05:06:07", utc(2021, 3, 4, 5, 6, 7)},
      {kSeconds, "2021-03-04T05:06:07.890", std::nullopt},  // milliseconds left over
      {kSeconds, "2021-03-04T05:06:07 ", std::nullopt},     // trailing text
      {kSeconds, "2021-03-04T05:06", std::nullopt},         // too short
      {kSeconds, "2021-03-04", std::nullopt},
      {kSeconds, "", std::nullopt},
      {kSeconds, "2021-03-04 05:06:07", std::nullopt},      // literal 'T' missing
      {kSeconds, "2021-13-04T05:06:07", std::nullopt},      // strict: no month 13
      {kSeconds, "2021-02-30T05:06:07", std::nullopt},      // strict: no 30 February
      {kSeconds, "2021-03-04T25:06:07", std::nullopt},      // strict: no hour 25
      {kSeconds, "2020-02-29T23:59:59", utc(2020, 2, 29, 23, 59, 59)},
      {kMillis, "2021-03-04T05:06:07.890", utc(2021, 3, 4, 5, 6, 7, 890)},
      {kMillis, "2021-03-04T05:06:07.001", utc(2021, 3, 4, 5, 6, 7, 1)},
      {kMillis, "2021-03-04T05:06:07", std::nullopt},       // milliseconds required
      {kMillis, "2021-03-04T05:06:07.890+1100", std::nullopt},
      {kMillisZone, "2021-03-04T05:06:07.890+1100", utc(2021, 3, 3, 18, 6, 7, 890)},
      {kMillisZone, "2021-03-04T05:06:07.890-0130", utc(2021, 3, 4, 6, 36, 7, 890)},
      {kMillisZone, "2021-03-04T05:06:07.890+0000", utc(2021, 3, 4, 5, 6, 7, 890)},
      {kMillisZone, "2021-03-04T05:06:07.890", std::nullopt},  // offset required
      {kMillisZone, "2021-03-04T05:06:07.890+11:00", utc(2021, 3, 3, 18, 6, 7, 890)},  // extended offset
      {kMillisZone, "2021-03-04T05:06:07.890Z", utc(2021, 3, 4, 5, 6, 7, 890)},
      {kMillisZone, "2021-03-04T05:06:07.890+11:0", std::nullopt},
      {kMillisZone, "2021-03-04T05:06:07.890+11:000", std::nullopt},
      {kMillisZone, "2021-03-04T05:06:07.890+1100Z", std::nullopt},
      {kMillisZone, "2021-03-04T05:06:07.890Z0000", std::nullopt},
      {kMillisZone, "2021-03-04T05:06:07.890+", std::nullopt},
  };
  for (const auto& c : cases) {
    FixedDateFormat format(c.pattern);
    ASSERT_TRUE(format.valid()) << c.pattern;
    EXPECT_EQ(format.parse(c.text), c.expected) << c.pattern << " <- \"" << c.text << "\"";
  }
}

TEST(FixedDateFormatTest, TextWithoutOffsetIsReadInTheCurrentDefaultZone) {
  // Made before the zone changes: each parse uses the zone of that moment.
  FixedDateFormat format(kSeconds);
  FixedDateFormat withOffset(kMillisZone);
  const Date wall = utc(2021, 3, 4, 5, 6, 7);
  {
    velmora::testing::ScopedTimeZone zone("Asia/Tokyo");
  ASSERT_TRUE(zone.ok());  // UTC+9
    EXPECT_EQ(format.parse("2021-03-04T05:06:07"), Date::fromUnixMicros(wall.unixMicros() - 9 * kHour));
    EXPECT_EQ(withOffset.parse("2021-03-04T05:06:07.000+0100"), Date::fromUnixMicros(wall.unixMicros() - kHour));
  }
  {
    velmora::testing::ScopedTimeZone zone("America/New_York");
  ASSERT_TRUE(zone.ok());  // UTC-5 in March before the change to summer time
    EXPECT_EQ(format.parse("2021-03-04T05:06:07"), Date::fromUnixMicros(wall.unixMicros() + 5 * kHour));
    EXPECT_EQ(withOffset.parse("2021-03-04T05:06:07.000+0100"), Date::fromUnixMicros(wall.unixMicros() - kHour));
  }
  {
    velmora::testing::ScopedTimeZone zone("Europe/London");
  ASSERT_TRUE(zone.ok());  // summer time: UTC+1 in July
    EXPECT_EQ(format.parse("2021-07-01T12:00:00"), utc(2021, 7, 1, 11, 0, 0));
  }
}

TEST(FixedDateFormatTest, DefaultZoneCanBeReadAndSetAndRefusesUnknownNames) {
  const std::string saved = DefaultTimeZone::identifier();
  {
    velmora::testing::ScopedTimeZone zone("Australia/Sydney");
  ASSERT_TRUE(zone.ok());
    EXPECT_EQ(DefaultTimeZone::identifier(), "Australia/Sydney");
    EXPECT_FALSE(DefaultTimeZone::set("Not/AZone"));
    EXPECT_EQ(DefaultTimeZone::identifier(), "Australia/Sydney");
  }
  EXPECT_EQ(DefaultTimeZone::identifier(), saved);
}

TEST(FixedDateFormatTest, UnquotedLetterThatIsNoFieldMatchesNothing) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  FixedDateFormat format("yyyy-MM-ddTHH:mm:ss");  // 'T' must be quoted
  EXPECT_EQ(format.pattern(), "yyyy-MM-ddTHH:mm:ss");
  EXPECT_EQ(format.parse("2021-03-04T05:06:07"), std::nullopt);
}

TEST(FixedDateFormatTest, WallTimesTheZoneSkipsAreRefusedAndRepeatedOnesReadAsStandardTime) {
  // 2021: forward 02:00 -> 03:00 on 28 March, back 03:00 -> 02:00 on 31 October.
  velmora::testing::ScopedTimeZone zone("Europe/Berlin");
  ASSERT_TRUE(zone.ok());
  FixedDateFormat format(kSeconds);
  EXPECT_EQ(format.parse("2021-03-28T01:59:59"), utc(2021, 3, 28, 0, 59, 59));
  EXPECT_EQ(format.parse("2021-03-28T02:00:00"), std::nullopt);
  EXPECT_EQ(format.parse("2021-03-28T02:59:59"), std::nullopt);
  EXPECT_EQ(format.parse("2021-03-28T03:00:00"), utc(2021, 3, 28, 1, 0, 0));
  EXPECT_EQ(format.parse("2021-10-31T02:30:00"), utc(2021, 10, 31, 1, 30, 0));  // the second 02:30, at +01:00
  // An offset in the text says which instant is meant, also inside the skipped hour.
  EXPECT_EQ(FixedDateFormat(kMillisZone).parse("2021-03-28T02:30:00.000+0100"), utc(2021, 3, 28, 1, 30, 0));
}

TEST(FixedDateFormatTest, FormatMadeWithAZoneIgnoresTheDefaultZone) {
  velmora::testing::ScopedTimeZone zone("Asia/Tokyo");
  ASSERT_TRUE(zone.ok());
  const auto gmt = TimeZone::named("GMT");
  ASSERT_TRUE(gmt);
  FixedDateFormat format("yyyy-MM-dd", *gmt);
  EXPECT_TRUE(format.isFixedLayout());
  EXPECT_EQ(format.parse("2014-05-06"), utc(2014, 5, 6, 0, 0, 0));
  EXPECT_EQ(FixedDateFormat("yyyy-MM-dd").parse("2014-05-06"), utc(2014, 5, 5, 15, 0, 0));
}

TEST(FixedDateFormatTest, TextsOutsideTheLayoutsShapeAreRefusedThoughTheCalendarLibraryReadsThem) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  // Each of these the library's formatter accepts, some with a plainly wrong instant; a wire
  // format of fixed positions has no business reading any of them.
  const std::vector<std::pair<std::string_view, std::string_view>> cases = {
      {kSeconds, "2021-3-04T05:06:07"},          // one-digit month (a one-digit day it refuses)
      {kSeconds, "21-03-04T05:06:07"},           // read as the year 21
      {kSeconds, "02021-03-04T05:06:07"},        // five-digit year
      {kSeconds, "2021-03-04T005:06:07"},        // three-digit hour
      {kSeconds, " 2021-03-04T05:06:07"},        // leading blank
      {kMillis, "2021-03-04T05:06:07.8"},        // short fraction
      {kMillis, "2021-03-04T05:06:07.8901"},     // long fraction, its last digit dropped
      {kMillisZone, "2021-03-04T05:06:07.890+115"},    // read as +01:15
      {kMillisZone, "2021-03-04T05:06:07.890GMT+11:00"},
      {kMillisZone, "2021-03-04T05:06:07.890 +1100"},
  };
  for (const auto& [pattern, text] : cases) {
    EXPECT_TRUE(LibraryDateFormat(pattern).parse(text)) << pattern << " <- \"" << text << "\"";
    EXPECT_EQ(FixedDateFormat(pattern).parse(text), std::nullopt) << pattern << " <- \"" << text << "\"";
  }
}

TEST(FixedDateFormatTest, OtherPatternsAndEarlyYearsGoToTheCalendarLibrary) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  // Month names are no fixed layout.
  FixedDateFormat named("dd MMMM yyyy");
  EXPECT_FALSE(named.isFixedLayout());
  EXPECT_TRUE(named.valid());
  EXPECT_EQ(named.parse("06 May 2014"), utc(2014, 5, 6, 0, 0, 0));
  // Before the Gregorian reform the library's calendar is Julian: ten days apart in 1582.
  FixedDateFormat seconds(kSeconds);
  EXPECT_EQ(seconds.parse("1582-10-04T00:00:00"), utc(1582, 10, 14, 0, 0, 0));
  EXPECT_EQ(seconds.parse("1582-10-04T00:00:00"), LibraryDateFormat(kSeconds).parse("1582-10-04T00:00:00"));
  EXPECT_EQ(seconds.parse("0000-01-01T00:00:00"), std::nullopt);
}

TEST(FixedDateFormatTest, OneInstanceServesManyThreadsAtOnce) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  const FixedDateFormat format(kMillis);
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::array<int, kThreads> wrong{};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        const int ms = (t * kRounds + i) % 1000;
        const std::string text = fmt::format("2021-03-04T05:06:07.{:03}", ms);
        if (format.parse(text) != utc(2021, 3, 4, 5, 6, 7, ms)) ++wrong[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

TEST(FixedDateFormatTest, ParsesWhileAnotherThreadChangesTheDefaultZoneSeeOneZoneOrTheOther) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  const FixedDateFormat format(kSeconds);
  const Date inUtc = utc(2021, 3, 4, 5, 6, 7);
  const Date inTokyo = Date::fromUnixMicros(inUtc.unixMicros() - 9 * kHour);
  std::atomic<bool> stop{false};
  std::atomic<int> other{0};
  std::thread flipper([&] {
    for (int i = 0; i < 400; ++i) DefaultTimeZone::set(i % 2 ? "Etc/UTC" : "Asia/Tokyo");
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        const auto d = format.parse("2021-03-04T05:06:07");
        if (d != inUtc && d != inTokyo) ++other;
      }
    });
  }
  flipper.join();
  for (auto& r : readers) r.join();
  EXPECT_EQ(other.load(), 0);
}

}  // namespace
}  // namespace velmora::platform::text
