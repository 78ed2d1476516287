#include "beacons/foundation/KSOptionValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace velmora::kestrine::option {
namespace {

using platform::Value;

TEST(KSOptionValue, BoolValue) {
  struct Case {
    Value value;
    std::optional<bool> expected;
  } cases[] = {
      {"YES", true},   {"yes", true},  {" 1", true},      {"t", true},       {"+0001", true}, {"-7", true},
      {"\t\n y", true}, {"NO", false}, {"0x1", false},    {"0", false},      {"", false},     {"   ", false},
      {"000", false},  {"f", false},   {"+-1", false},    {true, true},      {false, false},  {0, false},
      {2, true},       {0.0, false},   {0.25, true},      {Value(platform::null), std::nullopt},
      {Value::makeArray({1}), std::nullopt}, {Value::makeDict({}), std::nullopt}, {platform::Bytes{1}, std::nullopt},
      {platform::Date::fromUnixSeconds(5), std::nullopt}, {Value(), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(boolValue(c.value), c.expected) << (c.value.string() ? *c.value.string() : Value::kindName(c.value.kind()));
  }
}

TEST(KSOptionValue, FloatValueReadsALeadingDecimalAsAFloat) {
  struct Case {
    Value value;
    std::optional<float> expected;
  } cases[] = {
      {"12.7", 12.7f},  {"  -3.5e2xyz", -350.0f}, {"+.5", 0.5f},  {"7.", 7.0f},     {"1e", 1.0f},
      {"abc", 0.0f},    {"", 0.0f},               {"0x10", 0.0f}, {"inf", 0.0f},    {"1e-60", 0.0f},
      {100, 100.0f},    {0.1, 0.1f},              {true, 1.0f},   {Value::makeArray({}), std::nullopt},
      {Value(platform::null), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(floatValue(c.value), c.expected) << (c.value.string() ? *c.value.string() : Value::kindName(c.value.kind()));
  }
  EXPECT_EQ(floatValue("1e60"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(floatValue("-1e60"), -std::numeric_limits<float>::infinity());
}

TEST(KSOptionValue, IntegerValueReadsALeadingIntegerSaturating) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  struct Case {
    Value value;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {"12.7", 12},
      {" -5 apples", -5},
      {"+42", 42},
      {"abc", 0},
      {"", 0},
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMax},
      {"-9223372036854775808", kMin},
      {"-99999999999999999999", kMin},
      {1441, 1441},
      {std::uint64_t{18446744073709551615u}, kMax},
      {-2.9, -2},
      {1e30, kMax},
      {std::nan(""), 0},
      {false, 0},
      {Value::makeDict({}), std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(integerValue(c.value), c.expected) << (c.value.string() ? *c.value.string() : Value::kindName(c.value.kind()));
  }
}

}  // namespace
}  // namespace velmora::kestrine::option
