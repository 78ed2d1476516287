#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::kestrine {

// One flattened parameter of a query string or form body: a (possibly bracketed) key and
// its value. An absent or null value is a key without value.
struct KSQueryStringPair {
  platform::Value field;
  platform::Value value;

  // The escaped field, "=" and the escaped value; the escaped field alone when the value
  // is absent or null.
  std::string URLEncodedStringValue() const;
};

// Percent-escapes text for a query component: ASCII letters, digits and "-._~/?" stay,
// every other byte of the UTF-8 text becomes "%XX" (upper-case hex).
std::string KSPercentEscapedStringFromString(std::string_view string);

// The text a value stands for in a query or form: text as is, integers in decimal, a
// double in its shortest form with "." whatever the locale, a flag as "1" or "0", a date
// as "2024-05-01 12:30:00 +0000", bytes as "<0102abcd 0e>".
std::string KSQueryStringDescription(const platform::Value& value);

// Flattens parameters into pairs. Dictionary keys are walked in ascending byte order
// (keys of nested dictionaries become "outer[inner]"), array elements in order under
// "key[]"; absent dictionary values are skipped. Dictionaries and arrays nested deeper
// than kMaxDepth are cut there: they add no pairs.
std::vector<KSQueryStringPair> KSQueryStringPairsFromDictionary(const platform::Value& dictionary);
std::vector<KSQueryStringPair> KSQueryStringPairsFromKeyAndValue(const std::optional<std::string>& key,
                                                                     const platform::Value& value);

// The default query encoding: the pairs' texts joined with "&".
std::string KSQueryStringFromParameters(const platform::Value& parameters);

inline constexpr std::size_t kKSQueryStringMaxDepth = 512;

}  // namespace velmora::kestrine
