#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSEventFiltering;

// Turns a filter definition into a filter, or none when it does not know the definition.
class KSEventFilterResolving {
 public:
  virtual ~KSEventFilterResolving() = default;
  virtual std::shared_ptr<KSEventFiltering> resolveFilterFromDefinition(const platform::Value& definition) = 0;
};

// Reads definitions of the form {"filterIdentifier": text, "options": {...}}. Known
// identifiers, under the prefix "com.kestrine.":
// - "filterByCategoryNames" with "categories", an array of texts;
// - "filterByAccuracyRange" with "accuracyFrom" and "accuracyTo", each a number or numeric
//   text.
// A definition arrives from outside, so anything of the wrong kind (a definition or
// options that is no dictionary, a category that is no text, a bound that is no number or
// not finite) resolves to none rather than to a filter over made-up values.
class KSEventFilterResolver : public KSEventFilterResolving {
 public:
  static constexpr std::string_view kPrefix = "com.kestrine.";

  std::shared_ptr<KSEventFiltering> resolveFilterFromDefinition(const platform::Value& definition) override;

  // The "filterIdentifier" and "options" of a definition; Absent when missing or not a
  // dictionary.
  static platform::Value filterIdentifier(const platform::Value& definition);
  static platform::Value params(const platform::Value& definition);
  // The named parameter of the definition's options; Absent when there is none.
  static platform::Value paramFromFilterDefinition(const platform::Value& definition, std::string_view name);
  // A parameter given as text, read as a number of seconds; none when missing, not text, not
  // numeric, not finite or negative.
  static std::optional<double> timeIntervalParamFromFilterDefinition(const platform::Value& definition,
                                                                     std::string_view name);
  // The number a text starts with, read in the POSIX way (leading blanks, a sign, digits,
  // a point, an exponent); none when the text does not start with a number.
  static std::optional<double> leadingDecimal(std::string_view text);
};

}  // namespace velmora::kestrine
