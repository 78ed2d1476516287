#include "beacons/foundation/DecimalAdditions.h"

#include <gtest/gtest.h>

namespace velmora::kestrine::decimal_additions {
namespace {

TEST(DecimalAdditions, FormatsAmountsInTheLocalesCurrencyStyle) {
  struct Case {
    double amount;
    const char* locale;
    const char* expected;
  };
  // The separators and symbols each locale's currency format uses ("\u00a0" is a no-break space).
  const Case cases[] = {
      {1234.5, "en_US", "$1,234.50"},
      {0, "en_US", "$0.00"},
      {-3.25, "en_US", "-$3.25"},
      {1234.5, "de_DE", "1.234,50\u00a0\u20ac"},
      {1234.75, "ja_JP", "\uffe51,235"},  // no fraction digits in yen
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formatAsCurrency(c.amount, std::string(c.locale)), c.expected) << c.locale << " " << c.amount;
  }
}

}  // namespace
}  // namespace velmora::kestrine::decimal_additions
