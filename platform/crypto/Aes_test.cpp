#include "platform/crypto/Aes.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/crypto/Digest.h"
#include "testing/HexBytes.h"

namespace velmora::platform::crypto {
namespace {

using velmora::testing::hexBytes;
using Bytes = std::vector<std::uint8_t>;

// SP 800-38A, F.1 and F.2: the same key and four plaintext blocks in ECB and CBC.
const Bytes kKey = hexBytes("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kIV = hexBytes("000102030405060708090a0b0c0d0e0f");
const Bytes kPlain = hexBytes(
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
const Bytes kEcb = hexBytes(
    "3ad77bb40d7a3660a89ecaf32466ef97 f5d3d58503b9699de785895a96fdbaaf"
    "43b1cd7f598ece23881b00e3ed030688 7b0c785e27e8ad3f8223207104725dd4");
const Bytes kCbc = hexBytes(
    "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7");

TEST(AesTest, MatchesThePublishedVectors) {
  // FIPS-197, appendix C.1: one block.
  EXPECT_EQ(aes128EcbEncrypt(hexBytes("000102030405060708090a0b0c0d0e0f"),
                             hexBytes("00112233445566778899aabbccddeeff")),
            hexBytes("69c4e0d86a7b0430d8cdb78070b4c55a"));
  EXPECT_EQ(aes128EcbDecrypt(hexBytes("000102030405060708090a0b0c0d0e0f"),
                             hexBytes("69c4e0d86a7b0430d8cdb78070b4c55a")),
            hexBytes("00112233445566778899aabbccddeeff"));

  EXPECT_EQ(aes128EcbEncrypt(kKey, kPlain), kEcb);
  EXPECT_EQ(aes128EcbDecrypt(kKey, kEcb), kPlain);
  EXPECT_EQ(aes128CbcEncrypt(kKey, kIV, kPlain), kCbc);
  EXPECT_EQ(aes128CbcDecrypt(kKey, kIV, kCbc), kPlain);

  // CMAC's subkey L is the ECB encryption of the zero block (RFC 4493, section 4).
  EXPECT_EQ(aes128EcbEncrypt(kKey, Bytes(16, 0)), hexBytes("7df76b0c1ab899b33e42f047b91b546f"));

  // The login's passcode key: MD5 of the passcode text, used as an AES key.
  const auto passcodeKey = digest(DigestAlgorithm::MD5, std::string_view("123456"));
  const auto encrypted = aes128EcbEncrypt(passcodeKey, Bytes(16, 0xA5));
  ASSERT_TRUE(encrypted);
  EXPECT_EQ(aes128EcbDecrypt(passcodeKey, *encrypted), Bytes(16, 0xA5));
}

TEST(AesTest, CbcChainsAcrossCallsThroughTheLastCipherBlock) {
  // Two calls, the second starting from the first's last cipher block, give one long CBC.
  const auto first = aes128CbcEncrypt(kKey, kIV, std::span(kPlain).first(32));
  ASSERT_TRUE(first);
  const auto second = aes128CbcEncrypt(kKey, std::span(*first).last(16), std::span(kPlain).subspan(32));
  ASSERT_TRUE(second);
  Bytes joined = *first;
  joined.insert(joined.end(), second->begin(), second->end());
  EXPECT_EQ(joined, kCbc);
}

TEST(AesTest, Pkcs7PaddingAddsOneToSixteenBytesAndComesOffAgain) {
  // Whole blocks get a full block of 0x10 bytes: the unpadded cipher text, then one more block.
  const auto padded = aes128CbcEncrypt(kKey, kIV, kPlain, AesPadding::PKCS7);
  ASSERT_TRUE(padded);
  ASSERT_EQ(padded->size(), 80u);
  EXPECT_EQ(Bytes(padded->begin(), padded->begin() + 64), kCbc);
  EXPECT_EQ(aes128CbcDecrypt(kKey, std::span(kCbc).last(16), std::span(*padded).last(16)), Bytes(16, 0x10));

  for (std::size_t n = 0; n <= 33; ++n) {
    const Bytes data(kPlain.begin(), kPlain.begin() + static_cast<std::ptrdiff_t>(n));
    const auto cbc = aes128CbcEncrypt(kKey, kIV, data, AesPadding::PKCS7);
    const auto ecb = aes128EcbEncrypt(kKey, data, AesPadding::PKCS7);
    ASSERT_TRUE(cbc && ecb) << n;
    EXPECT_EQ(cbc->size(), (n / 16 + 1) * 16) << n;
    EXPECT_EQ(aes128CbcDecrypt(kKey, kIV, *cbc, AesPadding::PKCS7), data) << n;
    EXPECT_EQ(aes128EcbDecrypt(kKey, *ecb, AesPadding::PKCS7), data) << n;
    // Unpadded decryption shows the padding bytes themselves.
    const auto raw = aes128CbcDecrypt(kKey, kIV, *cbc);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->back(), 16 - n % 16) << n;
  }
}

TEST(AesTest, EmptyUnpaddedDataGivesEmptyOutput) {
  EXPECT_EQ(aes128EcbEncrypt(kKey, {}), Bytes{});
  EXPECT_EQ(aes128CbcDecrypt(kKey, kIV, {}), Bytes{});
}

TEST(AesTest, BadInputGivesAClearErrorAndNoOutput) {
  // Blocks whose last byte is no valid padding length once decrypted: 0x00 and 0x11, and a
  // block ending 02 whose byte before is not 02.
  Bytes zeroPad(16, 0x00);
  Bytes tooLong(16, 0x11);
  Bytes mixed(16, 0x07);
  mixed[15] = 0x02;
  const Bytes badPads[] = {zeroPad, tooLong, mixed};

  struct Case {
    const char* what;
    std::function<std::optional<Bytes>(Error*)> call;
    CryptoStatus status;
  };
  std::vector<Case> cases = {
      {"empty key", [](Error* e) { return aes128EcbEncrypt({}, kPlain, AesPadding::None, e); }, kCryptoKeySizeError},
      {"15-byte key", [](Error* e) { return aes128EcbDecrypt(std::span(kKey).first(15), kEcb, AesPadding::None, e); },
       kCryptoKeySizeError},
      {"32-byte key",
       [](Error* e) { return aes128CbcEncrypt(Bytes(32, 1), kIV, kPlain, AesPadding::None, e); }, kCryptoKeySizeError},
      {"empty IV", [](Error* e) { return aes128CbcEncrypt(kKey, {}, kPlain, AesPadding::None, e); },
       kCryptoIVSizeError},
      {"17-byte IV", [](Error* e) { return aes128CbcDecrypt(kKey, Bytes(17, 0), kCbc, AesPadding::None, e); },
       kCryptoIVSizeError},
      {"unpadded part block",
       [](Error* e) { return aes128CbcEncrypt(kKey, kIV, std::span(kPlain).first(17), AesPadding::None, e); },
       kCryptoAlignmentError},
      {"padded decryption of a part block",
       [](Error* e) { return aes128EcbDecrypt(kKey, std::span(kEcb).first(15), AesPadding::PKCS7, e); },
       kCryptoAlignmentError},
      {"padded decryption of nothing", [](Error* e) { return aes128CbcDecrypt(kKey, kIV, {}, AesPadding::PKCS7, e); },
       kCryptoDecodeError},
  };
  for (const Bytes& block : badPads) {
    cases.push_back({"bad padding",
                     [&block](Error* e) {
                       const auto cipher = aes128CbcEncrypt(kKey, kIV, block);
                       return aes128CbcDecrypt(kKey, kIV, *cipher, AesPadding::PKCS7, e);
                     },
                     kCryptoDecodeError});
  }
  for (const Case& c : cases) {
    Error error;
    EXPECT_EQ(c.call(&error), std::nullopt) << c.what;
    EXPECT_EQ(error.domain, kCryptoErrorDomain) << c.what;
    EXPECT_EQ(error.code, c.status) << c.what;
    EXPECT_FALSE(error.localizedDescription.empty()) << c.what;
    EXPECT_EQ(c.call(nullptr), std::nullopt) << c.what << " without an error pointer";
  }
  Error error;
  aes128CbcEncrypt(kKey, Bytes(15, 0), kPlain, AesPadding::None, &error);
  EXPECT_EQ(error.localizedDescription, "AES-128-CBC encrypt: the IV is 15 bytes, not 16");
}

}  // namespace
}  // namespace velmora::platform::crypto
