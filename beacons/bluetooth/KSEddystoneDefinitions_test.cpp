#include "beacons/bluetooth/KSEddystoneDefinitions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "beacons/bluetooth/AdData.h"

namespace velmora::kestrine {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(KSEddystoneDefinitions, FrameTypeByFirstByte) {
  const std::pair<Bytes, KSEddystoneFrameType> cases[] = {
      {{0x00, 0xEE}, KSEddystoneFrameTypeUID}, {{0x10, 0xEE}, KSEddystoneFrameTypeURL},
      {{0x20, 0x00}, KSEddystoneFrameTypeTLM}, {{0x30, 0xEE}, KSEddystoneFrameTypeEID},
      {{0x40, 0x00}, KSEddystoneFrameTypeUnparsed}, {{0x00}, KSEddystoneFrameTypeUnknown},
      {{}, KSEddystoneFrameTypeUnknown},       {{0x01, 0x00}, KSEddystoneFrameTypeUnknown},
      {{0x11, 0x00}, KSEddystoneFrameTypeUnknown}, {{0x50, 0x00}, KSEddystoneFrameTypeUnknown},
  };
  for (const auto& [frame, type] : cases) {
    const KSServiceDataEntry entries[] = {{"180F", Bytes{0x10, 0x00}}, {"feaa", frame}};
    EXPECT_EQ(KSEddystoneDefinitions::frameTypeForFrame(entries), type) << frame.size();
  }
  const KSServiceDataEntry noEddystone[] = {{"180F", Bytes{0x10, 0x00}}};
  EXPECT_EQ(KSEddystoneDefinitions::frameTypeForFrame(noEddystone), KSEddystoneFrameTypeUnknown);
}

TEST(KSEddystoneDefinitions, UIDIgnoresTheTrailingBytes) {
  Bytes a = {0x00, 0xEE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0x00, 0x00};
  Bytes b = a;
  b[18] = 0xAB;
  b[19] = 0xCD;
  EXPECT_EQ(adData::mutableAdDataDictionaryFromEddystoneUIDData(a), adData::mutableAdDataDictionaryFromEddystoneUIDData(b));
}

TEST(KSEddystoneDefinitions, EncodeEdgeCases) {
  struct Case {
    std::string url;
    std::optional<Bytes> bytes;
  };
  const Case cases[] = {
      {"https://www.example.org/x", Bytes{1, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 1, 'x'}},
      {"http://example.com", Bytes{2, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 7}},
      {"http://www.a.gov", Bytes{0, 'a', 13}},
      {"https://a.info/", Bytes{3, 'a', 4}},
      // ".com/" three times: its code takes the first, ".com" the second, the third stays text.
      {"http://a.com/b.com/c.com/", Bytes{2, 'a', 0, 'b', 7, '/', 'c', '.', 'c', 'o', 'm', '/'}},
      // Letter case of the scheme is significant.
      {"HTTP://example.com", std::nullopt},
      {"ftp://example.com", std::nullopt},
      {"mailto:someone@example.com", std::nullopt},
      {"", std::nullopt},
      // Bytes that would read back as expansions, or are not ASCII: nothing.
      {std::string("http://a\x01.com", 14), std::nullopt},
      {"http://caf\xC3\xA9.com", std::nullopt},
      {"http://a b.com", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(KSEddystoneDefinitions::dataForNSURL(c.url), c.bytes) << c.url;
}

TEST(KSEddystoneDefinitions, DecodeEdgeCases) {
  EXPECT_EQ(KSEddystoneDefinitions::decodeURL(2, {}), "http://");
  EXPECT_EQ(KSEddystoneDefinitions::decodeURL(4, Bytes{'a'}), "a");
  EXPECT_EQ(KSEddystoneDefinitions::decodeURL(0xFF, Bytes{0x00, 0x07}), ".com/.com");
  EXPECT_EQ(KSEddystoneDefinitions::decodeURL(3, Bytes{'a', 0x0E, 0x1F, 0x7F, 0x80, 0xFF, '%'}), "https://a%0E%1F%7F%80%FF%");
}

// Generated URLs over the four schemes and every expansion code, in random order and
// multiplicity, with path text between them: encoding then decoding gives each back.
TEST(KSEddystoneDefinitions, EncodeThenDecodeGivesTheURLBack) {
  std::mt19937 rng(20261210);
  const auto schemes = KSEddystoneDefinitions::URLSchemePrefixMap();
  const auto expansions = KSEddystoneDefinitions::URLDomainMap();
  ASSERT_EQ(schemes.size(), 4u);
  ASSERT_EQ(expansions.size(), 14u);
  const std::string_view alphabet = "abcxyz0189-_~./?=&%#:@!$'()*+,;";
  std::vector<bool> schemeUsed(4), codeUsed(14);
  for (int round = 0; round < 2000; ++round) {
    const std::size_t scheme = rng() % 4;
    std::string url(schemes[scheme]);
    url += "h";  // never a bare prefix that a longer scheme would claim
    const int parts = static_cast<int>(rng() % 6);
    for (int p = 0; p < parts; ++p) {
      const int textLength = static_cast<int>(rng() % 4);
      for (int i = 0; i < textLength; ++i) url += alphabet[rng() % alphabet.size()];
      url += expansions[rng() % expansions.size()];
    }
    const auto bytes = KSEddystoneDefinitions::dataForNSURL(url);
    ASSERT_TRUE(bytes) << url;
    for (std::size_t i = 1; i < bytes->size(); ++i) {
      if ((*bytes)[i] < 14) codeUsed[(*bytes)[i]] = true;
    }
    schemeUsed[(*bytes)[0]] = true;
    const std::span<const std::uint8_t> rest(bytes->data() + 1, bytes->size() - 1);
    ASSERT_EQ(KSEddystoneDefinitions::decodeURL((*bytes)[0], rest), url);
    // The whole frame too, through the parser.
    Bytes frame = {0x10, 0xEE};
    frame.insert(frame.end(), bytes->begin(), bytes->end());
    auto ad = adData::mutableAdDataDictionaryFromEddystoneURLData(frame);
    ASSERT_TRUE(ad);
    ASSERT_EQ(ad->text(KSAdDataField::EddystoneURLString), url);
  }
  for (bool used : schemeUsed) EXPECT_TRUE(used);
  for (bool used : codeUsed) EXPECT_TRUE(used);
}

TEST(KSEddystoneDefinitions, NamespaceFilter) {
  auto uid = adData::mutableAdDataDictionaryFromEddystoneUIDData(
      Bytes{0x00, 0xEE, 0xAA, 0xBB, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  ASSERT_TRUE(uid);
  EXPECT_TRUE(eddyStoneAdData::isEddyStoneUIDAdData(*uid));
  const std::vector<std::string> cached = {"ffffffffffffffffffff", "aabb030405060708090a"};
  EXPECT_TRUE(eddyStoneAdData::isInCachedBeaconRegionNameSpaceArray(*uid, cached));
  EXPECT_FALSE(eddyStoneAdData::isInCachedBeaconRegionNameSpaceArray(*uid, {}));
  const std::vector<std::string> others = {"aabb030405060708090b"};
  EXPECT_FALSE(eddyStoneAdData::isInCachedBeaconRegionNameSpaceArray(*uid, others));

  KSAdData url(KSAdDataKind::EddystoneURL);
  EXPECT_FALSE(eddyStoneAdData::isEddyStoneUIDAdData(url));
  EXPECT_FALSE(eddyStoneAdData::isInCachedBeaconRegionNameSpaceArray(url, cached));
}

}  // namespace
}  // namespace velmora::kestrine
