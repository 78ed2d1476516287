#include "parking/service/DateDecoding.h"

#include <fmt/format.h>

namespace velmora {

using platform::text::FixedDateFormat;

namespace {

// The three reply formats. Each is made once per process, the first time a rule that uses
// it is asked for, and shared by every reply after that (FixedDateFormat takes concurrent
// parses in turn).
const FixedDateFormat& secondsFormat() {
  static const FixedDateFormat format("yyyy-MM-dd'T'HH:mm:ss");
  return format;
}

const FixedDateFormat& millisecondsFormat() {
  static const FixedDateFormat format("yyyy-MM-dd'T'HH:mm:ss.SSS");
  return format;
}

const FixedDateFormat& millisecondsOffsetFormat() {
  static const FixedDateFormat format("yyyy-MM-dd'T'HH:mm:ss.SSSZ");
  return format;
}

std::string_view foundName(const platform::Value& v) {
  using Kind = platform::Value::Kind;
  switch (v.kind()) {
    case Kind::Null: return "a null value";
    case Kind::Bool: return "a bool";
    case Kind::Int:
    case Kind::UInt:
    case Kind::Double: return "a number";
    case Kind::Array: return "an array";
    case Kind::Dict: return "a dictionary";
    default: return "an unsupported value";
  }
}

}  // namespace

std::optional<platform::Date> decodeDateString(const platform::Value& value, const std::string& codingPath,
                                               std::initializer_list<const FixedDateFormat*> formats,
                                               platform::Error* error) {
  const std::string* text = value.string();
  if (!text) {
    if (error) {
      *error = platform::coding::readError(
          platform::coding::kReadCorrupt,
          fmt::format("Expected to decode String but found {} instead.", foundName(value)), codingPath);
    }
    return std::nullopt;
  }
  // No text of these layouts comes near this length (the longest, with milliseconds and an
  // offset, has 28 characters). Longer text is refused unread: the date parser underneath
  // divides by zero on a fraction of 32 digits or more, which would end the process on one
  // hostile reply.
  constexpr std::size_t kLongestDateText = 40;
  if (text->size() <= kLongestDateText) {
    for (const FixedDateFormat* format : formats) {
      if (auto date = format->parse(*text)) return date;
    }
  }
  if (error) {
    *error = platform::coding::readError(platform::coding::kReadCorrupt,
                                         fmt::format("Cannot decode date string {}", *text), codingPath);
  }
  return std::nullopt;
}

const DateRule& statusDateRule() {
  static const DateRule& rule = *new DateRule([] {
    const FixedDateFormat* first = &secondsFormat();
    const FixedDateFormat* second = &millisecondsFormat();
    const FixedDateFormat* third = &millisecondsOffsetFormat();
    return DateRule([=](const platform::Value& value, const std::string& codingPath, platform::Error* error) {
      return decodeDateString(value, codingPath, {first, second, third}, error);
    });
  }());
  return rule;
}

const DateRule& laneExitDateRule() {
  static const DateRule& rule = *new DateRule([] {
    const FixedDateFormat* first = &secondsFormat();
    const FixedDateFormat* second = &millisecondsFormat();
    return DateRule([=](const platform::Value& value, const std::string& codingPath, platform::Error* error) {
      return decodeDateString(value, codingPath, {first, second}, error);
    });
  }());
  return rule;
}

}  // namespace velmora
