#include "beacons/microlocation/KSEventFilterResolver.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "beacons/microlocation/KSEventFilter.h"

namespace velmora::kestrine {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A bound of the accuracy range: a finite number, or text that starts with one.
std::optional<double> finiteNumber(const platform::Value& value) {
  std::optional<double> number;
  if (value.isNumber()) {
    number = value.toDouble();
  } else if (const auto* text = value.string()) {
    number = KSEventFilterResolver::leadingDecimal(*text);
  }
  if (!number || !std::isfinite(*number)) return std::nullopt;
  return number;
}

// The power of ten of the first significant digit of a decimal number text (sign, digits,
// an optional point and fraction, an optional exponent), saturated far beyond any double.
// Only called for text that has a nonzero digit: all-zero text never leaves double's range.
long long decimalOrder(std::string_view number) {
  constexpr long long kSaturated = 1'000'000'000'000LL;
  std::size_t i = 0;
  if (i < number.size() && (number[i] == '+' || number[i] == '-')) ++i;
  long long order = 0;
  bool found = false;
  long long integerDigits = 0;
  for (; i < number.size() && isDigit(number[i]); ++i) {
    if (found || number[i] != '0') {
      found = true;
      ++integerDigits;
    }
  }
  if (found) {
    order = integerDigits - 1;
  } else if (i < number.size() && number[i] == '.') {
    for (++i; i < number.size() && isDigit(number[i]); ++i) {
      --order;
      if (number[i] != '0') break;
    }
  }
  while (i < number.size() && number[i] != 'e' && number[i] != 'E') ++i;
  if (i < number.size()) {
    ++i;
    bool negativeExponent = false;
    if (i < number.size() && (number[i] == '+' || number[i] == '-')) negativeExponent = number[i++] == '-';
    long long exponent = 0;
    for (; i < number.size() && isDigit(number[i]); ++i) exponent = std::min(kSaturated, exponent * 10 + (number[i] - '0'));
    order += negativeExponent ? -exponent : exponent;
  }
  return order;
}

}  // namespace

std::optional<double> KSEventFilterResolver::leadingDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\f' || text[i] == '\v')) {
    ++i;
  }
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t digitsStart = i;
  while (i < text.size() && isDigit(text[i])) ++i;
  std::size_t digits = i - digitsStart;
  if (i < text.size() && text[i] == '.') {
    ++i;
    const std::size_t fractionStart = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    digits += i - fractionStart;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && isDigit(text[j])) {
      while (j < text.size() && isDigit(text[j])) ++j;
      i = j;
    }
  }
  // from_chars takes no leading '+'.
  std::size_t from = start;
  if (text[from] == '+') ++from;
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data() + from, text.data() + i, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Beyond double: a magnitude below one (its first significant digit after the point,
    // exponent included) underflowed and reads as zero; any other overflowed to an infinity.
    const std::string_view number = text.substr(start, i - start);
    const bool negative = number.front() == '-';
    return decimalOrder(number) < 0 ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
  }
  if (ec != std::errc() || end != text.data() + i) return std::nullopt;
  return value;
}

platform::Value KSEventFilterResolver::filterIdentifier(const platform::Value& definition) {
  if (!definition.dict()) return {};
  return definition["filterIdentifier"];
}

platform::Value KSEventFilterResolver::params(const platform::Value& definition) {
  if (!definition.dict()) return {};
  const auto& options = definition["options"];
  if (!options.dict()) return {};
  return options;
}

platform::Value KSEventFilterResolver::paramFromFilterDefinition(const platform::Value& definition,
                                                                 std::string_view name) {
  auto options = params(definition);
  if (!options.dict()) return {};
  return options[name];
}

std::optional<double> KSEventFilterResolver::timeIntervalParamFromFilterDefinition(const platform::Value& definition,
                                                                                   std::string_view name) {
  auto param = paramFromFilterDefinition(definition, name);
  const auto* text = param.string();
  if (!text) return std::nullopt;
  // An interval is a finite count of seconds, never negative.
  auto seconds = leadingDecimal(*text);
  if (!seconds || !std::isfinite(*seconds) || *seconds < 0.0) return std::nullopt;
  return seconds;
}

std::shared_ptr<KSEventFiltering> KSEventFilterResolver::resolveFilterFromDefinition(
    const platform::Value& definition) {
  auto identifierValue = filterIdentifier(definition);
  const auto* identifier = identifierValue.string();
  if (!identifier || !identifier->starts_with(kPrefix)) return nullptr;
  const std::string_view name = std::string_view(*identifier).substr(kPrefix.size());

  if (name == "filterByCategoryNames") {
    auto categories = paramFromFilterDefinition(definition, "categories");
    const auto* list = categories.array();
    if (!list) return nullptr;
    std::vector<std::string> names;
    names.reserve(list->size());
    for (const auto& item : *list) {
      const auto* text = item.string();
      if (!text) return nullptr;
      names.push_back(*text);
    }
    return KSEventFilter::filterByCategoriesNamed(std::move(names));
  }
  if (name == "filterByAccuracyRange") {
    auto from = finiteNumber(paramFromFilterDefinition(definition, "accuracyFrom"));
    auto to = finiteNumber(paramFromFilterDefinition(definition, "accuracyTo"));
    if (!from || !to) return nullptr;
    return KSEventFilter::filterByAccuracyRange(*from, *to);
  }
  return nullptr;
}

}  // namespace velmora::kestrine
