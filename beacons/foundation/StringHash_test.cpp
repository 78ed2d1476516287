#include "beacons/foundation/StringHash.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>

#include "beacons/foundation/KSBase64Utilities.h"
#include "beacons/foundation/KSFileHash.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

TEST(StringHashTest, DigestsAsLowercaseHex) {
  EXPECT_EQ(string_hash::MD5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(string_hash::SHA1("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(string_hash::SHA256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // UTF-8 bytes are the input: "é" is two bytes.
  EXPECT_EQ(string_hash::UTF8Length("é"), 2u);
  EXPECT_EQ(string_hash::MD5("é"), string_hash::MD5("\xc3\xa9"));
}

TEST(StringHashTest, HexOfABufferClearsTheBuffer) {
  std::array<std::uint8_t, 4> buffer = {0x00, 0x0f, 0xa0, 0xff};
  EXPECT_EQ(string_hash::toHexString(buffer.data(), 4), "000fa0ff");
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{}));
}

TEST(StringHashTest, Base64OfTextsAndOfNothing) {
  EXPECT_EQ(KSBase64Utilities::base64EncodedString("abc"), "YWJj");
  EXPECT_EQ(KSBase64Utilities::base64EncodedString("ab"), "YWI=");
  EXPECT_EQ(KSBase64Utilities::base64EncodedString("a"), "YQ==");
  EXPECT_EQ(KSBase64Utilities::base64EncodedString(""), "");
  EXPECT_EQ(KSBase64Utilities::base64EncodedString(std::nullopt), "");
  EXPECT_EQ(KSBase64Utilities::base64EncodedString("user:sécret"), "dXNlcjpzw6ljcmV0");
}

TEST(StringHashTest, FileHashesMatchTheTextDigestsAndRefuseWhatIsNoFile) {
  velmora::testing::TempDir dir;
  const auto path = (dir.path() / "abc").string();
  std::ofstream(path) << "abc";
  EXPECT_EQ(KSFileHash::md5HashOfFileAtPath(path), string_hash::MD5("abc"));
  EXPECT_EQ(KSFileHash::sha1HashOfFileAtPath(path), string_hash::SHA1("abc"));
  EXPECT_EQ(KSFileHash::sha512HashOfFileAtPath(path)->size(), 128u);
  EXPECT_EQ(KSFileHash::md5HashOfFileAtPath((dir.path() / "absent").string()), std::nullopt);
  EXPECT_EQ(KSFileHash::sha1HashOfFileAtPath(dir.path().string()), std::nullopt);
  EXPECT_EQ(KSFileHash::sha512HashOfFileAtPath(""), std::nullopt);
}

}  // namespace
}  // namespace velmora::kestrine
