#include <gtest/gtest.h>

#include "platform/text/CaseText.h"
#include "platform/text/DecimalText.h"

namespace velmora::platform::text {
namespace {

TEST(CaseTextTest, ComparesAndLowersByUnicodeRules) {
  EXPECT_TRUE(equalsIgnoringCase("Beacon", "BEACON"));
  EXPECT_TRUE(equalsIgnoringCase("Straße", "STRASSE"));
  EXPECT_TRUE(equalsIgnoringCase("", ""));
  EXPECT_FALSE(equalsIgnoringCase("Beacon", "Beacons"));
  EXPECT_EQ(lowercased("ABCdef ÄÖÜ"), "abcdef äöü");
}

TEST(DecimalTextTest, WritesAPointAndAtMostTheFractionDigitsAskedFor) {
  const std::tuple<double, int, std::string_view> cases[] = {
      {151.2093, 6, "151.2093"},   {151.20931234, 6, "151.209312"}, {-33.8688197, 6, "-33.86882"},
      {3.0, 6, "3"},               {0.0, 6, "0"},                   {-0.0000001, 6, "0"},
      {1234567.5, 0, "1234568"},   {2.5, 0, "2"},                   {0.125, 2, "0.12"},
      {1e21, 2, "1000000000000000000000"},
  };
  for (const auto& [value, digits, text] : cases) EXPECT_EQ(decimalText(value, digits), text) << value;
}

}  // namespace
}  // namespace velmora::platform::text
