#include "beacons/foundation/KSJSONKeyMapper.h"

#include <gtest/gtest.h>

namespace velmora::kestrine {
namespace {

TEST(KSJSONKeyMapper, DictionaryMapsListedNamesOnly) {
  auto mapper = KSJSONKeyMapper::initWithDictionary({{"id", "siteID"}});
  EXPECT_EQ(mapper->convertValue("siteID", true), "id");
  EXPECT_EQ(mapper->convertValue("name", true), "name");
  EXPECT_EQ(mapper->convertValue("id", false), "siteID");
  auto empty = KSJSONKeyMapper::initWithDictionary(std::map<std::string, std::string>{});
  EXPECT_EQ(empty->convertValue("siteID", true), "siteID");
  // Two JSON keys for one property: the same one every time.
  auto twice = KSJSONKeyMapper::initWithDictionary({{"b", "x"}, {"a", "x"}});
  EXPECT_EQ(twice->convertValue("x", true), "a");
}

TEST(KSJSONKeyMapper, UnderscoreAndUpperCaseMappers) {
  auto camel = KSJSONKeyMapper::mapperFromUnderscoreCaseToCamelCase();
  struct Case {
    const char* json;
    const char* model;
  };
  for (const Case& c : {Case{"address_line_1", "addressLine1"}, Case{"site_id", "siteId"}, Case{"name", "name"}}) {
    EXPECT_EQ(camel->convertValue(c.json, false), c.model);
    EXPECT_EQ(camel->convertValue(c.model, true), c.json);
  }
  EXPECT_EQ(camel->convertValue("USER_NAME", false), "userName");
  auto upper = KSJSONKeyMapper::mapperFromUpperCaseToLowerCase();
  EXPECT_EQ(upper->convertValue("NAME", false), "name");
  EXPECT_EQ(upper->convertValue("name", true), "NAME");
}

TEST(KSJSONKeyMapper, FunctionFormRemembersEachAnswer) {
  int calls = 0;
  auto mapper = KSJSONKeyMapper::initWithJSONToModelBlock(
      [&](std::string_view k) {
        ++calls;
        return "m_" + std::string(k);
      },
      nullptr);
  EXPECT_EQ(mapper->convertValue("a", false), "m_a");
  EXPECT_EQ(mapper->convertValue("a", false), "m_a");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(mapper->convertValue("a", true), "a");  // no function for that direction
}

}  // namespace
}  // namespace velmora::kestrine
