#include "platform/crypto/Base64.h"

#include <gtest/gtest.h>

#include "platform/crypto/RandomBytes.h"

namespace platform::crypto {
namespace {

TEST(Base64Test, EncodesTheRfcVectors) {
  // RFC 4648 section 10.
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [text, encoded] : cases) {
    EXPECT_EQ(base64Encode(text), encoded) << text;
    const auto decoded = base64Decode(encoded);
    ASSERT_TRUE(decoded) << encoded;
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), text);
  }
  // No line breaks however long.
  EXPECT_EQ(base64Encode(std::string(300, 'x')).find('\n'), std::string::npos);
}

TEST(Base64Test, RoundTripsRandomBytesOfEveryShortLength) {
  for (std::size_t n = 0; n < 70; ++n) {
    const auto bytes = randomBytes(n);
    const auto text = base64Encode(bytes);
    EXPECT_EQ(text.size(), 4 * ((n + 2) / 3));
    EXPECT_EQ(base64Decode(text), bytes) << n;
  }
}

TEST(Base64Test, DecodingRefusesWhatIsNotPaddedBase64) {
  for (std::string_view bad : {"Zg", "Zg=", "Z===", "Zg==Zg==", "Zm9v\n", "Zm 9", "Zm9-", "=Zm9", "Zm=v"}) {
    EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
  }
}

TEST(RandomBytesTest, GivesTheCountAskedForAndDiffersBetweenCalls) {
  EXPECT_TRUE(randomBytes(0).empty());
  const auto a = randomBytes(32);
  const auto b = randomBytes(32);
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);  // equal 256-bit draws would mean a broken source
}

}  // namespace
}  // namespace platform::crypto
