#include "platform/core/Date.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace velmora::platform {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kReferenceMicros = Date::kReferenceDateUnixSeconds * kMicrosPerSecond;

std::int64_t microsFromSeconds(double seconds) {
  if (std::isnan(seconds)) return 0;
  const double micros = std::nearbyint(seconds * 1e6);
  // 2^63 is exactly representable; anything at or beyond it saturates.
  constexpr double kLimit = 9223372036854775808.0;
  if (micros >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (micros < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(micros);
}

// Days since 1970-01-01 to a proleptic Gregorian civil date.
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

Date Date::fromUnixSeconds(double seconds) { return Date(microsFromSeconds(seconds)); }

Date Date::fromReferenceSeconds(double seconds) {
  return Date(kReferenceMicros).addingTimeInterval(seconds);
}

Date Date::addingMicroseconds(std::int64_t micros) const {
  std::int64_t sum = 0;
  if (__builtin_add_overflow(micros_, micros, &sum)) return micros > 0 ? distantFuture() : distantPast();
  return Date(sum);
}

std::int64_t Date::microsecondsSince(Date other) const {
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(micros_, other.micros_, &difference)) {
    return micros_ > other.micros_ ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
  }
  return difference;
}

double Date::timeIntervalSince1970() const {
  return static_cast<double>(micros_) / 1e6;
}

double Date::timeIntervalSinceReferenceDate() const { return timeIntervalSince(Date(kReferenceMicros)); }

double Date::timeIntervalSince(Date other) const {
  // The subtraction is exact in integers, and the one division rounds correctly; only a
  // difference beyond the int64 range (dates near both ends) is taken in doubles.
  std::int64_t difference = 0;
  if (__builtin_sub_overflow(micros_, other.micros_, &difference)) {
    return (static_cast<double>(micros_) - static_cast<double>(other.micros_)) / 1e6;
  }
  return static_cast<double>(difference) / 1e6;
}

Date Date::addingTimeInterval(double seconds) const {
  if (std::isnan(seconds)) return *this;
  const double micros = std::nearbyint(seconds * 1e6);
  constexpr double kLimit = 9223372036854775808.0;
  if (micros >= -kLimit && micros < kLimit) return addingMicroseconds(static_cast<std::int64_t>(micros));
  // An interval beyond the int64 range: the sum is taken in doubles, which is exact enough
  // to tell on which side of the range it falls.
  const double sum = static_cast<double>(micros_) + micros;
  if (sum >= kLimit) return distantFuture();
  if (sum < -kLimit) return distantPast();
  return Date(static_cast<std::int64_t>(sum));
}

std::string Date::iso8601() const {
  // Taken apart without a product that could leave the int64 range at its lower end.
  std::int64_t frac = micros_ % kMicrosPerSecond;
  const std::int64_t secs = micros_ / kMicrosPerSecond - (frac < 0 ? 1 : 0);
  if (frac < 0) frac += kMicrosPerSecond;
  const std::int64_t days = floorDiv(secs, 86400);
  const std::int64_t sod = secs - days * 86400;
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  civilFromDays(days, y, m, d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ",
                static_cast<long long>(y), m, d, static_cast<long long>(sod / 3600),
                static_cast<long long>(sod / 60 % 60), static_cast<long long>(sod % 60),
                static_cast<long long>(frac));
  return buf;
}

}  // namespace velmora::platform
