#include "platform/crypto/Crc16.h"

namespace velmora::platform::crypto {

namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned value = n;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ 0xA001u : value >> 1;
    table[n] = static_cast<std::uint16_t>(value);
  }
  return table;
}

constexpr std::array<std::uint16_t, 256> kTable = makeTable();

static_assert(kTable[1] == 0xC0C1 && kTable[128] == 0xA001 && kTable[255] == 0x4040);

}  // namespace

const std::array<std::uint16_t, 256>& crc16ArcTable() { return kTable; }

std::uint16_t crc16Arc(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
  for (std::uint8_t byte : bytes) crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFF]);
  return crc;
}

}  // namespace velmora::platform::crypto
