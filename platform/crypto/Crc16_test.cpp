#include "platform/crypto/Crc16.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace velmora::platform::crypto {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Crc16Test, GivesTheCheckValuesOfCrc16Arc) {
  const std::pair<std::vector<std::uint8_t>, std::uint16_t> cases[] = {
      {{}, 0x0000},
      {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xBB3D},
      {{0x00, 0x00, 0x00, 0x00}, 0x0000},  // an ACK's header
      {{0x00, 0x01, 0x00, 0x00}, 0xC051},  // a NACK's header
      {{0x00, 0x03, 0x00, 0x00}, 0x00F0},  // an error packet's header: F0 00 on the wire
      {{0x01}, 0xC0C1},
      {{0xFF}, 0x4040},
  };
  for (const auto& [bytes, crc] : cases) EXPECT_EQ(crc16Arc(bytes), crc) << bytes.size() << " bytes";
  EXPECT_EQ(crc16Arc(bytesOf("123456789")), 0xBB3D);
}

TEST(Crc16Test, TableMatchesTheBitwiseDefinitionAndPiecesGiveTheWhole) {
  const auto& table = crc16ArcTable();
  for (unsigned n = 0; n < 256; ++n) {
    // Bit by bit over the single byte n, reflected: shift right, fold 0xA001 in on a one bit.
    std::uint16_t crc = static_cast<std::uint16_t>(n);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    ASSERT_EQ(table[n], crc) << n;
  }
  const auto whole = bytesOf("The quick brown fox jumps over the lazy dog");
  for (std::size_t cut = 0; cut <= whole.size(); cut += 5) {
    EXPECT_EQ(crc16Arc(whole.subspan(cut), crc16Arc(whole.first(cut))), crc16Arc(whole)) << cut;
  }
}

}  // namespace
}  // namespace velmora::platform::crypto
