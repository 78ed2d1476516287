#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmora::kestrine {

// Unit-suffixed display texts of beacon values. A number that may be absent is an optional;
// absent gives no text.
class KSStringify {
 public:
  KSStringify() = delete;

  static std::string stringWithMilliseconds(std::int64_t milliseconds);  // "250 ms"
  static std::string stringWithIntegerValue(std::int64_t value);          // "42"
  static std::optional<std::string> stringWithIntegerNumber(std::optional<std::int64_t> number);
  static std::optional<std::string> stringWithPower(std::optional<std::int64_t> dBm);         // "-59 dBm"
  static std::optional<std::string> stringWithMinutes(std::optional<std::int64_t> minutes);   // "15 mins"
  static std::string stringWithDistance(double metres);                                         // "2.50 m"
  static std::optional<std::string> stringWithPercentage(std::optional<std::int64_t> percent);  // "87%"
  // At most `precision` fraction digits, a point as decimal separator whatever the locale.
  static std::optional<std::string> stringWithCoordinate(std::optional<double> coordinate, std::uint64_t precision);
};

// The coordinate text of a number (the number stringify category).
namespace number_stringify {

// At most 6 fraction digits and a point as decimal separator whatever the locale, as the
// nearby-sites query of the cloud API needs: 151.20931234 gives "151.209312".
std::string coordinateString(double coordinate);

}  // namespace number_stringify

}  // namespace velmora::kestrine
