#include "platform/text/FixedDateFormatter.h"

#include <unicode/gregocal.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <mutex>

namespace velmora::platform::text {

struct FixedDateFormatter::Impl {
  // ICU formatters are not safe for concurrent use; every call holds the lock.
  std::mutex mutex;
  std::unique_ptr<icu::SimpleDateFormat> format;
};

FixedDateFormatter::FixedDateFormatter(std::string_view pattern)
    : pattern_(pattern), impl_(std::make_unique<Impl>()) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale posix("en_US_POSIX");
  const auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(pattern.data(), static_cast<int32_t>(pattern.size())));
  auto format = std::make_unique<icu::SimpleDateFormat>(text, posix, status);
  if (U_FAILURE(status)) return;
  auto calendar = std::make_unique<icu::GregorianCalendar>(posix, status);
  if (U_FAILURE(status)) return;
  format->adoptCalendar(calendar.release());
  impl_->format = std::move(format);
}

FixedDateFormatter::~FixedDateFormatter() = default;

bool FixedDateFormatter::valid() const { return impl_->format != nullptr; }

std::string FixedDateFormatter::format(Date date) const {
  if (!impl_->format) return {};
  // Floor to whole milliseconds, also before the epoch, so a date never rounds up into the
  // next second.
  std::int64_t micros = date.unixMicros();
  std::int64_t millis = micros / 1000;
  if (micros % 1000 < 0) --millis;
  icu::UnicodeString out;
  {
    std::lock_guard lock(impl_->mutex);
    impl_->format->adoptTimeZone(icu::TimeZone::createDefault());
    impl_->format->format(static_cast<UDate>(millis), out);
  }
  std::string text;
  out.toUTF8String(text);
  return text;
}

}  // namespace velmora::platform::text
