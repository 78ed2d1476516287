#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velmora::platform::crypto {

// CRC-16/ARC: the reflected polynomial 0xA001 (0x8005 unreflected), initial value 0, no
// final XOR. crc16Arc("123456789") is 0xBB3D. Pass the result of one call as `crc` to the
// next to go on over bytes that come in pieces.
std::uint16_t crc16Arc(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

// The 256-entry table of the byte-at-a-time step: crc = (crc >> 8) ^ table[(crc ^ byte) & 0xFF].
const std::array<std::uint16_t, 256>& crc16ArcTable();

}  // namespace velmora::platform::crypto
