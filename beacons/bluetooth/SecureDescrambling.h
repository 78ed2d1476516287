#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The maker's secure frames send some bytes scrambled with a 16-bit linear-feedback shift
// register seeded from other bytes of the same frame (no key is involved). These undo it.
namespace velmora::kestrine {

// One step of the register: feedback polynomial x^16 + x^14 + x^13 + x^11 + 1, shifting
// towards bit 0. From any non-zero state it runs through all 65535 non-zero states; zero
// stays zero.
constexpr std::uint16_t turn_water_into_milk(std::uint16_t x) {
  const unsigned f = (x ^ (x >> 2) ^ (x >> 3) ^ (x >> 5)) & 1u;
  return static_cast<std::uint16_t>((x >> 1) | (f << 15));
}

namespace adData {

// Address and sequence number recovered from a Secure1 or Secure2 frame.
struct KSSecureData {
  std::array<char, 12> bluetoothAddress{};  // 12 upper-case hex digits
  std::uint16_t sequenceNumber = 0;
};

// Payload and address recovered from a BlockData2 frame.
struct KSSecureBlockData {
  std::array<std::uint8_t, 26> payload{};
  std::size_t payloadLength = 0;
  std::optional<std::array<char, 12>> bluetoothAddress;
};

// Seeds from the words at m and c+1, then unscrambles the address (bytes c+4..c+9) and the
// sequence number (c+10..c+11). Nothing when the data is shorter than max(m, c) + 12 bytes.
std::optional<KSSecureData> decypherSecureDataFromMfrData(std::span<const std::uint8_t> data,
                                                          std::size_t modelNumberLocation,
                                                          std::size_t cypheredBluetoothAddressLocation);

// Seeds from the words at m and k, then unscrambles the words from p up to byte 25; the
// payload is the first blockLength of them (at most as many as were unscrambled) and the
// address the unscrambled bytes 12-17. Nothing when the data is shorter than m + 26 bytes.
std::optional<KSSecureBlockData> decypherSecureDataAdFromMfrData(std::span<const std::uint8_t> data,
                                                                 std::size_t modelNumberLocation,
                                                                 std::size_t cypheredModelNumberLocation,
                                                                 std::size_t cypheredDataPayloadLocation,
                                                                 std::size_t blockLength);

}  // namespace adData
}  // namespace velmora::kestrine
