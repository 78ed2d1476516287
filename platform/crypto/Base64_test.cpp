#include "platform/crypto/Base64.h"

#include <gtest/gtest.h>

#include "platform/crypto/RandomBytes.h"

namespace velmora::platform::crypto {
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
  // Leftover bits under the padding must be zero, so no two texts decode to the same bytes.
  for (std::string_view bad : {"QR==", "Zm9=", "QB=="}) EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
  EXPECT_EQ(base64Decode("QQ=="), std::vector<std::uint8_t>{'A'});
}

TEST(Base64Test, LineModeBreaksEvery64CharactersWithCrLf) {
  const struct {
    std::size_t bytes;
    std::string_view layout;  // lengths of the lines
  } cases[] = {{0, ""}, {48, "64"}, {49, "64+4"}, {96, "64+64"}, {97, "64+64+4"}};
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> data(c.bytes, 0xFB);
    const std::string text = base64Encode(data, Base64Lines::Length64);
    std::string layout;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = std::min(text.find("\r\n", start), text.size());
      if (!layout.empty()) layout += "+";
      layout += std::to_string(end - start);
      start = end == text.size() ? end : end + 2;
    }
    EXPECT_EQ(layout, c.layout) << c.bytes;
    EXPECT_EQ(base64Encode(data, Base64Lines::Single), base64Encode(data));
    // The strict decoder takes no line breaks: the caller joins the lines first.
    if (c.bytes > 48) {
      EXPECT_EQ(base64Decode(text), std::nullopt);
    }
  }
}

TEST(RandomBytesTest, GivesTheCountAskedForAndDiffersBetweenCalls) {
  EXPECT_TRUE(randomBytes(0).empty());
  const auto a = randomBytes(32);
  const auto b = randomBytes(32);
  EXPECT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);  // equal 256-bit draws would mean a broken source
}

TEST(RandomBytesTest, SourcesCanBeFixedForTests) {
  EXPECT_EQ(RandomSource::constant(0xA5)->bytes(3), (std::vector<std::uint8_t>{0xA5, 0xA5, 0xA5}));
  std::uint8_t next = 0;
  auto counting = RandomSource::fromFunction([&](std::span<std::uint8_t> out) {
    for (auto& b : out) b = next++;
  });
  EXPECT_EQ(counting->bytes(2), (std::vector<std::uint8_t>{0, 1}));
  EXPECT_EQ(counting->bytes(1), (std::vector<std::uint8_t>{2}));
  EXPECT_EQ(RandomSource::system()->bytes(16).size(), 16u);
}

}  // namespace
}  // namespace velmora::platform::crypto
