#include "beacons/foundation/KSTimeZoneUtilities.h"

#include <fmt/format.h>

#include <cstdlib>

#include "platform/text/TimeZone.h"

namespace velmora::kestrine {

std::string KSTimeZoneUtilities::localTimeZoneOffsetString(const platform::Clock& clock) {
  const std::int32_t millis = platform::text::TimeZone::current().offsetMillisAt(clock.now());
  // Seconds of an offset (old local mean times) are dropped, as the "Z" format does.
  const int minutes = std::abs(millis) / 60'000;
  return fmt::format("{}{:02}{:02}", millis < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

}  // namespace velmora::kestrine
