#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/text/TimeZone.h"

namespace velmora::platform::text {

// A fixed date format read by the calendar library's own date formatter: the POSIX locale
// "en_US_POSIX", the library's Gregorian calendar (Julian before October 1582), not lenient,
// literals matched in full, and the whole text read. FixedDateFormat uses it for patterns
// that are not fixed layouts and for years before the Gregorian reform; it is slower (one
// lock per instance, a zone copy per parse) and looser than the fixed layouts, which accept
// only texts of exactly the pattern's shape.
class LibraryDateFormat {
 public:
  // Without a zone, texts without an offset are read in the default zone of each parse.
  explicit LibraryDateFormat(std::string_view pattern, std::optional<TimeZone> zone = std::nullopt);
  ~LibraryDateFormat();
  LibraryDateFormat(const LibraryDateFormat&) = delete;
  LibraryDateFormat& operator=(const LibraryDateFormat&) = delete;

  bool valid() const;
  std::optional<Date> parse(std::string_view text) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform::text
