#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/text/TimeZone.h"

namespace velmora::platform::text {

// A parser for one fixed wire format of date and time, such as "yyyy-MM-dd'T'HH:mm:ss".
//
// The pattern uses the letters of Unicode Technical Standard #35. Parsing is locale-free
// (the POSIX locale "en_US_POSIX"), uses the Gregorian calendar, is strict (not lenient:
// a field out of range is refused rather than rolled over) and accepts a text only when the
// pattern reads all of it: "2021-03-04T05:06:07.890" does not match "yyyy-MM-dd'T'HH:mm:ss".
// A text without a zone offset is read in the current default time zone (DefaultTimeZone),
// taken at each parse, so a change of the zone reaches formats made before it, or in the
// zone the format was made with. A wall time that the zone skips (clocks going forward) is
// refused; one that it repeats is read as the later, standard-time instant.
//
// A pattern of the fixed wire layouts (FixedLayout: "yyyy-MM-dd'T'HH:mm:ss.SSSZ" and the
// like) is read by position, without a lock and without the calendar library's formatter,
// and accepts only texts of exactly its shape: four-digit years, two-digit fields, three
// digits of milliseconds, an offset as "+HHMM" or "-HHMM". Any other pattern is read by the
// library's formatter (LibraryDateFormat), which is looser.
//
// One instance may be shared by any number of threads.
class FixedDateFormat {
 public:
  // A pattern the date library refuses gives a format that matches nothing (valid() false).
  explicit FixedDateFormat(std::string_view pattern);
  // Reads texts without an offset in this zone rather than the default one.
  FixedDateFormat(std::string_view pattern, TimeZone zone);
  ~FixedDateFormat();
  FixedDateFormat(const FixedDateFormat&) = delete;
  FixedDateFormat& operator=(const FixedDateFormat&) = delete;

  const std::string& pattern() const { return pattern_; }
  bool valid() const;
  // Whether the pattern is a fixed layout, read by position.
  bool isFixedLayout() const;

  // The instant the whole text denotes, or nullopt when the pattern does not match it all.
  std::optional<Date> parse(std::string_view text) const;

 private:
  struct Impl;
  std::string pattern_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform::text
