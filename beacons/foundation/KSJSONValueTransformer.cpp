#include "beacons/foundation/KSJSONValueTransformer.h"

#include <fmt/format.h>

#include <cctype>
#include <charconv>
#include <cmath>

namespace velmora::kestrine {

using platform::Value;

KSJSONFamily KSJSONValueTransformer::familyOf(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::String: return KSJSONFamily::String;
    case Value::Kind::Bool:
    case Value::Kind::Int:
    case Value::Kind::UInt:
    case Value::Kind::Double: return KSJSONFamily::Number;
    case Value::Kind::Array: return KSJSONFamily::Array;
    case Value::Kind::Dict: return KSJSONFamily::Dictionary;
    case Value::Kind::Null: return KSJSONFamily::Null;
    default: return KSJSONFamily::Other;
  }
}

std::string KSJSONValueTransformer::familyName(const Value& value) {
  switch (familyOf(value)) {
    case KSJSONFamily::String: return "NSString";
    case KSJSONFamily::Number: return "NSNumber";
    case KSJSONFamily::Array: return "NSArray";
    case KSJSONFamily::Dictionary: return "NSDictionary";
    case KSJSONFamily::Null: return "NSNull";
    case KSJSONFamily::Other: break;
  }
  return std::string(Value::kindName(value.kind()));
}

const platform::text::FixedDateFormat& KSJSONValueTransformer::importDateFormatter() {
  static const platform::text::FixedDateFormat& format = *new platform::text::FixedDateFormat(kImportDateFormat);
  return format;
}

const platform::text::FixedDateFormatter& KSJSONValueTransformer::exportDateFormatter() {
  static const platform::text::FixedDateFormatter& format = *new platform::text::FixedDateFormatter(kExportDateFormat);
  return format;
}

std::optional<std::string> KSJSONValueTransformer::NSStringFromNSNumber(const Value& number) {
  switch (number.kind()) {
    case Value::Kind::Bool: return std::string(*number.toBool() ? "1" : "0");
    case Value::Kind::Int: return fmt::format("{}", *number.toInt64());
    case Value::Kind::UInt: return fmt::format("{}", *number.toUInt64());
    case Value::Kind::Double: return fmt::format("{}", *number.toDouble());
    default: return std::nullopt;
  }
}

std::optional<Value> KSJSONValueTransformer::NSNumberFromNSString(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char* begin = text.data();
  const char* end = begin + text.size();
  // Integral text keeps every digit: a 10-digit identifier must come back exact.
  {
    std::int64_t n = 0;
    auto [ptr, ec] = std::from_chars(begin, end, n);
    if (ec == std::errc() && ptr == end) return Value(n);
    if (text.front() != '-') {
      std::uint64_t u = 0;
      auto [uptr, uec] = std::from_chars(text.front() == '+' ? begin + 1 : begin, end, u);
      if (uec == std::errc() && uptr == end) {
        if (u <= static_cast<std::uint64_t>(INT64_MAX)) return Value(static_cast<std::int64_t>(u));
        return Value(u);
      }
    }
  }
  // Anything else must be a plain decimal number: digits, sign, point and exponent only,
  // so "nan", "inf" and hexadecimal text are refused.
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') {
      return std::nullopt;
    }
  }
  double d = 0;
  const char* start = text.front() == '+' ? begin + 1 : begin;
  auto [ptr, ec] = std::from_chars(start, end, d);
  if (ec != std::errc() || ptr != end || !std::isfinite(d)) return std::nullopt;
  return Value(d);
}

bool KSJSONValueTransformer::BOOLFromNSNumber(const Value& number) {
  if (number.isNull() || number.isAbsent()) return false;
  if (auto b = number.toBool()) return *b;
  if (number.kind() == Value::Kind::Double) return std::fabs(*number.toDouble()) >= 1.0;  // its integer value
  if (auto d = number.toDouble()) return *d != 0;
  return false;
}

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}
}  // namespace

bool KSJSONValueTransformer::BOOLFromNSString(std::string_view text) {
  if (equalsIgnoringCase(text, "true") || equalsIgnoringCase(text, "yes")) return true;
  // The leading integer, after leading spaces, as a text's integer value is read.
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (text[i] != '0') return true;
  }
  return false;
}

std::optional<bool> KSJSONValueTransformer::strictBOOLFromNSString(std::string_view text) {
  if (equalsIgnoringCase(text, "true") || equalsIgnoringCase(text, "yes")) return true;
  if (equalsIgnoringCase(text, "false") || equalsIgnoringCase(text, "no")) return false;
  auto number = NSNumberFromNSString(text);
  if (!number || number->kind() == Value::Kind::Double) return std::nullopt;
  return BOOLFromNSNumber(*number);
}

Value KSJSONValueTransformer::JSONObjectFromBOOL(const Value& number) { return Value(BOOLFromNSNumber(number)); }

std::optional<platform::Date> KSJSONValueTransformer::NSDateFromNSString(std::string_view text) {
  std::string stripped;
  stripped.reserve(text.size());
  for (char c : text) {
    if (c != ':') stripped += c;
  }
  return importDateFormatter().parse(stripped);
}

std::optional<platform::Date> KSJSONValueTransformer::NSDateFromNSNumber(const Value& number) {
  if (number.kind() == Value::Kind::Bool) return platform::Date::fromUnixSeconds(*number.toBool() ? 1.0 : 0.0);
  auto seconds = number.toDouble();
  if (!seconds) return std::nullopt;
  return platform::Date::fromUnixSeconds(*seconds);
}

std::string KSJSONValueTransformer::JSONObjectFromNSDate(platform::Date date) {
  return exportDateFormatter().format(date);
}

std::optional<platform::Dict> KSJSONValueTransformer::NSDictionaryFromNSArray(const platform::Array& array) {
  if (array.empty()) return platform::Dict{};
  return std::nullopt;
}

}  // namespace velmora::kestrine
