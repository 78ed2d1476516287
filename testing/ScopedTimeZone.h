#pragma once

#include <string_view>

#include "platform/text/DefaultTimeZone.h"

namespace velmora::testing {

// Makes a zone the device's default time zone for one scope and puts the previous one back.
// Whether the zone was known is in ok(); an unknown one leaves the default as it was.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(std::string_view identifier) : ok_(platform::text::DefaultTimeZone::set(identifier)) {}
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  bool ok() const { return ok_; }

 private:
  platform::text::DefaultTimeZone::Restorer restorer_;  // made first, so it saves the zone before the change
  bool ok_;
};

}  // namespace velmora::testing
