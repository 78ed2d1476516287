#include "beacons/foundation/StringAdditions.h"

#include <gtest/gtest.h>

namespace velmora::kestrine::string_additions {
namespace {

TEST(StringAdditionsTest, CaseInsensitiveTests) {
  EXPECT_TRUE(hasPrefixIgnoringCase("ABCdef", "abc"));
  EXPECT_TRUE(hasPrefixIgnoringCase("ABCdef", ""));
  EXPECT_FALSE(hasPrefixIgnoringCase("ab", "abc"));
  EXPECT_TRUE(hasPrefixIgnoringCase("ÄRGER", "är"));
  EXPECT_TRUE(isEqualIgnoringCase("Beacon", "BEACON"));
  EXPECT_FALSE(isEqualIgnoringCase("Beacon", "Beacon "));
}

TEST(StringAdditionsTest, UuidSyntax) {
  EXPECT_TRUE(isValidUUID("e2c56db5-dffb-48d2-b060-d0f5a71096e0"));
  EXPECT_TRUE(isValidUUID("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0"));
  EXPECT_FALSE(isValidUUID("e2c56db5dffb48d2b060d0f5a71096e0"));
  EXPECT_FALSE(isValidUUID("e2c56db5-dffb-48d2-b060-d0f5a71096e"));
  EXPECT_FALSE(isValidUUID("g2c56db5-dffb-48d2-b060-d0f5a71096e0"));
  EXPECT_FALSE(isValidUUID(""));
}

}  // namespace
}  // namespace velmora::kestrine::string_additions
