#include "platform/crypto/Cmac.h"

#include <gtest/gtest.h>

#include "platform/crypto/Aes.h"
#include "testing/HexBytes.h"

namespace velmora::platform::crypto {
namespace {

using velmora::testing::hexBytes;
using Bytes = std::vector<std::uint8_t>;

TEST(CmacTest, MatchesRfc4493Examples) {
  const Bytes key = hexBytes("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes message = hexBytes(
      "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
  // Lengths 0 and 40 use the padded last block (subkey K2), 16 and 64 the whole one (K1).
  const std::pair<std::size_t, const char*> examples[] = {
      {0, "bb1d6929e95937287fa37d129b756746"},
      {16, "070a16b46b4d4144f79bdd9dd04a287c"},
      {40, "dfa66747de9ae63030ca32611497c827"},
      {64, "51f0bebf7e3b9d92fc49741779363cfe"},
  };
  for (const auto& [length, tag] : examples) {
    EXPECT_EQ(aesCmac(key, std::span(message).first(length)), hexBytes(tag)) << length << " bytes";
  }
}

TEST(CmacTest, WholeBlockTagIsTheXorChainFinishedWithSubkeyOne) {
  // For a whole-block message the tag is CBC-MAC with K1 folded into the last block. Build it
  // from the ECB primitive and compare, over a few multi-block messages.
  const Bytes key = hexBytes("000102030405060708090a0b0c0d0e0f");
  auto ecb = [&](Bytes block) { return *aes128EcbEncrypt(key, block); };
  Bytes k1 = ecb(Bytes(16, 0));
  const bool carry = k1[0] & 0x80;
  for (std::size_t i = 0; i < 16; ++i) k1[i] = static_cast<std::uint8_t>((k1[i] << 1) | (i < 15 ? k1[i + 1] >> 7 : 0));
  if (carry) k1[15] ^= 0x87;

  for (std::size_t blocks : {1u, 2u, 5u}) {
    Bytes message(16 * blocks);
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(i * 7 + blocks);
    Bytes chain(16, 0);
    for (std::size_t b = 0; b < blocks; ++b) {
      for (std::size_t i = 0; i < 16; ++i) chain[i] ^= message[16 * b + i];
      if (b + 1 == blocks) {
        for (std::size_t i = 0; i < 16; ++i) chain[i] ^= k1[i];
      }
      chain = ecb(chain);
    }
    EXPECT_EQ(aesCmac(key, message), chain) << blocks << " blocks";
  }
}

TEST(CmacTest, KeyOfTheWrongSizeGivesAnError) {
  for (std::size_t size : {0u, 15u, 17u, 32u}) {
    Error error;
    EXPECT_EQ(aesCmac(Bytes(size, 1), Bytes(16, 0), &error), std::nullopt) << size;
    EXPECT_EQ(error.domain, kCryptoErrorDomain);
    EXPECT_EQ(error.code, kCryptoKeySizeError);
    EXPECT_EQ(aesCmac(Bytes(size, 1), Bytes(16, 0)), std::nullopt) << size;
  }
}

}  // namespace
}  // namespace velmora::platform::crypto
