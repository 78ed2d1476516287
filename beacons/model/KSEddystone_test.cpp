#include "beacons/model/KSEddystone.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

std::string written(const Value& v) { return platform::json::write(v).value_or("<unwritable>"); }

TEST(KSEddystone, UIDStringSplitsOnlyAtExactly32Characters) {
  const std::string uid = "EDD1EBEAC04E5DEFA017" "0BDB87539B67";
  EXPECT_EQ(KSEddystone::namespaceIDAndInstanceIDFromUIDString(uid),
            (std::vector<std::string>{"EDD1EBEAC04E5DEFA017", "0BDB87539B67"}));
  for (const std::string& other : {std::string(), uid.substr(1), uid + "0"}) {
    EXPECT_TRUE(KSEddystone::namespaceIDAndInstanceIDFromUIDString(other).empty()) << other;
  }
}

TEST(KSEddystone, ExportsItsFourStringsUnderTheirJSONKeys) {
  const char* text = R"({"namespaceID":"EDD1EBEAC04E5DEFA017","instanceID":"0BDB87539B67",
      "uid":"EDD1EBEAC04E5DEFA0170BDB87539B67","url":"https://example.org/x"})";
  auto eddystone = KSEddystone::initWithString(text);
  ASSERT_NE(eddystone, nullptr);
  EXPECT_EQ(eddystone->UIDString(), "EDD1EBEAC04E5DEFA0170BDB87539B67");
  EXPECT_EQ(eddystone->URL(), "https://example.org/x");
  EXPECT_EQ(written(Value(eddystone->toDictionary())), written(*platform::json::parse(text)));

  auto copy = eddystone->copy();
  ASSERT_NE(copy, eddystone);
  EXPECT_EQ(written(Value(copy->toDictionary())), written(Value(eddystone->toDictionary())));
}

TEST(KSEddystone, URLNeedsAUsableText) {
  KSEddystone eddystone;
  EXPECT_EQ(eddystone.URL(), std::nullopt);
  for (const char* bad : {"", "http://a b", "http://\x01"}) {
    eddystone.setURLString(bad);
    EXPECT_EQ(eddystone.URL(), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace velmora::kestrine
