#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace velmora::platform {

// A point in time: whole microseconds on the Unix epoch (1970-01-01T00:00:00Z).
// JSON bodies carry dates as seconds since the reference date 2001-01-01T00:00:00Z;
// conversions to and from that form are exact for every value with at most six
// fractional digits.
class Date {
 public:
  // Seconds between the Unix epoch and the reference date 2001-01-01T00:00:00Z.
  static constexpr std::int64_t kReferenceDateUnixSeconds = 978307200;

  constexpr Date() = default;

  static constexpr Date fromUnixMicros(std::int64_t micros) { return Date(micros); }
  // Rounds to the nearest microsecond; NaN gives the epoch, out-of-range values saturate.
  static Date fromUnixSeconds(double seconds);
  static Date fromReferenceSeconds(double seconds);

  constexpr std::int64_t unixMicros() const { return micros_; }
  double timeIntervalSince1970() const;
  double timeIntervalSinceReferenceDate() const;
  double timeIntervalSince(Date other) const;
  Date addingTimeInterval(double seconds) const;

  // "2001-01-01T00:00:00.500000Z": UTC, always six fractional digits. For logs and tests.
  std::string iso8601() const;

  friend constexpr auto operator<=>(Date, Date) = default;

 private:
  constexpr explicit Date(std::int64_t micros) : micros_(micros) {}
  std::int64_t micros_ = 0;
};

}  // namespace velmora::platform
