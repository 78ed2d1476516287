#include "platform/crypto/Digest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "testing/TempDir.h"

namespace velmora::platform::crypto {
namespace {

const std::string kMillionA(1'000'000, 'a');

TEST(DigestTest, MatchesThePublishedVectors) {
  struct Case {
    DigestAlgorithm algorithm;
    const std::string& text;
    std::string_view hex;
  };
  const std::string empty;
  const std::string abc = "abc";
  const Case cases[] = {
      {DigestAlgorithm::MD5, empty, "d41d8cd98f00b204e9800998ecf8427e"},
      {DigestAlgorithm::MD5, abc, "900150983cd24fb0d6963f7d28e17f72"},
      {DigestAlgorithm::MD5, kMillionA, "7707d6ae4e027c70eea2a935c2296f21"},
      {DigestAlgorithm::SHA1, empty, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {DigestAlgorithm::SHA1, abc, "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {DigestAlgorithm::SHA1, kMillionA, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {DigestAlgorithm::SHA256, empty, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {DigestAlgorithm::SHA256, abc, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {DigestAlgorithm::SHA256, kMillionA, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {DigestAlgorithm::SHA512, abc,
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a"
       "9ac94fa54ca49f"},
  };
  for (const Case& c : cases) {
    const auto d = digest(c.algorithm, c.text);
    EXPECT_EQ(d.size(), digestLength(c.algorithm));
    EXPECT_EQ(lowercaseHex(d), c.hex) << "text of " << c.text.size() << " bytes";
  }
}

TEST(DigestTest, PiecesGiveTheOneShotDigestAndFinishStartsOver) {
  Digester digester(DigestAlgorithm::SHA256);
  for (std::size_t at = 0; at < kMillionA.size(); at += 777) {
    const auto piece = std::string_view(kMillionA).substr(at, 777);
    digester.update(std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
  }
  EXPECT_EQ(digester.finish(), digest(DigestAlgorithm::SHA256, kMillionA));
  EXPECT_EQ(digester.finish(), digest(DigestAlgorithm::SHA256, std::string_view()));
}

TEST(DigestTest, FileDigestEqualsTheDigestOfItsBytes) {
  velmora::testing::TempDir dir;
  // Sizes around the 4,096-byte chunk, and an empty file.
  for (std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 100'000u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 256);
    const auto path = dir.path() / (std::to_string(size) + ".bin");
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    for (auto algorithm : {DigestAlgorithm::MD5, DigestAlgorithm::SHA1, DigestAlgorithm::SHA512}) {
      EXPECT_EQ(digestOfFile(algorithm, path), digest(algorithm, bytes)) << size << " bytes";
    }
  }
}

TEST(DigestTest, MissingFileOrDirectoryGivesNoDigest) {
  velmora::testing::TempDir dir;
  EXPECT_EQ(digestOfFile(DigestAlgorithm::MD5, dir.path() / "absent"), std::nullopt);
  EXPECT_EQ(digestOfFile(DigestAlgorithm::MD5, dir.path()), std::nullopt);
  EXPECT_EQ(digestOfFile(DigestAlgorithm::MD5, ""), std::nullopt);
}

}  // namespace
}  // namespace velmora::platform::crypto
