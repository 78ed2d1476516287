#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace velmora::platform {

// A point in time: whole microseconds on the Unix epoch (1970-01-01T00:00:00Z).
// JSON bodies carry dates as seconds since the reference date 2001-01-01T00:00:00Z;
// conversions to and from that form are exact for every value with at most six
// fractional digits.
//
// The representable range is distantPast() to distantFuture() (about 292,000 years either
// side of 1970). All arithmetic saturates at its ends: a date plus any interval, however
// large or infinite, is a date of that range, never a wrapped one.
class Date {
 public:
  // Seconds between the Unix epoch and the reference date 2001-01-01T00:00:00Z.
  static constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;

  constexpr Date() = default;

  static constexpr Date fromUnixMicros(std::int64_t micros) { return Date(micros); }
  // The ends of the representable range.
  static constexpr Date distantPast() { return Date(INT64_MIN); }
  static constexpr Date distantFuture() { return Date(INT64_MAX); }
  // Rounds to the nearest microsecond; NaN gives the epoch, out-of-range values saturate.
  static Date fromUnixSeconds(double seconds);
  static Date fromReferenceSeconds(double seconds);

  constexpr std::int64_t unixMicros() const { return micros_; }
  double timeIntervalSince1970() const;
  double timeIntervalSinceReferenceDate() const;
  // Seconds from other to this date (negative when other is later).
  double timeIntervalSince(Date other) const;
  // Rounds the interval to the nearest microsecond; NaN adds nothing; saturates.
  Date addingTimeInterval(double seconds) const;
  Date addingMicroseconds(std::int64_t micros) const;
  // Whole microseconds from other to this date, saturated at the int64 range.
  std::int64_t microsecondsSince(Date other) const;

  // "2001-01-01T00:00:00.500000Z": UTC, always six fractional digits. For logs and tests.
  std::string iso8601() const;

  friend constexpr auto operator<=>(Date, Date) = default;

 private:
  constexpr explicit Date(std::int64_t micros) : micros_(micros) {}
  std::int64_t micros_ = 0;
};

}  // namespace velmora::platform
