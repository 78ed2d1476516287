#include "platform/text/FixedLayout.h"

#include <array>

namespace velmora::platform::text {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads exactly `width` ASCII digits at `pos`; -1 when any is not a digit.
int digits(std::string_view text, std::size_t pos, std::size_t width) {
  if (pos > text.size() || width > text.size() - pos) return -1;
  int value = 0;
  for (std::size_t i = 0; i < width; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::int64_t FixedLayout::Fields::wallMillis() const {
  const std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000 + millisecond;
}

std::optional<FixedLayout> FixedLayout::compile(std::string_view pattern) {
  FixedLayout layout;
  unsigned seen = 0;
  auto literal = [&](char c) {
    if (layout.steps_.empty() || layout.steps_.back().kind != Kind::Literal) {
      layout.steps_.push_back({Kind::Literal, {}});
    }
    layout.steps_.back().literal.push_back(c);
    ++layout.length_;
  };
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '\'') {
      // '' is a quote; otherwise the text up to the next lone quote is literal.
      if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
        literal('\'');
        i += 2;
        continue;
      }
      ++i;
      bool closed = false;
      while (i < pattern.size()) {
        if (pattern[i] == '\'') {
          if (i + 1 < pattern.size() && pattern[i + 1] == '\'') {
            literal('\'');
            i += 2;
            continue;
          }
          closed = true;
          ++i;
          break;
        }
        literal(pattern[i++]);
      }
      if (!closed) return std::nullopt;
      continue;
    }
    if (!isLetter(c)) {
      literal(c);
      ++i;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    Kind kind;
    std::size_t width;
    switch (c) {
      case 'y': kind = Kind::Year, width = 4; break;
      case 'M': kind = Kind::Month, width = 2; break;
      case 'd': kind = Kind::Day, width = 2; break;
      case 'H': kind = Kind::Hour, width = 2; break;
      case 'm': kind = Kind::Minute, width = 2; break;
      case 's': kind = Kind::Second, width = 2; break;
      case 'S': kind = Kind::Millisecond, width = 3; break;
      case 'Z': kind = Kind::Offset, width = run <= 3 ? run : 0; break;
      default: return std::nullopt;
    }
    if (run != width) return std::nullopt;
    const unsigned bit = 1u << static_cast<unsigned>(kind);
    if (seen & bit) return std::nullopt;
    seen |= bit;
    layout.steps_.push_back({kind, {}});
    layout.length_ += kind == Kind::Offset ? 5 : width;
    if (kind == Kind::Offset) layout.hasOffset_ = true;
    i += run;
  }
  constexpr unsigned kRequired = (1u << static_cast<unsigned>(Kind::Year)) |
                                 (1u << static_cast<unsigned>(Kind::Month)) | (1u << static_cast<unsigned>(Kind::Day));
  if ((seen & kRequired) != kRequired) return std::nullopt;
  return layout;
}

std::optional<FixedLayout::Fields> FixedLayout::read(std::string_view text) const {
  // The zone offset is the one field of varying width: "Z" (1), "+HHMM" (5) or "+HH:MM" (6).
  if (hasOffset_ ? (text.size() + 4 < length_ || text.size() > length_ + 1) : text.size() != length_) {
    return std::nullopt;
  }
  Fields f;
  std::size_t pos = 0;
  for (const Step& step : steps_) {
    int v = 0;
    switch (step.kind) {
      case Kind::Literal:
        if (text.substr(pos, step.literal.size()) != step.literal) return std::nullopt;
        pos += step.literal.size();
        continue;
      case Kind::Year:
        if ((v = digits(text, pos, 4)) < 1) return std::nullopt;
        f.year = v;
        pos += 4;
        continue;
      case Kind::Month:
        if ((v = digits(text, pos, 2)) < 1 || v > 12) return std::nullopt;
        f.month = v;
        break;
      case Kind::Day:
        if ((v = digits(text, pos, 2)) < 1) return std::nullopt;
        f.day = v;  // checked against the month below, once both are known
        break;
      case Kind::Hour:
        if ((v = digits(text, pos, 2)) < 0 || v > 23) return std::nullopt;
        f.hour = v;
        break;
      case Kind::Minute:
        if ((v = digits(text, pos, 2)) < 0 || v > 59) return std::nullopt;
        f.minute = v;
        break;
      case Kind::Second:
        if ((v = digits(text, pos, 2)) < 0 || v > 59) return std::nullopt;
        f.second = v;
        break;
      case Kind::Millisecond:
        if ((v = digits(text, pos, 3)) < 0) return std::nullopt;
        f.millisecond = v;
        pos += 3;
        continue;
      case Kind::Offset: {
        if (pos >= text.size()) return std::nullopt;
        const char sign = text[pos];
        if (sign == 'Z') {  // UTC written as a letter, as ISO 8601 allows
          f.offsetMinutes = 0;
          pos += 1;
          continue;
        }
        if (sign != '+' && sign != '-') return std::nullopt;
        const int hh = digits(text, pos + 1, 2);
        const bool extended = pos + 3 < text.size() && text[pos + 3] == ':';
        const int mm = digits(text, pos + (extended ? 4 : 3), 2);
        if (hh < 0 || hh > 23 || mm < 0 || mm > 59) return std::nullopt;
        f.offsetMinutes = (sign == '-' ? -1 : 1) * (hh * 60 + mm);
        pos += extended ? 6 : 5;
        continue;
      }
    }
    pos += 2;
  }
  if (pos != text.size()) return std::nullopt;
  if (f.day > daysInMonth(f.year, f.month)) return std::nullopt;
  return f;
}

}  // namespace velmora::platform::text
