#include "platform/core/Value.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

TEST(ValueTest, KindsAreKeptApart) {
  EXPECT_TRUE(Value().isAbsent());
  EXPECT_TRUE(Value(null).isNull());
  EXPECT_NE(Value(), Value(null));
  EXPECT_EQ(Value(true).kind(), Value::Kind::Bool);
  EXPECT_EQ(Value(1).kind(), Value::Kind::Int);
  EXPECT_EQ(Value(1u).kind(), Value::Kind::UInt);
  EXPECT_EQ(Value(1.0).kind(), Value::Kind::Double);
  EXPECT_EQ(Value("x").kind(), Value::Kind::String);  // not Bool
  EXPECT_NE(Value(true), Value(1));
  EXPECT_NE(Value(1), Value(1.0));
  EXPECT_NE(Value(1), Value(1u));
  EXPECT_FALSE(Value(true).toInt64());
  EXPECT_FALSE(Value(1).toBool());
  EXPECT_FALSE(Value("1").toInt64());
}

TEST(ValueTest, NumericWidening) {
  EXPECT_EQ(Value(std::uint64_t{5}).toInt64(), 5);
  EXPECT_FALSE(Value(UINT64_MAX).toInt64());
  EXPECT_EQ(Value(-1).toUInt64(), std::nullopt);
  EXPECT_EQ(Value(7).toUInt64(), 7u);
  EXPECT_EQ(Value(7).toDouble(), 7.0);
  EXPECT_FALSE(Value(7.5).toInt64());  // no silent truncation
}

TEST(ValueTest, DictionaryAndArrayAccess) {
  Value v = Value::makeDict({{"a", 1}, {"b", Value::makeArray({"x", null})}});
  EXPECT_EQ(v["a"], Value(1));
  EXPECT_TRUE(v["missing"].isAbsent());
  EXPECT_TRUE(v["b"][1].isNull());
  EXPECT_TRUE(v["b"][9].isAbsent());
  EXPECT_TRUE(v["a"]["deeper"].isAbsent());
  EXPECT_TRUE(v.set("c", "y"));
  EXPECT_EQ(v.size(), 3u);
  EXPECT_TRUE(v.set("c", Value()));  // absent removes
  EXPECT_EQ(v.size(), 2u);
  Value s = "text";
  EXPECT_FALSE(s.set("k", 1));
  Value fresh;
  EXPECT_TRUE(fresh.append(1));
  EXPECT_EQ(fresh.size(), 1u);
}

TEST(ValueTest, CopiesAreDeep) {
  Value a = Value::makeDict({{"list", Value::makeArray({1})}});
  Value b = a;
  b.dict()->at("list").append(2);
  EXPECT_EQ(a["list"].size(), 1u);
  EXPECT_EQ(b["list"].size(), 2u);
}

TEST(ValueTest, ObjectsCompareByIdentity) {
  auto o1 = std::make_shared<Object>();
  auto o2 = std::make_shared<Object>();
  EXPECT_EQ(Value(o1), Value(o1));
  EXPECT_NE(Value(o1), Value(o2));
}

}  // namespace
}  // namespace velmora::platform
