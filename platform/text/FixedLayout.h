#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform::text {

// A date pattern compiled to fixed positions: each field a run of digits of one width at one
// place, literals between them byte for byte. It reads the pattern letters that fixed wire
// formats use: "yyyy", "MM", "dd", "HH", "mm", "ss", "SSS" and "Z" (also "ZZ", "ZZZ": a sign
// and four digits, "+HHMM", also read as "+HH:MM" or "Z" for UTC, as servers write ISO 8601
// offsets both ways); quoted text ('T', '' for a quote) and every other non-letter
// are literals. Year, month and day are required, each field at most once; the time fields
// that a pattern leaves out read as 0.
//
// Reading checks every field's range (month 1-12, day within its month by the Gregorian
// rules, hour 0-23, minute and second 0-59, offset up to 23:59) and needs the whole text.
class FixedLayout {
 public:
  struct Fields {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    std::optional<int> offsetMinutes;  // present when the pattern has a zone offset

    // The wall-clock time as milliseconds on the Unix epoch, as if it were UTC, by the
    // proleptic Gregorian calendar.
    std::int64_t wallMillis() const;
  };

  // nullopt for a pattern with any other letter, a repeated or missing required field, or an
  // unterminated quote: such a pattern is not a fixed layout.
  static std::optional<FixedLayout> compile(std::string_view pattern);

  // The fields of a text laid out exactly as the pattern says, or nullopt.
  std::optional<Fields> read(std::string_view text) const;

  bool hasOffset() const { return hasOffset_; }

 private:
  enum class Kind : std::uint8_t { Literal, Year, Month, Day, Hour, Minute, Second, Millisecond, Offset };
  struct Step {
    Kind kind;
    std::string literal;  // Literal only
  };

  std::vector<Step> steps_;
  std::size_t length_ = 0;  // the length of every text the layout reads
  bool hasOffset_ = false;
};

}  // namespace velmora::platform::text
