#include "beacons/foundation/KSMTDates.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <unicode/calendar.h>
#include <unicode/dtfmtsym.h>
#include <unicode/dtptngen.h>
#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>
#include <mutex>

#include "platform/text/FixedDateFormat.h"

namespace velmora::kestrine::mt {

using platform::text::TimeZone;

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
// The length of a month in the greatest-components texts.
constexpr double kMonthSeconds = 30.0 * 86400.0;

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// Whole milliseconds (floor) and the microseconds left over, which calendar steps keep.
UDate millisOf(Date d) {
  const std::int64_t us = d.unixMicros();
  return static_cast<UDate>(us / 1000 - (us % 1000 < 0 ? 1 : 0));
}
std::int64_t subMillisOf(Date d) {
  const std::int64_t r = d.unixMicros() % 1000;
  return r < 0 ? r + 1000 : r;
}
// The calendar's milliseconds back to a date, saturated at the ends of the date range.
Date dateOf(UDate millis, std::int64_t subMillis = 0) {
  constexpr double kLimitMillis = 9223372036854775.0;  // floor(2^63 / 1000), exact in a double
  if (std::isnan(millis)) return Date();
  if (millis >= kLimitMillis) return Date::distantFuture();
  if (millis <= -kLimitMillis) return Date::distantPast();
  return Date::fromUnixMicros(static_cast<std::int64_t>(millis) * 1000).addingMicroseconds(subMillis);
}

// A date the calendar could not give (a field beyond its range): the end of the date range
// on the side the fields point to.
Date saturated(long double direction) { return direction < 0 ? Date::distantPast() : Date::distantFuture(); }

int32_t clamp32(std::int64_t v) {
  return static_cast<int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                       std::numeric_limits<int32_t>::max()));
}

std::int64_t negated(std::int64_t n) { return n == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -n; }

std::int64_t saturatedProduct(std::int64_t n, std::int64_t factor) {
  std::int64_t out = 0;
  if (__builtin_mul_overflow(n, factor, &out)) {
    return (n < 0) != (factor < 0) ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
  }
  return out;
}

// Seconds, roughly, from 1970 to a date given by its fields: enough to tell a date far
// beyond the range (about 292,000 years either side) from one inside it.
long double roughSeconds(std::int64_t y, std::int64_t m, std::int64_t d, std::int64_t h, std::int64_t mi,
                         std::int64_t s) {
  return (static_cast<long double>(y) - 1970) * 31556952.0L + (static_cast<long double>(m) - 1) * 2629746.0L +
         (static_cast<long double>(d) - 1) * 86400.0L + static_cast<long double>(h) * 3600.0L +
         static_cast<long double>(mi) * 60.0L + static_cast<long double>(s);
}
constexpr long double kRangeSeconds = 9223372036854.775807L;

// The largest step handed to the calendar at once for each calendar unit: a few thousand
// years, so one step from inside the date range stays inside the calendar's own range.
constexpr std::int64_t kYearStep = 100'000;
constexpr std::int64_t kMonthStep = 1'200'000;
constexpr std::int64_t kWeekStep = 5'000'000;
constexpr std::int64_t kDayStep = 36'500'000;

icu::DateFormat::EStyle icuStyle(std::uint64_t style) {
  switch (style) {
    case 0: return icu::DateFormat::kNone;
    case 1: return icu::DateFormat::kShort;
    case 2: return icu::DateFormat::kMedium;
    case 3: return icu::DateFormat::kLong;
    default: return icu::DateFormat::kFull;
  }
}

UCalendarDateFields fieldOf(Unit unit) {
  switch (unit) {
    case Unit::Year: return UCAL_YEAR;
    case Unit::Month: return UCAL_MONTH;
    case Unit::Week: return UCAL_WEEK_OF_YEAR;
    case Unit::Day: return UCAL_DATE;
    case Unit::Hour: return UCAL_HOUR_OF_DAY;
    case Unit::Minute: return UCAL_MINUTE;
    case Unit::Second: return UCAL_SECOND;
  }
  return UCAL_SECOND;
}

// The process-wide settings and the calendar and formatter built from them.
struct Shared {
  std::recursive_mutex lock;

  std::optional<std::string> calendarIdentifier;
  std::optional<std::string> locale;
  std::optional<TimeZone> zone;
  std::int64_t firstWeekday = 0;
  std::int64_t minimumDaysInFirstWeek = 0;
  std::uint64_t dateStyle = 1;
  std::uint64_t timeStyle = 1;
  std::shared_ptr<const platform::Clock> clock;

  std::unique_ptr<icu::Calendar> calendar;
  std::optional<TimeZone> calendarZone;  // the zone the calendar was built in
  std::string calendarDefaultLocale;     // the default locale it was built with, when none is set
  icu::Locale calendarLocale;
  std::unique_ptr<icu::DateFormat> formatter;

  void drop() {
    calendar.reset();
    formatter.reset();
    calendarZone.reset();
  }

  TimeZone effectiveZone() const { return zone ? *zone : TimeZone::current(); }

  // The locale's names and first weekday, with the set calendar, or the Gregorian one when
  // none is set: never the calendar the locale would choose (an Arabic, Thai or Persian
  // default locale must not turn "this month" into another calendar's month).
  icu::Locale effectiveLocale() const {
    icu::Locale l = locale ? icu::Locale(locale->c_str()) : icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    l.setKeywordValue("calendar", calendarIdentifier ? calendarIdentifier->c_str() : "gregorian", status);
    return l;
  }

  static icu::TimeZone* icuZone(const TimeZone& z) { return icu::TimeZone::createTimeZone(fromUtf8(z.identifier())); }

  // The calendar for the settings and the zone of now; rebuilt when an unset zone follows a
  // change of the default one.
  icu::Calendar& cal() {
    const TimeZone z = effectiveZone();
    const char* defaultLocale = locale ? "" : icu::Locale::getDefault().getName();
    if (calendar && calendarZone && *calendarZone == z && calendarDefaultLocale == defaultLocale) return *calendar;
    drop();
    calendarDefaultLocale = defaultLocale;
    UErrorCode status = U_ZERO_ERROR;
    calendarLocale = effectiveLocale();
    calendar.reset(icu::Calendar::createInstance(icuZone(z), calendarLocale, status));
    if (U_FAILURE(status) || !calendar) {
      status = U_ZERO_ERROR;
      calendar = std::make_unique<icu::GregorianCalendar>(icuZone(z), calendarLocale, status);
    }
    // A wall-clock time that occurs twice (the clocks go back) is its first occurrence: a day
    // on from 00:30 is 24 hours on when the next midnight repeats. Period starts also look
    // at the second occurrence (startOfCurrent).
    calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    if (firstWeekday >= 1 && firstWeekday <= 7) {
      calendar->setFirstDayOfWeek(static_cast<UCalendarDaysOfWeek>(firstWeekday));
    }
    if (minimumDaysInFirstWeek >= 1 && minimumDaysInFirstWeek <= 7) {
      calendar->setMinimalDaysInFirstWeek(static_cast<uint8_t>(minimumDaysInFirstWeek));
    }
    calendarZone = z;
    return *calendar;
  }

  icu::DateFormat* sharedFormatter() {
    icu::Calendar& c = cal();
    if (!formatter) {
      formatter.reset(icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), calendarLocale));
      if (formatter) formatter->setCalendar(c);
    }
    return formatter.get();
  }

  // A formatter of its own for one pattern, on a copy of the calendar.
  std::unique_ptr<icu::SimpleDateFormat> patternFormatter(std::string_view pattern, bool localized) {
    icu::Calendar& c = cal();
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString p = fromUtf8(pattern);
    if (localized) {
      std::unique_ptr<icu::DateTimePatternGenerator> generator(
          icu::DateTimePatternGenerator::createInstance(calendarLocale, status));
      if (U_SUCCESS(status)) {
        const icu::UnicodeString best = generator->getBestPattern(p, status);
        if (U_SUCCESS(status)) p = best;
      }
      status = U_ZERO_ERROR;
    }
    auto f = std::make_unique<icu::SimpleDateFormat>(p, calendarLocale, status);
    if (U_FAILURE(status)) return nullptr;
    f->setCalendar(c);
    return f;
  }

  Date now() const { return clock ? clock->now() : platform::Clock::system()->now(); }

  std::int64_t field(Date d, UCalendarDateFields f) {
    icu::Calendar& c = cal();
    UErrorCode status = U_ZERO_ERROR;
    c.setTime(millisOf(d), status);
    const int32_t v = c.get(f, status);
    return f == UCAL_MONTH ? v + 1 : v;
  }

  // The instant of the fields; a wall time that occurs twice gives its first occurrence, or
  // its second with `repeated` UCAL_WALLTIME_LAST.
  Date make(std::int64_t y, std::int64_t m, std::int64_t d, std::int64_t h, std::int64_t mi, std::int64_t s,
            UCalendarWallTimeOption repeated = UCAL_WALLTIME_FIRST) {
    const long double rough = roughSeconds(y, m, d, h, mi, s);
    if (rough > kRangeSeconds * 1.01L || rough < -kRangeSeconds * 1.01L) return saturated(rough);
    icu::Calendar& c = cal();
    c.setRepeatedWallTimeOption(repeated);
    c.clear();
    c.set(UCAL_YEAR, clamp32(y));
    c.set(UCAL_MONTH, clamp32(m - 1));
    c.set(UCAL_DATE, clamp32(d));
    c.set(UCAL_HOUR_OF_DAY, clamp32(h));
    c.set(UCAL_MINUTE, clamp32(mi));
    c.set(UCAL_SECOND, clamp32(s));
    UErrorCode status = U_ZERO_ERROR;
    const UDate millis = c.getTime(status);
    c.setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    return U_SUCCESS(status) ? dateOf(millis) : saturated(rough);
  }

  // One calendar addition, larger units first, keeping d's microseconds below a millisecond.
  // Years to days step the wall clock (the calendar clamps the day of the month); hours,
  // minutes and seconds are fixed lengths of time, added exactly. Any amount of a signed
  // 64-bit count is taken whole: a result beyond the date range is its end.
  Date add(Date d, std::int64_t years, std::int64_t months, std::int64_t weeks, std::int64_t days, std::int64_t hours,
           std::int64_t minutes, std::int64_t seconds) {
    if (years != 0 || months != 0 || weeks != 0 || days != 0) {
      icu::Calendar& c = cal();
      UErrorCode status = U_ZERO_ERROR;
      c.setTime(millisOf(d), status);
      const std::tuple<UCalendarDateFields, std::int64_t, std::int64_t> steps[] = {
          {UCAL_YEAR, years, kYearStep},
          {UCAL_MONTH, months, kMonthStep},
          {UCAL_WEEK_OF_YEAR, weeks, kWeekStep},
          {UCAL_DATE, days, kDayStep},
      };
      for (auto [f, n, most] : steps) {
        while (n != 0) {
          const std::int64_t step = std::clamp(n, -most, most);
          n -= step;
          c.add(f, static_cast<int32_t>(step), status);
          const UDate now = c.getTime(status);
          if (U_FAILURE(status) || !(std::fabs(now) < 9223372036854775.0)) return saturated(static_cast<long double>(step));
        }
      }
      d = dateOf(c.getTime(status), subMillisOf(d));
    }
    d = d.addingMicroseconds(saturatedProduct(hours, 3'600'000'000));
    d = d.addingMicroseconds(saturatedProduct(minutes, 60'000'000));
    return d.addingMicroseconds(saturatedProduct(seconds, kMicrosPerSecond));
  }

  Date addUnit(Date d, Unit unit, std::int64_t n, std::int64_t extraSeconds = 0) {
    std::int64_t a[7] = {};
    a[static_cast<int>(unit)] = n;
    if (unit == Unit::Second) {
      if (__builtin_add_overflow(n, extraSeconds, &a[6])) a[6] = n < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    } else {
      a[6] = extraSeconds;
    }
    return add(d, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
  }
};

Shared& shared() {
  static Shared& s = *new Shared();
  return s;
}

using Lock = std::lock_guard<std::recursive_mutex>;

std::string formatWith(icu::DateFormat* f, Date d) {
  if (!f) return {};
  icu::UnicodeString out;
  f->format(millisOf(d), out);
  return toUtf8(out);
}

std::vector<std::string> symbols(bool weekdays, icu::DateFormatSymbols::DtWidthType width) {
  Shared& s = shared();
  Lock lock(s.lock);
  s.cal();
  UErrorCode status = U_ZERO_ERROR;
  icu::DateFormatSymbols dfs(s.calendarLocale, status);
  if (U_FAILURE(status)) return {};
  int32_t count = 0;
  const icu::UnicodeString* list = weekdays ? dfs.getWeekdays(count, icu::DateFormatSymbols::FORMAT, width)
                                            : dfs.getMonths(count, icu::DateFormatSymbols::FORMAT, width);
  std::vector<std::string> out;
  // The weekday list starts with an empty entry, so that index 1 is Sunday.
  for (int32_t i = weekdays ? 1 : 0; i < count; ++i) out.push_back(toUtf8(list[i]));
  return out;
}

}  // namespace

// --- settings -------------------------------------------------------------------------------

void setCalendarIdentifier(std::optional<std::string> identifier) {
  Lock lock(shared().lock);
  shared().calendarIdentifier = std::move(identifier);
  shared().drop();
}

void setLocale(std::optional<std::string> locale) {
  Lock lock(shared().lock);
  shared().locale = std::move(locale);
  shared().drop();
}

void setTimeZone(std::optional<TimeZone> zone) {
  Lock lock(shared().lock);
  shared().zone = std::move(zone);
  shared().drop();
}

void setFirstDayOfWeek(std::int64_t weekday) {
  Lock lock(shared().lock);
  shared().firstWeekday = weekday;
  shared().drop();
}

void setWeekNumberingSystem(std::int64_t minimumDays) {
  Lock lock(shared().lock);
  shared().minimumDaysInFirstWeek = minimumDays;
  shared().drop();
}

void setFormatterDateStyle(std::uint64_t style) {
  Lock lock(shared().lock);
  shared().dateStyle = style;
  shared().formatter.reset();
}

void setFormatterTimeStyle(std::uint64_t style) {
  Lock lock(shared().lock);
  shared().timeStyle = style;
  shared().formatter.reset();
}

void reset() {
  Lock lock(shared().lock);
  shared().drop();
}

void setClock(std::shared_ptr<const platform::Clock> clock) {
  Lock lock(shared().lock);
  shared().clock = std::move(clock);
}

std::int64_t minValueForUnit(Unit unit) {
  switch (unit) {
    case Unit::Hour:
    case Unit::Minute:
    case Unit::Second: return 0;
    default: return 1;
  }
}

std::int64_t maxValueForUnit(Unit unit) {
  Lock lock(shared().lock);
  const int32_t v = shared().cal().getMaximum(fieldOf(unit));
  return unit == Unit::Month ? v + 1 : v;
}

// --- making dates ---------------------------------------------------------------------------

std::optional<Date> dateFromISOString(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  using platform::text::FixedDateFormat;
  static const FixedDateFormat formats[] = {
      FixedDateFormat("yyyy-MM-dd'T'HH:mm.ss.SSS'Z'", TimeZone::gmt()),
      // The layout the one above was meant to be: a fractional-second timestamp must not be
      // refused, nor read as some other instant.
      FixedDateFormat("yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", TimeZone::gmt()),
      FixedDateFormat("yyyy-MM-dd HH:mm:ss ZZZ", TimeZone::gmt()),
      FixedDateFormat("yyyy-MM-dd HH:mm:ss Z", TimeZone::gmt()),
      FixedDateFormat("yyyy-MM-dd HH:mm:ss", TimeZone::gmt()),
      FixedDateFormat("yyyy-MM-dd'T'HH:mm:ss'Z'", TimeZone::gmt()),
      FixedDateFormat("yyyy-MM-dd", TimeZone::gmt()),
  };
  for (const auto& f : formats) {
    if (auto d = f.parse(*text)) return d;
  }
  return std::nullopt;
}

std::optional<Date> dateFromStringUsingFormat(const std::optional<std::string>& text, std::string_view format) {
  if (!text) return std::nullopt;
  Lock lock(shared().lock);
  auto f = shared().patternFormatter(format, false);
  if (!f) return std::nullopt;
  f->setLenient(false);
  const icu::UnicodeString source = fromUtf8(*text);
  icu::ParsePosition position(0);
  const UDate millis = f->parse(source, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != source.length()) return std::nullopt;
  return dateOf(millis);
}

Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day) {
  return dateFromYear(year, month, day, minValueForUnit(Unit::Hour), minValueForUnit(Unit::Minute));
}

Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute) {
  return dateFromYear(year, month, day, hour, minute, minValueForUnit(Unit::Second));
}

Date dateFromYear(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour, std::int64_t minute,
                  std::int64_t second) {
  Lock lock(shared().lock);
  return shared().make(year, month, day, hour, minute, second);
}

Date dateFromYearWeekWeekday(std::int64_t year, std::int64_t week, std::int64_t weekday, std::int64_t hour,
                             std::int64_t minute, std::int64_t second) {
  const long double rough = roughSeconds(year, 1, week * 7 + weekday, hour, minute, second);
  if (rough > kRangeSeconds * 1.01L || rough < -kRangeSeconds * 1.01L) return saturated(rough);
  Lock lock(shared().lock);
  icu::Calendar& c = shared().cal();
  c.clear();
  c.set(UCAL_YEAR_WOY, clamp32(year));
  c.set(UCAL_WEEK_OF_YEAR, clamp32(week));
  c.set(UCAL_DAY_OF_WEEK, clamp32(weekday));
  c.set(UCAL_HOUR_OF_DAY, clamp32(hour));
  c.set(UCAL_MINUTE, clamp32(minute));
  c.set(UCAL_SECOND, clamp32(second));
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = c.getTime(status);
  return U_SUCCESS(status) ? dateOf(millis) : saturated(rough);
}

std::optional<Date> dateFromComponents(const std::optional<DateComponents>& components) {
  if (!components) return std::nullopt;
  Lock lock(shared().lock);
  icu::Calendar& c = shared().cal();
  c.clear();
  const auto put = [&](UCalendarDateFields f, const std::optional<std::int64_t>& v, int delta = 0) {
    if (v) c.set(f, clamp32(*v + delta));
  };
  put(UCAL_ERA, components->era);
  put(UCAL_YEAR, components->year);
  put(UCAL_MONTH, components->month, -1);
  put(UCAL_DATE, components->day);
  put(UCAL_HOUR_OF_DAY, components->hour);
  put(UCAL_MINUTE, components->minute);
  put(UCAL_SECOND, components->second);
  put(UCAL_WEEK_OF_YEAR, components->weekOfYear);
  put(UCAL_WEEK_OF_MONTH, components->weekOfMonth);
  put(UCAL_DAY_OF_WEEK, components->weekday);
  put(UCAL_DAY_OF_WEEK_IN_MONTH, components->weekdayOrdinal);
  put(UCAL_YEAR_WOY, components->yearForWeekOfYear);
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = c.getTime(status);
  if (U_FAILURE(status)) return std::nullopt;
  return dateOf(millis);
}

Date startOfToday() { return startOfCurrentDay(shared().now()); }
Date startOfYesterday() { return startOfPreviousDay(shared().now()); }
Date startOfTomorrow() { return startOfNextDay(shared().now()); }
Date endOfToday() { return endOfCurrentDay(shared().now()); }
Date endOfYesterday() { return endOfPreviousDay(shared().now()); }
Date endOfTomorrow() { return endOfNextDay(shared().now()); }

std::vector<Date> datesCollectionFromDate(Date from, Date until) {
  Lock lock(shared().lock);
  const std::int64_t n = daysSinceDate(until, from);
  std::vector<Date> out;
  for (std::int64_t i = 0; i < n; ++i) out.push_back(dateDaysAfter(from, i));
  return out;
}

// --- symbols --------------------------------------------------------------------------------

std::vector<std::string> shortWeekdaySymbols() { return symbols(true, icu::DateFormatSymbols::ABBREVIATED); }
std::vector<std::string> weekdaySymbols() { return symbols(true, icu::DateFormatSymbols::WIDE); }
std::vector<std::string> veryShortWeekdaySymbols() { return symbols(true, icu::DateFormatSymbols::NARROW); }
std::vector<std::string> shortMonthlySymbols() { return symbols(false, icu::DateFormatSymbols::ABBREVIATED); }
std::vector<std::string> monthlySymbols() { return symbols(false, icu::DateFormatSymbols::WIDE); }
std::vector<std::string> veryShortMonthlySymbols() { return symbols(false, icu::DateFormatSymbols::NARROW); }

// --- reading a date -------------------------------------------------------------------------

#define KS_MT_FIELD(name, calendarField) \
  std::int64_t name(Date d) {             \
    Lock lock(shared().lock);             \
    return shared().field(d, calendarField); \
  }
KS_MT_FIELD(year, UCAL_YEAR)
KS_MT_FIELD(monthOfYear, UCAL_MONTH)
KS_MT_FIELD(dayOfMonth, UCAL_DATE)
KS_MT_FIELD(hourOfDay, UCAL_HOUR_OF_DAY)
KS_MT_FIELD(minuteOfHour, UCAL_MINUTE)
KS_MT_FIELD(secondOfMinute, UCAL_SECOND)
KS_MT_FIELD(weekOfYear, UCAL_WEEK_OF_YEAR)
KS_MT_FIELD(weekOfMonth, UCAL_WEEK_OF_MONTH)
KS_MT_FIELD(dayOfYear, UCAL_DAY_OF_YEAR)
KS_MT_FIELD(weekdayOfWeek, UCAL_DOW_LOCAL)
#undef KS_MT_FIELD

double secondsIntoDay(Date d) {
  Lock lock(shared().lock);
  return static_cast<double>(d.microsecondsSince(startOfCurrentDay(d)) / kMicrosPerSecond);
}

DateComponents components(Date d) {
  Lock lock(shared().lock);
  DateComponents c;
  c.year = year(d);
  c.month = monthOfYear(d);
  c.day = dayOfMonth(d);
  c.hour = hourOfDay(d);
  c.minute = minuteOfHour(d);
  c.second = secondOfMinute(d);
  c.weekday = shared().field(d, UCAL_DAY_OF_WEEK);
  c.weekOfYear = weekOfYear(d);
  return c;
}

bool isInAM(Date d) { return hourOfDay(d) < 12; }

bool isStartOfAnHour(Date d) {
  Lock lock(shared().lock);
  return minuteOfHour(d) == minValueForUnit(Unit::Minute) && secondOfMinute(d) == minValueForUnit(Unit::Second);
}

std::int64_t weekdayStartOfCurrentMonth(Date d) {
  Lock lock(shared().lock);
  return weekdayOfWeek(startOfCurrentMonth(d));
}

std::int64_t daysInCurrentMonth(Date d) {
  Lock lock(shared().lock);
  return dayOfMonth(endOfCurrentMonth(d));
}

std::int64_t daysInPreviousMonth(Date d) {
  Lock lock(shared().lock);
  return dayOfMonth(endOfPreviousMonth(d));
}

std::int64_t daysInNextMonth(Date d) {
  Lock lock(shared().lock);
  return dayOfMonth(endOfNextMonth(d));
}

std::vector<Date> hoursInCurrentDayAsDatesCollection(Date d) {
  Lock lock(shared().lock);
  const std::int64_t y = year(d);
  const std::int64_t m = monthOfYear(d);
  const std::int64_t day = dayOfMonth(d);
  std::vector<Date> out;
  for (std::int64_t h = 23; h >= 0; --h) out.push_back(dateFromYear(y, m, day, h, 0));
  return out;
}

Date inTimeZone(Date d, const TimeZone& zone) {
  const TimeZone own = [] {
    Lock lock(shared().lock);
    return shared().effectiveZone();
  }();
  const std::int64_t shift = std::int64_t{zone.offsetMillisAt(d)} - own.offsetMillisAt(d);
  return d.addingMicroseconds(shift * 1000);
}

// --- the unit family ------------------------------------------------------------------------

namespace {

// The start of d's period: the instant at which the wall clock first shows the period's
// leading fields (the minimum for the others). When the clocks go back those fields can
// show twice; the start is then the occurrence whose period holds d: the first midnight of
// a day whose midnight repeats (so the day is 25 hours long), the second 02:00 for a date in
// the repeated hour. A start is never after its date.
Date startWithFields(Date d, Unit unit, std::int64_t y, std::int64_t m, std::int64_t day, std::int64_t h,
                     std::int64_t mi) {
  Shared& s = shared();
  const Date first = s.make(y, m, day, h, mi, 0, UCAL_WALLTIME_FIRST);
  const Date second = s.make(y, m, day, h, mi, 0, UCAL_WALLTIME_LAST);
  if (second == first || second > d) return first;
  if (first <= d && s.addUnit(first, unit, 1) > d) return first;
  return second;
}

}  // namespace

Date startOfCurrent(Date d, Unit unit) {
  Lock lock(shared().lock);
  Shared& s = shared();
  switch (unit) {
    case Unit::Year:
      return startWithFields(d, unit, year(d), minValueForUnit(Unit::Month), minValueForUnit(Unit::Day), 0, 0);
    case Unit::Month: return startWithFields(d, unit, year(d), monthOfYear(d), minValueForUnit(Unit::Day), 0, 0);
    case Unit::Week: {
      const Date first = s.addUnit(d, Unit::Day, 1 - weekdayOfWeek(d));
      return std::min(startOfCurrent(first, Unit::Day), d);
    }
    case Unit::Day: return startWithFields(d, unit, year(d), monthOfYear(d), dayOfMonth(d), 0, 0);
    case Unit::Hour: return startWithFields(d, unit, year(d), monthOfYear(d), dayOfMonth(d), hourOfDay(d), 0);
    case Unit::Minute:
      return startWithFields(d, unit, year(d), monthOfYear(d), dayOfMonth(d), hourOfDay(d), minuteOfHour(d));
    case Unit::Second: {
      const std::int64_t us = d.unixMicros();
      return Date::fromUnixMicros(us).addingMicroseconds(-(((us % kMicrosPerSecond) + kMicrosPerSecond) % kMicrosPerSecond));
    }
  }
  return d;
}

Date startOfPrevious(Date d, Unit unit) {
  if (unit == Unit::Second) return d.addingMicroseconds(-kMicrosPerSecond);
  Lock lock(shared().lock);
  return shared().addUnit(startOfCurrent(d, unit), unit, -1);
}

Date startOfNext(Date d, Unit unit) {
  if (unit == Unit::Second) return d.addingMicroseconds(kMicrosPerSecond);
  Lock lock(shared().lock);
  return shared().addUnit(startOfCurrent(d, unit), unit, 1);
}

Date endOfCurrent(Date d, Unit unit) {
  Lock lock(shared().lock);
  return shared().addUnit(startOfCurrent(d, unit), unit, 1, -1);
}

Date endOfPrevious(Date d, Unit unit) { return startOfCurrent(d, unit).addingMicroseconds(-kMicrosPerSecond); }

Date endOfNext(Date d, Unit unit) {
  Lock lock(shared().lock);
  return endOfCurrent(startOfNext(d, unit), unit);
}

Date oneUnitPrevious(Date d, Unit unit) { return dateUnitsBefore(d, unit, 1); }
Date oneUnitNext(Date d, Unit unit) { return dateUnitsAfter(d, unit, 1); }

Date dateUnitsBefore(Date d, Unit unit, std::int64_t n) { return dateUnitsAfter(d, unit, negated(n)); }

Date dateUnitsAfter(Date d, Unit unit, std::int64_t n) {
  Lock lock(shared().lock);
  return shared().addUnit(d, unit, n);
}

std::int64_t unitsSinceDate(Date d, Unit unit, Date other) {
  // Hours, minutes and seconds are fixed lengths of time: whole ones, toward zero.
  switch (unit) {
    case Unit::Hour: return d.microsecondsSince(other) / 3'600'000'000;
    case Unit::Minute: return d.microsecondsSince(other) / 60'000'000;
    case Unit::Second: return d.microsecondsSince(other) / kMicrosPerSecond;
    default: break;
  }
  Lock lock(shared().lock);
  icu::Calendar& c = shared().cal();
  UErrorCode status = U_ZERO_ERROR;
  c.setTime(millisOf(other), status);
  const int32_t n = c.fieldDifference(millisOf(d), fieldOf(unit), status);
  return U_SUCCESS(status) ? n : 0;
}

std::int64_t unitsUntilDate(Date d, Unit unit, Date other) { return unitsSinceDate(other, unit, d); }

// --- arithmetic and comparison --------------------------------------------------------------

Date dateByAddingYears(Date d, std::int64_t years, std::int64_t months, std::int64_t weeks, std::int64_t days,
                       std::int64_t hours, std::int64_t minutes, std::int64_t seconds) {
  Lock lock(shared().lock);
  return shared().add(d, years, months, weeks, days, hours, minutes, seconds);
}

bool isWithinSameYear(Date d, Date other) {
  Lock lock(shared().lock);
  return year(d) == year(other);
}

bool isWithinSameMonth(Date d, Date other) {
  Lock lock(shared().lock);
  return isWithinSameYear(d, other) && monthOfYear(d) == monthOfYear(other);
}

bool isWithinSameDay(Date d, Date other) {
  Lock lock(shared().lock);
  return isWithinSameMonth(d, other) && dayOfMonth(d) == dayOfMonth(other);
}

bool isWithinSameHour(Date d, Date other) {
  Lock lock(shared().lock);
  return isWithinSameDay(d, other) && hourOfDay(d) == hourOfDay(other);
}

bool isWithinSameWeek(Date d, Date other) {
  Lock lock(shared().lock);
  return isOnOrAfter(d, startOfCurrentWeek(other)) && isOnOrBefore(d, endOfCurrentWeek(other));
}

bool isBetweenDate(Date d, Date a, Date b) {
  const Date lo = std::min(a, b);
  const Date hi = std::max(a, b);
  return isOnOrAfter(d, lo) && isOnOrBefore(d, hi);
}

// --- formatting -----------------------------------------------------------------------------

std::string stringValue(Date d) {
  Lock lock(shared().lock);
  return formatWith(shared().sharedFormatter(), d);
}

std::string stringValueWithDateStyle(Date d, std::uint64_t dateStyle, std::uint64_t timeStyle) {
  Lock lock(shared().lock);
  Shared& s = shared();
  s.cal();
  std::unique_ptr<icu::DateFormat> f(
      icu::DateFormat::createDateTimeInstance(icuStyle(dateStyle), icuStyle(timeStyle), s.calendarLocale));
  if (f) f->setCalendar(*s.calendar);
  return formatWith(f.get(), d);
}

std::string stringFromDateWithFormat(Date d, std::string_view format, bool localized) {
  Lock lock(shared().lock);
  auto f = shared().patternFormatter(format, localized);
  return formatWith(f.get(), d);
}

std::string stringFromDateWithHourAndMinuteFormat(Date d, std::int64_t kind) {
  return stringFromDateWithFormat(d, kind != 0 ? "hh:mma" : "HH:mm", true);
}
std::string stringFromDateWithShortMonth(Date d) { return stringFromDateWithFormat(d, "MMM", true); }
std::string stringFromDateWithFullMonth(Date d) { return stringFromDateWithFormat(d, "MMMM", true); }
std::string stringFromDateWithShortWeekdayTitle(Date d) { return stringFromDateWithFormat(d, "E", true); }
std::string stringFromDateWithFullWeekdayTitle(Date d) { return stringFromDateWithFormat(d, "EEEE", true); }
std::string stringFromDateWithAMPMSymbol(Date d) { return stringFromDateWithFormat(d, "a", false); }

std::string stringFromDateWithISODateTime(Date d) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale posix("en_US_POSIX");
  icu::SimpleDateFormat f(icu::UnicodeString("yyyy-MM-dd HH:mm:ss Z"), posix, status);
  if (U_FAILURE(status)) return {};
  f.adoptCalendar(new icu::GregorianCalendar(icu::TimeZone::getGMT()->clone(), posix, status));
  return formatWith(&f, d);
}

std::string stringFromDateWithGreatestComponentsForSecondsPassed(double seconds) {
  double rest = std::fabs(seconds);
  std::string text;
  const std::pair<double, std::string_view> steps[] = {
      {kMonthSeconds, "months"}, {86400.0, "days"}, {3600.0, "hours"}, {60.0, "minutes"}};
  for (const auto& [length, name] : steps) {
    const double n = std::floor(rest / length);
    if (n >= 1) {
      text += fmt::format("{} {}, ", static_cast<std::int64_t>(n), name);
      rest -= n * length;
    }
  }
  if (const auto whole = static_cast<std::int64_t>(rest); whole > 0) text += fmt::format("{} seconds, ", whole);
  const std::size_t first = text.find_first_not_of(", ");
  text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(", ") - first + 1);
  return seconds < 0 ? fmt::format("{} before", text) : fmt::format("{} after", text);
}

std::string stringFromDateWithGreatestComponentsUntilDate(Date d, Date other) {
  const double t = other.timeIntervalSince(d);
  double rest = std::fabs(t);
  std::string text;
  const std::tuple<double, std::string_view, std::string_view> steps[] = {{kMonthSeconds, "month", "months"},
                                                                          {86400.0, "day", "days"},
                                                                          {3600.0, "hour", "hours"},
                                                                          {60.0, "minute", "minutes"}};
  for (const auto& [length, one, many] : steps) {
    const double n = std::floor(rest / length);
    if (n >= 1) {
      if (!text.empty()) text += ", ";
      text += fmt::format("{} {}", static_cast<std::int64_t>(n), n == 1 ? one : many);
      rest -= n * length;
    }
  }
  return t < 0 ? fmt::format("{} Ago", text) : fmt::format("In {}", text);
}

// --- components -----------------------------------------------------------------------------

DateComponents componentsFromString(const std::optional<std::string>& text) {
  DateComponents out;
  if (!text) return out;
  Lock lock(shared().lock);
  const std::string_view all = *text;
  std::size_t start = 0;
  while (start <= all.size()) {
    const std::size_t space = std::min(all.find(' ', start), all.size());
    const std::string word(all.substr(start, space - start));
    start = space + 1;
    const bool hasDigit = std::any_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c); });
    const bool hasLetter = std::any_of(word.begin(), word.end(), [](unsigned char c) { return std::isalpha(c) || c >= 0x80; });
    if (word.size() == 4 && hasDigit) {
      const auto d = dateFromStringUsingFormat(word, "yyyy");
      out.year = d ? year(*d) : 0;
    } else if (hasLetter) {
      const auto d = dateFromStringUsingFormat(word, "MMMM");
      out.month = d ? monthOfYear(*d) : 0;
    } else if (word.size() == 2) {
      const auto d = dateFromStringUsingFormat(word, "dd");
      out.day = d ? dayOfMonth(*d) : 0;
    }
  }
  if (!out.month && out.day) {
    out.month = std::min<std::int64_t>(*out.day, 12);
    out.day.reset();
  }
  return out;
}

std::string stringValue(const DateComponents& c) {
  Lock lock(shared().lock);
  const Date d = dateFromYear(c.year.value_or(1970), c.month.value_or(1), c.day.value_or(1));
  std::vector<std::string> parts;
  if (c.day) parts.push_back(stringFromDateWithFormat(d, "dd", false));
  if (c.month) parts.push_back(stringFromDateWithFormat(d, "MMMM", false));
  if (c.year) parts.push_back(stringFromDateWithFormat(d, "yyyy", false));
  return fmt::format("{}", fmt::join(parts, " "));
}

bool isEqualToDateComponents(const DateComponents& a, const DateComponents& b) { return a == b; }

}  // namespace velmora::kestrine::mt
