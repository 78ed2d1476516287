#pragma once

#include <string>

#include "platform/core/Clock.h"

namespace velmora::kestrine {

class KSTimeZoneUtilities {
 public:
  KSTimeZoneUtilities() = delete;

  // The default zone's offset from GMT at the clock's now: sign, two-digit hours, two-digit
  // minutes, no separator ("+0100", "-0930", "+0000").
  static std::string localTimeZoneOffsetString(const platform::Clock& clock);
};

}  // namespace velmora::kestrine
