#include "platform/text/FixedDateFormat.h"

#include "platform/text/FixedLayout.h"
#include "platform/text/LibraryDateFormat.h"

namespace velmora::platform::text {

namespace {

// The first year wholly in the Gregorian calendar. Earlier dates go to the calendar
// library, whose calendar is Julian before the reform of October 1582.
constexpr int kFirstGregorianYear = 1583;

}  // namespace

struct FixedDateFormat::Impl {
  std::optional<FixedLayout> layout;
  std::optional<TimeZone> zone;  // empty: the default zone of each parse
  LibraryDateFormat library;

  Impl(std::string_view pattern, std::optional<TimeZone> fixedZone)
      : layout(FixedLayout::compile(pattern)), zone(std::move(fixedZone)), library(pattern, zone) {}
};

FixedDateFormat::FixedDateFormat(std::string_view pattern)
    : pattern_(pattern), impl_(std::make_unique<Impl>(pattern, std::nullopt)) {}

FixedDateFormat::FixedDateFormat(std::string_view pattern, TimeZone zone)
    : pattern_(pattern), impl_(std::make_unique<Impl>(pattern, std::move(zone))) {}

FixedDateFormat::~FixedDateFormat() = default;

bool FixedDateFormat::valid() const { return impl_->layout.has_value() || impl_->library.valid(); }

bool FixedDateFormat::isFixedLayout() const { return impl_->layout.has_value(); }

std::optional<Date> FixedDateFormat::parse(std::string_view text) const {
  if (!impl_->layout) return impl_->library.parse(text);
  const auto fields = impl_->layout->read(text);
  if (!fields) return std::nullopt;
  if (fields->year < kFirstGregorianYear) return impl_->library.parse(text);
  const std::int64_t wall = fields->wallMillis();
  if (fields->offsetMinutes) {
    return Date::fromUnixMicros((wall - std::int64_t{*fields->offsetMinutes} * 60'000) * 1000);
  }
  return (impl_->zone ? *impl_->zone : TimeZone::current()).instantOfWallTime(wall);
}

}  // namespace velmora::platform::text
