#include "beacons/foundation/KSStringify.h"

#include <fmt/format.h>

#include <algorithm>

#include "platform/text/DecimalText.h"

namespace velmora::kestrine {

std::string KSStringify::stringWithMilliseconds(std::int64_t milliseconds) {
  return fmt::format("{} ms", milliseconds);
}

std::string KSStringify::stringWithIntegerValue(std::int64_t value) { return fmt::format("{}", value); }

std::optional<std::string> KSStringify::stringWithIntegerNumber(std::optional<std::int64_t> number) {
  if (!number) return std::nullopt;
  return stringWithIntegerValue(*number);
}

std::optional<std::string> KSStringify::stringWithPower(std::optional<std::int64_t> dBm) {
  if (!dBm) return std::nullopt;
  return fmt::format("{} dBm", *dBm);
}

std::optional<std::string> KSStringify::stringWithMinutes(std::optional<std::int64_t> minutes) {
  if (!minutes) return std::nullopt;
  return fmt::format("{} mins", *minutes);
}

std::string KSStringify::stringWithDistance(double metres) { return fmt::format("{:.2f} m", metres); }

std::optional<std::string> KSStringify::stringWithPercentage(std::optional<std::int64_t> percent) {
  if (!percent) return std::nullopt;
  return fmt::format("{}%", *percent);
}

std::optional<std::string> KSStringify::stringWithCoordinate(std::optional<double> coordinate,
                                                             std::uint64_t precision) {
  if (!coordinate) return std::nullopt;
  // Each call keeps its own precision; nothing is shared between calls.
  return platform::text::decimalText(*coordinate, static_cast<int>(std::min<std::uint64_t>(precision, 17)));
}

namespace number_stringify {

std::string coordinateString(double coordinate) { return platform::text::decimalText(coordinate, 6); }

}  // namespace number_stringify

}  // namespace velmora::kestrine
