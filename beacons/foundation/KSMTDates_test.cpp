#include "beacons/foundation/KSMTDates.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "testing/ScopedDefaultLocale.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::platform {
static void PrintTo(const Date& d, std::ostream* os) { *os << d.iso8601(); }
}  // namespace velmora::platform

namespace velmora::kestrine::mt {
namespace {

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A wall-clock time at a given offset from UTC, in hours.
Date at(std::int64_t y, unsigned mo, unsigned d, int h, int mi, int s, int offsetHours, int micros = 0) {
  const std::int64_t seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offsetHours * 3600;
  return Date::fromUnixMicros(seconds * 1'000'000 + micros);
}

Date gmt(std::int64_t y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return at(y, mo, d, h, mi, s, 0, ms * 1000);
}

// Berlin, a pinned clock at Thursday 15 April 2021 10:30 (summer time, +02:00), English
// names and Monday as first weekday.
class KSMTDatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zone_.ok());
    clock_ = std::make_shared<platform::ManualClock>(at(2021, 4, 15, 10, 30, 0, 2));
    setClock(clock_);
    setLocale("en_US");
    setTimeZone(std::nullopt);
    setFirstDayOfWeek(2);
    setWeekNumberingSystem(4);
  }
  void TearDown() override {
    setClock(nullptr);
    setLocale(std::nullopt);
    setFirstDayOfWeek(0);
    setWeekNumberingSystem(0);
    setTimeZone(std::nullopt);
  }

  velmora::testing::ScopedTimeZone zone_{"Europe/Berlin"};
  std::shared_ptr<platform::ManualClock> clock_;
};

TEST_F(KSMTDatesTest, TodayYesterdayAndTomorrow) {
  EXPECT_EQ(startOfToday(), at(2021, 4, 15, 0, 0, 0, 2));
  EXPECT_EQ(endOfToday(), at(2021, 4, 15, 23, 59, 59, 2));
  EXPECT_EQ(startOfTomorrow(), endOfToday().addingTimeInterval(1));
  EXPECT_EQ(startOfYesterday(), at(2021, 4, 14, 0, 0, 0, 2));
  EXPECT_EQ(endOfYesterday(), at(2021, 4, 14, 23, 59, 59, 2));
  EXPECT_EQ(endOfTomorrow(), at(2021, 4, 16, 23, 59, 59, 2));
  EXPECT_TRUE(isOnOrBefore(endOfToday(), endOfToday()));
  EXPECT_FALSE(isBefore(endOfToday(), endOfToday()));
  EXPECT_TRUE(isOnOrAfter(endOfToday(), endOfToday()));
  EXPECT_FALSE(isAfter(endOfToday(), endOfToday()));
  // The end is a whole second: half a second later is after the end of the day.
  EXPECT_TRUE(isAfter(at(2021, 4, 15, 23, 59, 59, 2, 500'000), endOfToday()));
}

TEST_F(KSMTDatesTest, DaysOfTwentyThreeAndTwentyFiveHours) {
  struct Case {
    Date inside;
    Date start;
    Date end;
    double hours;
  };
  const Case cases[] = {
      {at(2021, 3, 28, 12, 0, 0, 2), at(2021, 3, 28, 0, 0, 0, 1), at(2021, 3, 28, 23, 59, 59, 2), 23},
      {at(2021, 10, 31, 12, 0, 0, 1), at(2021, 10, 31, 0, 0, 0, 2), at(2021, 10, 31, 23, 59, 59, 1), 25},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(startOfCurrentDay(c.inside), c.start);
    EXPECT_EQ(endOfCurrentDay(c.inside), c.end);
    EXPECT_EQ(endOfCurrentDay(c.inside).timeIntervalSince(startOfCurrentDay(c.inside)), c.hours * 3600 - 1);
    EXPECT_EQ(startOfNextDay(c.inside), c.end.addingTimeInterval(1));
    EXPECT_EQ(hoursInCurrentDayAsDatesCollection(c.inside).back(), c.start);
  }
}

TEST_F(KSMTDatesTest, WeekStartsOnTheSetFirstWeekday) {
  const Date sunday = at(2021, 4, 18, 15, 0, 0, 2);
  EXPECT_EQ(startOfCurrentWeek(sunday), at(2021, 4, 12, 0, 0, 0, 2));
  EXPECT_EQ(endOfCurrentWeek(sunday), at(2021, 4, 18, 23, 59, 59, 2));
  EXPECT_EQ(startOfPreviousWeek(sunday), at(2021, 4, 5, 0, 0, 0, 2));
  EXPECT_EQ(endOfPreviousWeek(sunday), at(2021, 4, 11, 23, 59, 59, 2));
  EXPECT_EQ(weekdayOfWeek(sunday), 7);
  setFirstDayOfWeek(1);
  EXPECT_EQ(startOfCurrentWeek(sunday), at(2021, 4, 18, 0, 0, 0, 2));
  EXPECT_EQ(endOfCurrentWeek(sunday), at(2021, 4, 24, 23, 59, 59, 2));
  EXPECT_EQ(weekdayOfWeek(sunday), 1);
  // Across the change to summer time the week is a few hours short, and still starts at midnight.
  EXPECT_EQ(startOfCurrentWeek(at(2021, 3, 30, 9, 0, 0, 2)), at(2021, 3, 28, 0, 0, 0, 1));
}

TEST_F(KSMTDatesTest, MonthBoundsNeverLoseTheThirtyFirst) {
  const Date april15 = clock_->now();
  EXPECT_EQ(startOfCurrentMonth(april15), at(2021, 4, 1, 0, 0, 0, 2));
  EXPECT_EQ(endOfCurrentMonth(april15), at(2021, 4, 30, 23, 59, 59, 2));
  EXPECT_EQ(startOfPreviousMonth(april15), at(2021, 3, 1, 0, 0, 0, 1));
  EXPECT_EQ(endOfPreviousMonth(april15), at(2021, 3, 31, 23, 59, 59, 2));
  EXPECT_EQ(startOfNextMonth(april15), at(2021, 5, 1, 0, 0, 0, 2));
  EXPECT_EQ(endOfNextMonth(april15), at(2021, 5, 31, 23, 59, 59, 2));
  EXPECT_EQ(daysInCurrentMonth(april15), 30);
  EXPECT_EQ(daysInPreviousMonth(april15), 31);
  EXPECT_EQ(daysInNextMonth(april15), 31);
  EXPECT_EQ(daysInPreviousMonth(at(2024, 3, 10, 12, 0, 0, 1)), 29);
  EXPECT_EQ(endOfPreviousYear(april15), at(2020, 12, 31, 23, 59, 59, 1));
  // Calendar steps of the receiver itself do clamp the day of the month.
  EXPECT_EQ(oneMonthPrevious(at(2021, 3, 31, 12, 0, 0, 2)), at(2021, 2, 28, 12, 0, 0, 1));
}

TEST_F(KSMTDatesTest, SecondsStepExactlyAndCalendarStepsKeepTheFraction) {
  const Date noonAndABit = at(2021, 4, 15, 12, 0, 0, 2, 400'000);
  EXPECT_EQ(startOfNextSecond(noonAndABit), at(2021, 4, 15, 12, 0, 1, 2, 400'000));
  EXPECT_EQ(startOfPreviousSecond(noonAndABit), at(2021, 4, 15, 11, 59, 59, 2, 400'000));
  EXPECT_EQ(oneDayNext(noonAndABit), at(2021, 4, 16, 12, 0, 0, 2, 400'000));
  EXPECT_EQ(dateDaysBefore(noonAndABit, 30), at(2021, 3, 16, 12, 0, 0, 1, 400'000));  // across the clock change
  EXPECT_EQ(dateByAddingYears(noonAndABit, 1, 1, 1, 1, 1, 1, 1), at(2022, 5, 23, 13, 1, 1, 2, 400'000));
  EXPECT_EQ(secondsSinceDate(noonAndABit, at(2021, 4, 15, 11, 0, 0, 2)), 3600);
  EXPECT_EQ(secondsIntoDay(noonAndABit), 12 * 3600);
}

TEST_F(KSMTDatesTest, WholeUnitsBetweenDates) {
  const Date a = at(2021, 1, 31, 10, 0, 0, 1);
  const Date b = at(2021, 4, 15, 9, 0, 0, 2);
  EXPECT_EQ(monthsSinceDate(b, a), 2);  // 31 January + 3 months is after 15 April
  EXPECT_EQ(monthsUntilDate(a, b), 2);
  EXPECT_EQ(daysSinceDate(b, a), 73);
  EXPECT_EQ(daysSinceDate(a, b), -73);
  EXPECT_EQ(weeksSinceDate(b, a), 10);
  EXPECT_EQ(yearsSinceDate(b, a), 0);
  EXPECT_EQ(hoursUntilDate(a, b), 74 * 24 - 2);  // 74 days of 24 hours, less the hour of the wall clocks and the hour summer time skips
  const auto days = datesCollectionFromDate(a, dateDaysAfter(a, 3));
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[2], at(2021, 2, 2, 10, 0, 0, 1));
  EXPECT_TRUE(datesCollectionFromDate(b, a).empty());
}

TEST_F(KSMTDatesTest, ReadingAndComparingFields) {
  const Date d = clock_->now();
  EXPECT_EQ(year(d), 2021);
  EXPECT_EQ(monthOfYear(d), 4);
  EXPECT_EQ(dayOfMonth(d), 15);
  EXPECT_EQ(hourOfDay(d), 10);
  EXPECT_EQ(dayOfYear(d), 105);
  EXPECT_EQ(weekOfYear(d), 15);  // ISO-style weeks: Monday first, four days in the first week
  EXPECT_TRUE(isInAM(d));
  EXPECT_FALSE(isStartOfAnHour(d));
  EXPECT_TRUE(isStartOfAnHour(startOfCurrentHour(d)));
  EXPECT_EQ(weekdayStartOfCurrentMonth(d), 4);  // 1 April 2021 was a Thursday
  const auto hours = hoursInCurrentDayAsDatesCollection(d);
  ASSERT_EQ(hours.size(), 24u);
  EXPECT_EQ(hours.front(), at(2021, 4, 15, 23, 0, 0, 2));
  EXPECT_EQ(hours.back(), at(2021, 4, 15, 0, 0, 0, 2));
  const Date early = at(2021, 4, 12, 0, 0, 0, 2);
  EXPECT_TRUE(isBetweenDate(d, early, endOfToday()));
  EXPECT_TRUE(isBetweenDate(d, endOfToday(), early));
  EXPECT_TRUE(isBetweenDate(early, early, d));
  EXPECT_FALSE(isBetweenDate(early.addingTimeInterval(-1), endOfToday(), early));
  EXPECT_TRUE(isWithinSameWeek(d, early));
  EXPECT_FALSE(isWithinSameWeek(d, early.addingTimeInterval(-1)));
  EXPECT_TRUE(isWithinSameDay(d, startOfToday()));
  EXPECT_FALSE(isWithinSameHour(d, startOfToday()));
  EXPECT_EQ(inTimeZone(d, *platform::text::TimeZone::named("Asia/Tokyo")), d.addingTimeInterval(7 * 3600));
  const auto c = components(d);
  EXPECT_EQ(c.year, 2021);
  EXPECT_EQ(c.weekday, 5);  // Thursday, counted from Sunday
  EXPECT_EQ(dateFromComponents(c), d);
  EXPECT_EQ(dateFromComponents(std::nullopt), std::nullopt);
  EXPECT_EQ(dateFromYearWeekWeekday(2021, 15, 5, 10, 30), d);
}

TEST_F(KSMTDatesTest, SixtyFourBitAmountsAreTakenWholeAndSaturate) {
  const Date epoch;
  const Date d = clock_->now();
  struct Case {
    const char* name;
    Date result;
    Date expected;
  };
  const Case cases[] = {
      {"+3e9 s", dateSecondsAfter(epoch, 3'000'000'000), gmt(2065, 1, 24, 5, 20)},
      {"-3e9 s", dateSecondsBefore(epoch, 3'000'000'000), gmt(1874, 12, 7, 18, 40)},
      {"+2.5e9 h", dateHoursAfter(epoch, 2'500'000'000), Date::fromUnixSeconds(2.5e9 * 3600)},
      {"+3e9 min", dateMinutesAfter(epoch, 3'000'000'000), Date::fromUnixSeconds(3e9 * 60)},
      {"+3e9 days", dateDaysAfter(d, 3'000'000'000), Date::distantFuture()},
      {"-3e9 days", dateDaysBefore(d, 3'000'000'000), Date::distantPast()},
      {"+3e9 weeks", dateWeeksAfter(d, 3'000'000'000), Date::distantFuture()},
      {"-3e9 months", dateMonthsAfter(d, -3'000'000'000), Date::distantPast()},
      {"+1e12 years", dateYearsAfter(d, 1'000'000'000'000), Date::distantFuture()},
      {"INT64_MIN seconds before", dateSecondsBefore(d, INT64_MIN), Date::distantFuture()},
      {"INT64_MAX seconds", dateByAddingYears(d, 0, 0, 0, 0, 0, 0, INT64_MAX), Date::distantFuture()},
      {"day from the far end", oneDayNext(Date::distantFuture()), Date::distantFuture()},
      {"year of 400000", dateFromYear(400'000, 1, 1), Date::distantFuture()},
      {"year of -400000", dateFromYear(-400'000, 1, 1), Date::distantPast()},
      {"3e9 days of 1 January", dateFromYear(2021, 1, 3'000'000'000), Date::distantFuture()},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, c.expected) << c.name;
  // Whole units between far-apart dates are not cut to 32 bits either.
  EXPECT_EQ(hoursSinceDate(dateHoursAfter(epoch, 2'500'000'000), epoch), 2'500'000'000);
  EXPECT_EQ(secondsUntilDate(epoch, dateSecondsAfter(epoch, 3'000'000'000)), 3'000'000'000);
  EXPECT_EQ(secondsSinceDate(Date::distantFuture(), Date::distantPast()), INT64_MAX / 1'000'000);
  EXPECT_EQ(daysSinceDate(dateDaysAfter(d, 100'000'000), d), 100'000'000);
}

// However the process's locale would pick its calendar, periods are Gregorian ones.
TEST_F(KSMTDatesTest, PeriodsAreGregorianWhateverTheDefaultLocale) {
  setLocale(std::nullopt);
  const Date d = clock_->now();
  for (const char* name : {"ar_SA", "th_TH", "fa_IR", "en_US", "de_DE"}) {
    SCOPED_TRACE(name);
    velmora::testing::ScopedDefaultLocale locale(name);
    EXPECT_EQ(year(d), 2021);
    EXPECT_EQ(monthOfYear(d), 4);
    EXPECT_EQ(dayOfMonth(d), 15);
    EXPECT_EQ(startOfCurrentYear(d), at(2021, 1, 1, 0, 0, 0, 1));
    EXPECT_EQ(startOfCurrentMonth(d), at(2021, 4, 1, 0, 0, 0, 2));
    EXPECT_EQ(endOfCurrentMonth(d), at(2021, 4, 30, 23, 59, 59, 2));
    EXPECT_EQ(startOfPreviousMonth(d), at(2021, 3, 1, 0, 0, 0, 1));
    EXPECT_EQ(startOfCurrentWeek(d), at(2021, 4, 12, 0, 0, 0, 2));
    EXPECT_EQ(daysInCurrentMonth(d), 30);
    EXPECT_EQ(dateFromYear(2021, 4, 15, 10, 30), d);
  }
  EXPECT_EQ(year(d), 2021);
}

// Around a change of the clocks, in zones that repeat 02:00-03:00 (Berlin), midnight
// (Havana) or half an hour (Lord Howe), and in those that skip them: the start of a date's
// hour, day and month is never after the date, and the day and month hold it.
TEST_F(KSMTDatesTest, PeriodStartsAroundClockChangesAreNeverAfterTheDate) {
  struct Sweep {
    const char* zone;
    Date from;  // every ten minutes for seven hours
  };
  const Sweep sweeps[] = {
      {"Europe/Berlin", gmt(2024, 10, 26, 22)}, {"Europe/Berlin", gmt(2024, 3, 30, 22)},
      {"America/Havana", gmt(2023, 11, 5, 2)},  {"America/Havana", gmt(2023, 3, 12, 2)},
      {"Australia/Lord_Howe", gmt(2024, 4, 6, 12)}, {"Australia/Lord_Howe", gmt(2024, 10, 5, 12)},
  };
  for (const Sweep& sweep : sweeps) {
    velmora::testing::ScopedTimeZone zone(sweep.zone);
    ASSERT_TRUE(zone.ok()) << sweep.zone;
    for (int step = 0; step <= 42; ++step) {
      const Date d = sweep.from.addingTimeInterval(step * 600.0);
      SCOPED_TRACE(std::string(sweep.zone) + " " + d.iso8601());
      for (Unit unit : {Unit::Hour, Unit::Day, Unit::Month}) {
        const Date start = startOfCurrent(d, unit);
        EXPECT_LE(start, d);
        EXPECT_GT(d.timeIntervalSince(start), -1);
        if (unit != Unit::Hour) {
          EXPECT_GT(startOfNext(d, unit), d);
        }
      }
      const Date hour = startOfCurrentHour(d);
      EXPECT_EQ(hourOfDay(hour), hourOfDay(d));
      EXPECT_LT(d.timeIntervalSince(hour), 5400);  // 90 minutes where half an hour repeats
      EXPECT_EQ(dayOfMonth(startOfCurrentDay(d)), dayOfMonth(d));
      EXPECT_LE(startOfCurrentDay(d), startOfCurrentHour(d));
    }
  }
  {
    // Berlin: 02:30 summer time, the first of the two; its hour began at 02:00 summer time.
    EXPECT_EQ(startOfCurrentHour(gmt(2024, 10, 27, 0, 30)), gmt(2024, 10, 27, 0, 0));
    EXPECT_EQ(startOfCurrentHour(gmt(2024, 10, 27, 1, 30)), gmt(2024, 10, 27, 1, 0));
    EXPECT_EQ(endOfCurrentHour(gmt(2024, 10, 27, 0, 30)), gmt(2024, 10, 27, 0, 59, 59));
    EXPECT_EQ(endOfCurrentDay(gmt(2024, 10, 27, 0, 30)).timeIntervalSince(startOfCurrentDay(gmt(2024, 10, 27, 0, 30))),
              25 * 3600 - 1);
  }
  {
    velmora::testing::ScopedTimeZone havana("America/Havana");
    // Midnight of 5 November 2023 came twice (04:00 and 05:00 UTC); the day began at the first.
    for (const Date d : {gmt(2023, 11, 5, 4, 30), gmt(2023, 11, 5, 5, 30), gmt(2023, 11, 5, 12)}) {
      SCOPED_TRACE(d.iso8601());
      EXPECT_EQ(startOfCurrentDay(d), gmt(2023, 11, 5, 4));
      EXPECT_EQ(endOfCurrentDay(d), gmt(2023, 11, 6, 4, 59, 59));
      EXPECT_EQ(endOfCurrentDay(d).timeIntervalSince(startOfCurrentDay(d)), 25 * 3600 - 1);
    }
    EXPECT_EQ(startOfCurrentHour(gmt(2023, 11, 5, 5, 30)), gmt(2023, 11, 5, 5));
    EXPECT_EQ(endOfPreviousDay(gmt(2023, 11, 5, 12)), gmt(2023, 11, 5, 3, 59, 59));
    EXPECT_EQ(endOfCurrentDay(gmt(2023, 11, 4, 12)), gmt(2023, 11, 5, 3, 59, 59));
    // Midnight of 12 March 2023 never came: the day began at 01:00 summer time.
    EXPECT_EQ(startOfCurrentDay(gmt(2023, 3, 12, 12)), gmt(2023, 3, 12, 5));
  }
  {
    velmora::testing::ScopedTimeZone lordHowe("Australia/Lord_Howe");
    // 01:30-02:00 came twice on 7 April 2024 (+11:00, then +10:30): the hour of 01:40 in the
    // second pass began at 01:00, 14:00 UTC.
    EXPECT_EQ(startOfCurrentHour(gmt(2024, 4, 6, 15, 10)), gmt(2024, 4, 6, 14));
    EXPECT_EQ(startOfCurrentMinute(gmt(2024, 4, 6, 15, 10, 30)), gmt(2024, 4, 6, 15, 10));
    EXPECT_EQ(startOfCurrentDay(gmt(2024, 4, 6, 20)), at(2024, 4, 7, 0, 0, 0, 11));
  }
}

TEST_F(KSMTDatesTest, UnsetZoneFollowsTheDefaultZoneAndASetOneStays) {
  {
    velmora::testing::ScopedTimeZone tokyo("Asia/Tokyo");
    EXPECT_EQ(startOfToday(), at(2021, 4, 15, 0, 0, 0, 9));
  }
  EXPECT_EQ(startOfToday(), at(2021, 4, 15, 0, 0, 0, 2));
  setTimeZone(platform::text::TimeZone::named("America/New_York"));
  EXPECT_EQ(startOfToday(), at(2021, 4, 15, 0, 0, 0, -4));
}

TEST_F(KSMTDatesTest, ReadsTheIsoLikeTextsInGmt) {
  const std::pair<std::optional<std::string>, std::optional<Date>> cases[] = {
      {"2014-05-06", gmt(2014, 5, 6)},
      {std::nullopt, std::nullopt},
      {"06/05/2014", std::nullopt},
      {"2014-05-06T10:20:30.123Z", gmt(2014, 5, 6, 10, 20, 30, 123)},  // not midnight, not refused
      {"2014-05-06T10:20.30.123Z", gmt(2014, 5, 6, 10, 20, 30, 123)},
      {"2014-05-06 10:20:30 +0200", gmt(2014, 5, 6, 8, 20, 30)},
      {"2014-05-06 10:20:30", gmt(2014, 5, 6, 10, 20, 30)},
      {"2014-05-06T10:20:30Z", gmt(2014, 5, 6, 10, 20, 30)},
      {"2014-05-06T10:20:30", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, date] : cases) EXPECT_EQ(dateFromISOString(text), date) << text.value_or("nil");
  EXPECT_EQ(stringFromDateWithISODateTime(gmt(2014, 5, 6, 10, 20, 30, 999)), "2014-05-06 10:20:30 +0000");
}

TEST_F(KSMTDatesTest, RelativeTexts) {
  EXPECT_EQ(stringFromDateWithGreatestComponentsForSecondsPassed(-3725), "1 hours, 2 minutes, 5 seconds before");
  EXPECT_EQ(stringFromDateWithGreatestComponentsForSecondsPassed(0), " after");
  EXPECT_EQ(stringFromDateWithGreatestComponentsForSecondsPassed(86400 * 31 + 60.9),
            "1 months, 1 days, 1 minutes after");
  const Date d = clock_->now();
  EXPECT_EQ(stringFromDateWithGreatestComponentsUntilDate(d, d.addingTimeInterval(90)), "In 1 minute");
  EXPECT_EQ(stringFromDateWithGreatestComponentsUntilDate(d, d.addingTimeInterval(-(2 * 86400 + 3 * 3600 + 59))),
            "2 days, 3 hours Ago");
  EXPECT_EQ(stringFromDateWithGreatestComponentsUntilDate(d, d.addingTimeInterval(30 * 86400 + 3600 + 120)),
            "In 1 month, 1 hour, 2 minutes");
}

TEST_F(KSMTDatesTest, ComponentsFromWordsAndBack) {
  struct Case {
    std::optional<std::string> text;
    std::optional<std::int64_t> day, month, year;
  };
  const Case cases[] = {
      {"May 2014", std::nullopt, 5, 2014},
      {"12", std::nullopt, 12, std::nullopt},
      {"05 2014", std::nullopt, 5, 2014},
      {"31 December 2014", 31, 12, 2014},
      {"45", std::nullopt, 0, std::nullopt},  // no day 45: the field reads 0, then moves to the month
      {"Mai 2014", std::nullopt, 0, 2014},    // not an English month
      {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    const DateComponents parts = componentsFromString(c.text);
    EXPECT_EQ(parts.day, c.day) << c.text.value_or("nil");
    EXPECT_EQ(parts.month, c.month) << c.text.value_or("nil");
    EXPECT_EQ(parts.year, c.year) << c.text.value_or("nil");
  }
  EXPECT_EQ(stringValue(componentsFromString("31 December 2014")), "31 December 2014");
  EXPECT_EQ(stringValue(componentsFromString("May 2014")), "May 2014");
  EXPECT_TRUE(isEqualToDateComponents(componentsFromString("05 2014"), componentsFromString("May 2014")));
  EXPECT_FALSE(isEqualToDateComponents(componentsFromString("June 2014"), componentsFromString("May 2014")));
}

TEST_F(KSMTDatesTest, PatternCallsLeaveTheSharedFormatterAsItWas) {
  const Date d = clock_->now();
  const std::string before = stringValue(d);
  EXPECT_FALSE(before.empty());
  EXPECT_EQ(dateFromStringUsingFormat("2014", "yyyy"), at(2014, 1, 1, 0, 0, 0, 1));
  EXPECT_EQ(dateFromStringUsingFormat(std::nullopt, "yyyy"), std::nullopt);
  EXPECT_EQ(stringFromDateWithFormat(d, "yyyy/MM/dd HH:mm", false), "2021/04/15 10:30");
  EXPECT_EQ(stringFromDateWithFullMonth(d), "April");
  EXPECT_EQ(stringFromDateWithFullWeekdayTitle(d), "Thursday");
  EXPECT_EQ(stringFromDateWithHourAndMinuteFormat(d, 0), "10:30");
  EXPECT_EQ(stringValue(d), before);
  setFormatterDateStyle(4);
  EXPECT_NE(stringValue(d), before);
  EXPECT_NE(stringValue(d).find("Thursday"), std::string::npos);
  setFormatterDateStyle(1);
  EXPECT_EQ(stringValue(d), before);
  EXPECT_EQ(monthlySymbols().front(), "January");
  EXPECT_EQ(weekdaySymbols().front(), "Sunday");
  EXPECT_EQ(veryShortWeekdaySymbols().size(), 7u);
}

TEST_F(KSMTDatesTest, EightThreadsAtOnce) {
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  const Date d = clock_->now();
  const Date monthEnd = at(2021, 4, 30, 23, 59, 59, 2);
  const std::string text = stringValue(d);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 150; ++i) {
        switch ((t + i) % 5) {
          case 0: wrong += startOfToday() != at(2021, 4, 15, 0, 0, 0, 2); break;
          case 1: wrong += endOfCurrentMonth(d) != monthEnd; break;
          case 2: wrong += stringValue(d) != text; break;
          case 3: wrong += componentsFromString("May 2014").month != 5; break;
          case 4: wrong += !isAfter(monthEnd, d) || dateDaysBefore(d, 1) != d.addingTimeInterval(-86400); break;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace velmora::kestrine::mt
