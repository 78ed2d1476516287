#include "platform/text/LibraryDateFormat.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <cmath>
#include <mutex>

namespace velmora::platform::text {

struct LibraryDateFormat::Impl {
  // The library's formatters are not safe for concurrent use; every parse holds the lock.
  std::mutex mutex;
  std::unique_ptr<icu::SimpleDateFormat> format;
  bool followsDefaultZone = true;
};

namespace {

icu::UnicodeString fromUtf8(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

LibraryDateFormat::LibraryDateFormat(std::string_view pattern, std::optional<TimeZone> zone)
    : impl_(std::make_unique<Impl>()) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale posix("en_US_POSIX");
  auto format = std::make_unique<icu::SimpleDateFormat>(fromUtf8(pattern), posix, status);
  if (U_FAILURE(status)) return;
  // The POSIX locale's calendar is Gregorian already; stating it keeps the wire format
  // independent of locale data.
  auto calendar = std::make_unique<icu::GregorianCalendar>(posix, status);
  if (U_FAILURE(status)) return;
  format->adoptCalendar(calendar.release());
  // Strict: no rolling over of out-of-range fields, no whitespace or numeric leniency, and
  // literal text must match in full.
  format->setLenient(false);
  format->setBooleanAttribute(UDAT_PARSE_PARTIAL_LITERAL_MATCH, false, status);
  format->setBooleanAttribute(UDAT_PARSE_MULTIPLE_PATTERNS_FOR_MATCH, false, status);
  if (U_FAILURE(status)) return;
  if (zone) {
    format->adoptTimeZone(icu::TimeZone::createTimeZone(fromUtf8(zone->identifier())));
    impl_->followsDefaultZone = false;
  }
  impl_->format = std::move(format);
}

LibraryDateFormat::~LibraryDateFormat() = default;

bool LibraryDateFormat::valid() const { return impl_->format != nullptr; }

std::optional<Date> LibraryDateFormat::parse(std::string_view text) const {
  if (!impl_->format) return std::nullopt;
  const icu::UnicodeString source = fromUtf8(text);
  std::lock_guard lock(impl_->mutex);
  // The device's zone as it is now, not as it was when the format was made.
  if (impl_->followsDefaultZone) impl_->format->adoptTimeZone(icu::TimeZone::createDefault());
  icu::ParsePosition position(0);
  const UDate millis = impl_->format->parse(source, position);
  if (position.getErrorIndex() >= 0 || position.getIndex() != source.length()) return std::nullopt;
  // UDate holds whole milliseconds on the Unix epoch, exactly; scaled to microseconds as a
  // double it would round in the last digits for years far ahead.
  // A year beyond the date range (the calendar reads up to millions) gives the range's end.
  constexpr double kLimitMillis = 9223372036854775.0;
  if (millis >= kLimitMillis) return Date::distantFuture();
  if (millis <= -kLimitMillis) return Date::distantPast();
  return Date::fromUnixMicros(static_cast<std::int64_t>(std::llround(millis)) * 1000);
}

}  // namespace velmora::platform::text
