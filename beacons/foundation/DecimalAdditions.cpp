#include "beacons/foundation/DecimalAdditions.h"

#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace velmora::kestrine::decimal_additions {

std::string formatAsCurrency(double amount, const std::optional<std::string>& locale) {
  const icu::Locale where = locale ? icu::Locale(locale->c_str()) : icu::Locale::getDefault();
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::NumberFormat> format(icu::NumberFormat::createCurrencyInstance(where, status));
  if (U_FAILURE(status) || !format) return {};
  icu::UnicodeString text;
  format->format(amount, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace velmora::kestrine::decimal_additions
