#include "beacons/foundation/KSOptionValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

namespace velmora::kestrine::option {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view skipSpace(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && isSpace(s[i])) ++i;
  return s.substr(i);
}

std::int64_t saturatingFromDouble(double d) {
  if (std::isnan(d)) return 0;
  // 2^63 is exactly representable; anything at or above it saturates.
  if (d >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(d);
}

}  // namespace

std::optional<bool> boolValue(const platform::Value& value) {
  if (auto b = value.toBool()) return *b;
  if (auto d = value.toDouble()) return *d != 0.0 || std::isnan(*d);
  if (const std::string* s = value.string()) {
    std::string_view t = skipSpace(*s);
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) t.remove_prefix(1);
    while (!t.empty() && t[0] == '0') t.remove_prefix(1);
    if (t.empty()) return false;
    const char c = t[0];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
  }
  return std::nullopt;
}

std::optional<float> floatValue(const platform::Value& value) {
  if (auto b = value.toBool()) return *b ? 1.0f : 0.0f;
  if (auto d = value.toDouble()) return static_cast<float>(*d);
  if (const std::string* s = value.string()) {
    const std::string_view t = skipSpace(*s);
    // Take the longest prefix of the form [sign] digits [. digits] [e [sign] digits].
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    const std::size_t start = i;
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
      ++i;
      while (i < t.size() && isDigit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0f;
    std::size_t end = i;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
      std::size_t j = i + 1;
      if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
      if (j < t.size() && isDigit(t[j])) {
        while (j < t.size() && isDigit(t[j])) ++j;
        end = j;
      }
    }
    float f = 0.0f;
    const auto [ptr, ec] = std::from_chars(t.data() + start, t.data() + end, f, std::chars_format::general);
    (void)ptr;
    if (ec == std::errc::result_out_of_range) {
      // Too large or too small for a float: infinity, or zero for an underflow.
      double d = 0.0;
      std::from_chars(t.data() + start, t.data() + end, d, std::chars_format::general);
      f = std::fabs(d) >= 1.0 ? std::numeric_limits<float>::infinity() : 0.0f;
    }
    return negative ? -f : f;
  }
  return std::nullopt;
}

std::optional<std::int64_t> integerValue(const platform::Value& value) {
  if (auto b = value.toBool()) return *b ? 1 : 0;
  if (auto i = value.toInt64()) return *i;
  if (auto u = value.toUInt64()) return std::numeric_limits<std::int64_t>::max();  // above INT64_MAX
  if (auto d = value.toDouble()) return saturatingFromDouble(*d);
  if (const std::string* s = value.string()) {
    std::string_view t = skipSpace(*s);
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
      negative = t[0] == '-';
      t.remove_prefix(1);
    }
    // Accumulate toward the negative side so INT64_MIN is reachable.
    std::int64_t acc = 0;
    bool saturated = false;
    for (char c : t) {
      if (!isDigit(c)) break;
      const int digit = c - '0';
      if (!saturated) {
        if (acc < (std::numeric_limits<std::int64_t>::min() + digit) / 10) {
          saturated = true;
        } else {
          acc = acc * 10 - digit;
        }
      }
    }
    if (saturated) return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    if (negative) return acc;
    return acc == std::numeric_limits<std::int64_t>::min() ? std::numeric_limits<std::int64_t>::max() : -acc;
  }
  return std::nullopt;
}

}  // namespace velmora::kestrine::option
