#include "beacons/foundation/KSJSONValueTransformer.h"

#include <gtest/gtest.h>

#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using T = KSJSONValueTransformer;

TEST(KSJSONValueTransformer, BooleanText) {
  for (const char* yes : {"TRUE", "Yes", "1", "12"}) EXPECT_TRUE(T::BOOLFromNSString(yes)) << yes;
  for (const char* no : {"no", "false", "abc", "0", ""}) EXPECT_FALSE(T::BOOLFromNSString(no)) << no;
  EXPECT_EQ(T::strictBOOLFromNSString("No"), false);
  EXPECT_EQ(T::strictBOOLFromNSString("abc"), std::nullopt);
  EXPECT_EQ(T::strictBOOLFromNSString("1.5"), std::nullopt);
  EXPECT_EQ(T::JSONObjectFromBOOL(Value(2)), Value(true));
  EXPECT_FALSE(T::BOOLFromNSNumber(Value(platform::null)));
  EXPECT_FALSE(T::BOOLFromNSNumber(Value(0.5)));
}

TEST(KSJSONValueTransformer, NumberTextKeepsPrecision) {
  struct Case {
    const char* text;
    std::optional<Value> number;
  };
  for (const Case& c : {Case{"1234567890", Value(1234567890)}, Case{"-12", Value(-12)}, Case{"+3", Value(3)},
                        Case{"18446744073709551615", Value(UINT64_MAX)}, Case{"2.5", Value(2.5)}, Case{"1e3", Value(1000.0)},
                        Case{"nan", std::nullopt}, Case{"inf", std::nullopt}, Case{" 1", std::nullopt}, Case{"", std::nullopt},
                        Case{"0x10", std::nullopt}, Case{"1e999", std::nullopt}}) {
    EXPECT_EQ(T::NSNumberFromNSString(c.text), c.number) << c.text;
  }
  EXPECT_EQ(T::NSStringFromNSNumber(Value(true)), "1");
  EXPECT_EQ(T::NSStringFromNSNumber(Value(2.0)), "2");
  EXPECT_EQ(T::NSStringFromNSNumber(Value(0.1)), "0.1");
  EXPECT_EQ(T::NSStringFromNSNumber(Value("x")), std::nullopt);
}

TEST(KSJSONValueTransformer, DatesAndDictionaries) {
  velmora::testing::ScopedTimeZone zone("Asia/Kolkata");
  EXPECT_EQ(T::NSDateFromNSString("2014-05-06T10:20:30+01:00"), platform::Date::fromUnixSeconds(1399368030));
  EXPECT_EQ(T::NSDateFromNSString("2014-05-06T10:20:30"), std::nullopt);  // the zone is part of the format
  EXPECT_EQ(T::NSDateFromNSNumber(Value(0)), platform::Date::fromUnixSeconds(0));
  EXPECT_EQ(T::JSONObjectFromNSDate(platform::Date::fromUnixSeconds(0)), "1970-01-01T05:30:00+0530");
  EXPECT_EQ(T::NSDictionaryFromNSArray({}), platform::Dict{});
  EXPECT_EQ(T::NSDictionaryFromNSArray({Value(1)}), std::nullopt);
}

}  // namespace
}  // namespace velmora::kestrine
