#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"

namespace platform::text {

// A parser for one fixed wire format of date and time, such as "yyyy-MM-dd'T'HH:mm:ss".
//
// The pattern uses the letters of Unicode Technical Standard #35. Parsing is locale-free
// (the POSIX locale "en_US_POSIX"), uses the Gregorian calendar, is strict (not lenient:
// a field out of range is refused rather than rolled over) and accepts a text only when the
// pattern reads all of it: "2021-03-04T05:06:07.890" does not match "yyyy-MM-dd'T'HH:mm:ss".
// A text without a zone offset is read in the current default time zone (DefaultTimeZone),
// taken at each parse, so a change of the zone reaches formats made before it.
//
// One instance may be shared by any number of threads: parses of one instance take turns.
class FixedDateFormat {
 public:
  // A pattern the date library refuses gives a format that matches nothing (valid() false).
  explicit FixedDateFormat(std::string_view pattern);
  ~FixedDateFormat();
  FixedDateFormat(const FixedDateFormat&) = delete;
  FixedDateFormat& operator=(const FixedDateFormat&) = delete;

  const std::string& pattern() const { return pattern_; }
  bool valid() const;

  // The instant the whole text denotes, or nullopt when the pattern does not match it all.
  std::optional<Date> parse(std::string_view text) const;

 private:
  struct Impl;
  std::string pattern_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::text
