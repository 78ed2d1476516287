#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/core/Date.h"
#include "platform/core/Value.h"
#include "platform/text/FixedDateFormat.h"
#include "platform/text/FixedDateFormatter.h"

namespace velmora::kestrine {

// The family a JSON value belongs to, as the model layer chooses conversions and custom
// import setters by it. A boolean is a number here, as JSON servers mean it.
enum class KSJSONFamily { String, Number, Array, Dictionary, Null, Other };

// The table of value conversions of the JSON model layer. Every operation is a pure
// function; the two date formats are shared by the whole process and safe on any thread.
class KSJSONValueTransformer {
 public:
  KSJSONValueTransformer() = delete;

  // Import format, matched after every ":" is removed from the text, and export format
  // (zone offset without a colon, in the device's time zone).
  static constexpr std::string_view kImportDateFormat = "yyyy-MM-dd'T'HHmmssZZZZ";
  static constexpr std::string_view kExportDateFormat = "yyyy-MM-dd'T'HH:mm:ssZZZ";

  static KSJSONFamily familyOf(const platform::Value& value);
  // "NSString", "NSNumber", "NSArray", "NSDictionary", "NSNull", else the value's kind name:
  // the names the model layer's messages use.
  static std::string familyName(const platform::Value& value);

  static const platform::text::FixedDateFormat& importDateFormatter();
  static const platform::text::FixedDateFormatter& exportDateFormatter();

  // A number's text: integers in decimal, doubles in the shortest form that reads back the
  // same, booleans as "1" and "0". nullopt for anything but a number.
  static std::optional<std::string> NSStringFromNSNumber(const platform::Value& number);
  // Reads a text as a number keeping its precision: an integral text is an integer (Int, or
  // UInt above the signed range), any other numeric text a double. nullopt for text that
  // is not wholly a decimal number (no spaces, no "nan" or "inf").
  static std::optional<platform::Value> NSNumberFromNSString(std::string_view text);
  // false for null, else whether the number is non-zero.
  static bool BOOLFromNSNumber(const platform::Value& number);
  // true for "true" and "yes" in any case; else whether the text's leading integer is
  // non-zero ("abc" is 0).
  static bool BOOLFromNSString(std::string_view text);
  // The strict reading used for boolean properties: "true"/"yes"/"false"/"no" in any case,
  // or an integer text; nullopt for any other text.
  static std::optional<bool> strictBOOLFromNSString(std::string_view text);
  static platform::Value JSONObjectFromBOOL(const platform::Value& number);

  // Every ":" removed, then read with the import format; nullopt when it does not parse.
  static std::optional<platform::Date> NSDateFromNSString(std::string_view text);
  // That many seconds after 1970-01-01T00:00:00Z; nullopt for anything but a number.
  static std::optional<platform::Date> NSDateFromNSNumber(const platform::Value& number);
  // The date in the export format, in the device's time zone.
  static std::string JSONObjectFromNSDate(platform::Date date);

  // An empty array becomes an empty dictionary. Any other array has no dictionary form:
  // nullopt (the model layer reports a type mismatch rather than putting an array into a
  // dictionary property).
  static std::optional<platform::Dict> NSDictionaryFromNSArray(const platform::Array& array);
};

}  // namespace velmora::kestrine
