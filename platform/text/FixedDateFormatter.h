#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/core/Date.h"

namespace velmora::platform::text {

// Writes dates in one fixed wire format, such as "yyyy-MM-dd'T'HH:mm:ssZZZ" (which gives
// "2014-05-06T14:50:30+0530"): the writing side of FixedDateFormat.
//
// The pattern uses the letters of Unicode Technical Standard #35, in the POSIX locale
// "en_US_POSIX" and the Gregorian calendar, so the text never depends on the device's
// language. Dates are written in the current default time zone (DefaultTimeZone), taken
// at each call.
//
// One instance may be shared by any number of threads: calls of one instance take turns.
class FixedDateFormatter {
 public:
  // A pattern the date library refuses gives a formatter that writes nothing (valid() false).
  explicit FixedDateFormatter(std::string_view pattern);
  ~FixedDateFormatter();
  FixedDateFormatter(const FixedDateFormatter&) = delete;
  FixedDateFormatter& operator=(const FixedDateFormatter&) = delete;

  const std::string& pattern() const { return pattern_; }
  bool valid() const;

  // The date as text in the pattern; empty when the formatter is not valid. Fractions of a
  // millisecond are dropped (the date library counts whole milliseconds).
  std::string format(Date date) const;

 private:
  struct Impl;
  std::string pattern_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform::text
