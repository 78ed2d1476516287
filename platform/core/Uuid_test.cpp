#include "platform/core/Uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace velmora::platform {
namespace {

TEST(UuidTest, TextIsCanonicalUpperCase) {
  auto u = Uuid::parse("e2c56db5-dffb-48d2-b060-d0f5a71096e0");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->string(), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  EXPECT_EQ(Uuid::canonical("E2C56DB5-dffb-48D2-B060-d0f5a71096E0"), "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  EXPECT_EQ(Uuid().string(), "00000000-0000-0000-0000-000000000000");
}

TEST(UuidTest, RejectsMalformedText) {
  const char* cases[] = {"", "E2C56DB5DFFB48D2B060D0F5A71096E0", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E",
                         "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0-", "G2C56DB5-DFFB-48D2-B060-D0F5A71096E0",
                         "E2C56DB5+DFFB-48D2-B060-D0F5A71096E0", "{E2C56DB5-DFFB-48D2-B060-D0F5A71096E}"};
  for (const char* c : cases) EXPECT_FALSE(Uuid::parse(c)) << c;
}

TEST(UuidTest, RandomIsVersion4AndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const Uuid u = Uuid::random();
    const std::string s = u.string();
    EXPECT_EQ(s[14], '4');
    EXPECT_TRUE(s[19] == '8' || s[19] == '9' || s[19] == 'A' || s[19] == 'B');
    EXPECT_EQ(Uuid::parse(s), u);
    seen.insert(s);
  }
  EXPECT_EQ(seen.size(), 1000u);
}

}  // namespace
}  // namespace velmora::platform
