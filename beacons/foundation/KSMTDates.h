#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/core/Date.h"
#include "platform/text/TimeZone.h"

// Calendar arithmetic, comparisons, parsing and formatting of dates (the dates category).
//
// Every calculation goes through one process-wide calendar built from process-wide settings
// (calendar identifier, locale, time zone, first weekday, minimum days in the first week).
// The calendar is the Gregorian one unless an identifier is set: never the calendar a locale
// would choose (an Arabic, Thai or Persian default locale counts Gregorian years and months
// too). Another unset setting follows the platform at the moment of the call: the locale's
// first weekday, the default locale, and the default time zone of platform/text. "Now" is
// the clock set with setClock, the system clock until then.
//
// Amounts are taken as whole 64-bit counts, and a result beyond the date range is the end of
// the range (Date::distantPast, Date::distantFuture). Where the clocks go back and a wall time
// occurs twice, a date given by fields is its first occurrence, and a period starts at the
// occurrence whose period holds the date: a start is never after its date.
//
// All members may be called from any thread: those that touch the shared calendar or
// formatter serialise on one process-wide recursive lock. The four ordering tests touch no
// shared state and take no lock.
namespace velmora::kestrine::mt {

using platform::Date;

enum class Unit { Year, Month, Week, Day, Hour, Minute, Second };

// The fields of a date in the calendar; an absent field is undefined.
struct DateComponents {
  std::optional<std::int64_t> era, year, month, day, hour, minute, second, weekday, weekdayOrdinal, quarter,
      weekOfMonth, weekOfYear, yearForWeekOfYear;

  friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// --- settings -------------------------------------------------------------------------------

// Each setter stores its value (nullopt or 0 makes the setting unset again) and drops the
// cached calendar and formatter, which are rebuilt at their next use.
void setCalendarIdentifier(std::optional<std::string> identifier);  // "gregorian", "buddhist", ...
void setLocale(std::optional<std::string> locale);                  // "en_US", "de_DE", ...
void setTimeZone(std::optional<platform::text::TimeZone> zone);
void setFirstDayOfWeek(std::int64_t weekday);          // 1 Sunday ... 7 Saturday; 0 unset
void setWeekNumberingSystem(std::int64_t minimumDays);  // minimum days in the first week; 0 unset
// Styles of the shared formatter: 0 none, 1 short, 2 medium, 3 long, 4 full; both 1 at first.
void setFormatterDateStyle(std::uint64_t style);
void setFormatterTimeStyle(std::uint64_t style);
// Drops the cached calendar and formatter.
void reset();
// The source of "now"; null goes back to the system clock.
void setClock(std::shared_ptr<const platform::Clock> clock);

std::int64_t minValueForUnit(Unit unit);
std::int64_t maxValueForUnit(Unit unit);  // the largest value the unit can take in the calendar

// --- making dates ---------------------------------------------------------------------------

// The formats "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" (also written "HH:mm.ss.SSS"), "yyyy-MM-dd HH:mm:ss
// ZZZ", "yyyy-MM-dd HH:mm:ss Z", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd'T'HH:mm:ss'Z'" and
// "yyyy-MM-dd", tried in order, in GMT; nullopt when none reads the whole text.
std::optional<Date> dateFromISOString(const std::optional<std::string>& text);
// The text read with the pattern in the set locale, zone and calendar; nullopt for no text or
// no match. The pattern has its own formatter: stringValue's formatter stays as it was.
std::optional<Date> dateFromStringUsingFormat(const std::optional<std::string>& text, std::string_view format);
Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day);
Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute);
Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute,
                  std::int64_t second);
// Week of year and weekday (1 Sunday ... 7 Saturday) in place of month and day.
Date dateFromYearWeekWeekday(std::int64_t year, std::int64_t week, std::int64_t weekday, std::int64_t hour = 0,
                             std::int64_t minute = 0, std::int64_t second = 0);
std::optional<Date> dateFromComponents(const std::optional<DateComponents>& components);

Date startOfToday();
Date startOfYesterday();
Date startOfTomorrow();
Date endOfToday();
Date endOfYesterday();
Date endOfTomorrow();
// from + 0, 1, ..., n-1 days where n is until's daysSinceDate from; empty when n <= 0.
std::vector<Date> datesCollectionFromDate(Date from, Date until);

// --- symbols of the shared formatter's locale -------------------------------------------------

std::vector<std::string> shortWeekdaySymbols();
std::vector<std::string> weekdaySymbols();
std::vector<std::string> veryShortWeekdaySymbols();
std::vector<std::string> shortMonthlySymbols();
std::vector<std::string> monthlySymbols();
std::vector<std::string> veryShortMonthlySymbols();

// --- reading a date -------------------------------------------------------------------------

std::int64_t year(Date d);
std::int64_t monthOfYear(Date d);
std::int64_t dayOfMonth(Date d);
std::int64_t hourOfDay(Date d);
std::int64_t minuteOfHour(Date d);
std::int64_t secondOfMinute(Date d);
std::int64_t weekOfYear(Date d);
std::int64_t weekOfMonth(Date d);
std::int64_t dayOfYear(Date d);
// 1 for the calendar's first weekday.
std::int64_t weekdayOfWeek(Date d);
// Whole seconds since startOfCurrentDay, truncated toward zero.
double secondsIntoDay(Date d);
// Year, month, day, hour, minute, second, weekday and week of year.
DateComponents components(Date d);
bool isInAM(Date d);
bool isStartOfAnHour(Date d);
std::int64_t weekdayStartOfCurrentMonth(Date d);
std::int64_t daysInCurrentMonth(Date d);
std::int64_t daysInPreviousMonth(Date d);
std::int64_t daysInNextMonth(Date d);
// The day's hours 23, 22, ..., 0 at minute and second 0.
std::vector<Date> hoursInCurrentDayAsDatesCollection(Date d);
// d moved by the zone's offset less the set zone's offset, both at d.
Date inTimeZone(Date d, const platform::text::TimeZone& zone);

// --- the unit family ------------------------------------------------------------------------

// The first instant of d's year, month, week (from the first weekday), day, hour or minute.
// Second has no start: startOfPrevious and startOfNext of Second are d -/+ 1 s exactly.
Date startOfCurrent(Date d, Unit unit);
Date startOfPrevious(Date d, Unit unit);  // startOfCurrent, then one unit back
Date startOfNext(Date d, Unit unit);      // startOfCurrent, then one unit on
// The last whole second of the period: the next period's start less one second, so a date at
// 23:59:59.5 is after the end of its own day.
Date endOfCurrent(Date d, Unit unit);
// The current period's start less one second. (Stepping the current end back a month would
// clamp: 30 April 23:59:59 back one month is 30 March, and 31 March would be lost.)
Date endOfPrevious(Date d, Unit unit);
// The end of the period after the current one.
Date endOfNext(Date d, Unit unit);
Date oneUnitPrevious(Date d, Unit unit);
Date oneUnitNext(Date d, Unit unit);
Date dateUnitsBefore(Date d, Unit unit, std::int64_t n);
Date dateUnitsAfter(Date d, Unit unit, std::int64_t n);
// Whole units from other to d (unitsSinceDate) and from d to other (unitsUntilDate).
std::int64_t unitsSinceDate(Date d, Unit unit, Date other);
std::int64_t unitsUntilDate(Date d, Unit unit, Date other);

#define KS_MT_UNIT_FAMILY(Name, Plural, plural, U)                                                          \
  inline Date startOfCurrent##Name(Date d) { return startOfCurrent(d, U); }                         \
  inline Date startOfPrevious##Name(Date d) { return startOfPrevious(d, U); }                       \
  inline Date startOfNext##Name(Date d) { return startOfNext(d, U); }                               \
  inline Date endOfCurrent##Name(Date d) { return endOfCurrent(d, U); }                             \
  inline Date endOfPrevious##Name(Date d) { return endOfPrevious(d, U); }                           \
  inline Date endOfNext##Name(Date d) { return endOfNext(d, U); }                                   \
  inline Date one##Name##Previous(Date d) { return oneUnitPrevious(d, U); }                         \
  inline Date one##Name##Next(Date d) { return oneUnitNext(d, U); }                                 \
  inline Date date##Plural##Before(Date d, std::int64_t n) { return dateUnitsBefore(d, U, n); }     \
  inline Date date##Plural##After(Date d, std::int64_t n) { return dateUnitsAfter(d, U, n); }       \
  inline std::int64_t plural##SinceDate(Date d, Date o) { return unitsSinceDate(d, U, o); }         \
  inline std::int64_t plural##UntilDate(Date d, Date o) { return unitsUntilDate(d, U, o); }

KS_MT_UNIT_FAMILY(Year, Years, years, Unit::Year)
KS_MT_UNIT_FAMILY(Month, Months, months, Unit::Month)
KS_MT_UNIT_FAMILY(Week, Weeks, weeks, Unit::Week)
KS_MT_UNIT_FAMILY(Day, Days, days, Unit::Day)
KS_MT_UNIT_FAMILY(Hour, Hours, hours, Unit::Hour)
KS_MT_UNIT_FAMILY(Minute, Minutes, minutes, Unit::Minute)
#undef KS_MT_UNIT_FAMILY

inline Date startOfPreviousSecond(Date d) { return startOfPrevious(d, Unit::Second); }
inline Date startOfNextSecond(Date d) { return startOfNext(d, Unit::Second); }
inline Date oneSecondPrevious(Date d) { return oneUnitPrevious(d, Unit::Second); }
inline Date oneSecondNext(Date d) { return oneUnitNext(d, Unit::Second); }
inline Date dateSecondsBefore(Date d, std::int64_t n) { return dateUnitsBefore(d, Unit::Second, n); }
inline Date dateSecondsAfter(Date d, std::int64_t n) { return dateUnitsAfter(d, Unit::Second, n); }
inline std::int64_t secondsSinceDate(Date d, Date o) { return unitsSinceDate(d, Unit::Second, o); }
inline std::int64_t secondsUntilDate(Date d, Date o) { return unitsUntilDate(d, Unit::Second, o); }

// --- arithmetic and comparison --------------------------------------------------------------

// One calendar addition of the non-zero amounts, larger units first.
Date dateByAddingYears(Date d, std::int64_t years, std::int64_t months, std::int64_t weeks, std::int64_t days,
                       std::int64_t hours, std::int64_t minutes, std::int64_t seconds);

constexpr bool isAfter(Date d, Date other) { return d > other; }
constexpr bool isBefore(Date d, Date other) { return d < other; }
constexpr bool isOnOrAfter(Date d, Date other) { return d >= other; }
constexpr bool isOnOrBefore(Date d, Date other) { return d <= other; }

bool isWithinSameYear(Date d, Date other);
bool isWithinSameMonth(Date d, Date other);
bool isWithinSameWeek(Date d, Date other);
bool isWithinSameDay(Date d, Date other);
bool isWithinSameHour(Date d, Date other);
// Within [a, b] or [b, a], both ends included.
bool isBetweenDate(Date d, Date a, Date b);

// --- formatting -----------------------------------------------------------------------------

// The shared formatter's text: the set date and time styles, locale and zone.
std::string stringValue(Date d);
// With these styles for this call only.
std::string stringValueWithDateStyle(Date d, std::uint64_t dateStyle, std::uint64_t timeStyle);
// With the pattern, or with the locale's preferred pattern for it as a template when
// localized. The pattern has its own formatter: stringValue's stays as it was.
std::string stringFromDateWithFormat(Date d, std::string_view format, bool localized);
// "hh:mma" when kind is non-zero, "HH:mm" otherwise; localized.
std::string stringFromDateWithHourAndMinuteFormat(Date d, std::int64_t kind);
std::string stringFromDateWithShortMonth(Date d);
std::string stringFromDateWithFullMonth(Date d);
std::string stringFromDateWithShortWeekdayTitle(Date d);
std::string stringFromDateWithFullWeekdayTitle(Date d);
std::string stringFromDateWithAMPMSymbol(Date d);
// "yyyy-MM-dd HH:mm:ss Z" in GMT: "2014-05-06 10:00:00 +0000".
std::string stringFromDateWithISODateTime(Date d);
// "1 hours, 2 minutes, 5 seconds before" for -3725: the greatest parts of |seconds| (a month
// being 30 days), "before" for a negative count, "after" otherwise.
std::string stringFromDateWithGreatestComponentsForSecondsPassed(double seconds);
// "In 1 minute", "2 days, 3 hours Ago": months to minutes until the other date, singular or
// plural; seconds are never shown.
std::string stringFromDateWithGreatestComponentsUntilDate(Date d, Date other);

// --- components -----------------------------------------------------------------------------

// Words split on " ": four characters with a digit are the year, a word with a letter the
// month name, two characters the day; a word that fails to read sets its field to 0. A day
// without a month becomes the month (at most 12): "05 2014" is May 2014. No text gives empty
// components.
DateComponents componentsFromString(const std::optional<std::string>& text);
// The set parts among day ("dd"), month ("MMMM") and year ("yyyy"), in that order, joined by " ".
std::string stringValue(const DateComponents& components);
bool isEqualToDateComponents(const DateComponents& a, const DateComponents& b);

}  // namespace velmora::kestrine::mt
