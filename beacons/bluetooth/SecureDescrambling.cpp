#include "beacons/bluetooth/SecureDescrambling.h"

#include <algorithm>

#include "beacons/bluetooth/HexText.h"

namespace velmora::kestrine::adData {
namespace {

std::uint16_t word(std::uint8_t high, std::uint8_t low) { return static_cast<std::uint16_t>(high << 8 | low); }

}  // namespace

std::optional<KSSecureData> decypherSecureDataFromMfrData(std::span<const std::uint8_t> d, std::size_t m,
                                                          std::size_t c) {
  if (d.size() < std::max(m, c) + 12) return std::nullopt;
  const std::uint16_t seed = word(d[c + 1] ^ d[m], d[c + 2] ^ d[m + 1]);
  const std::uint16_t s1 = turn_water_into_milk(seed);
  const std::uint16_t s2 = turn_water_into_milk(s1);
  const std::uint16_t s3 = turn_water_into_milk(s2);
  const std::uint16_t s4 = turn_water_into_milk(s3);
  const std::uint16_t w1 = word(d[c + 4], d[c + 5]) ^ s1;
  const std::uint16_t w2 = word(d[c + 6], d[c + 7]) ^ s2;
  const std::uint16_t w3 = word(d[c + 8], d[c + 9]) ^ s3;
  const std::array<std::uint8_t, 6> address = {
      static_cast<std::uint8_t>(w1 >> 8), static_cast<std::uint8_t>(w1), static_cast<std::uint8_t>(w2 >> 8),
      static_cast<std::uint8_t>(w2),      static_cast<std::uint8_t>(w3 >> 8), static_cast<std::uint8_t>(w3)};
  KSSecureData out;
  hextext::write(address, out.bluetoothAddress.data(), true);
  out.sequenceNumber = static_cast<std::uint16_t>(word(d[c + 10], d[c + 11]) ^ s4);
  return out;
}

std::optional<KSSecureBlockData> decypherSecureDataAdFromMfrData(std::span<const std::uint8_t> d, std::size_t m,
                                                                 std::size_t k, std::size_t p,
                                                                 std::size_t blockLength) {
  // The seed word at k must lie inside the data too, wherever a caller puts it.
  if (d.size() < m + 26 || d.size() < k + 2) return std::nullopt;
  KSSecureBlockData out;
  std::uint16_t s = turn_water_into_milk(word(d[k] ^ d[m], d[k + 1] ^ d[m + 1]));
  std::size_t n = 0;
  for (std::size_t i = p; i + 1 <= 25; i += 2) {
    const std::uint16_t w = word(d[i], d[i + 1]) ^ s;
    out.payload[n++] = static_cast<std::uint8_t>(w >> 8);
    out.payload[n++] = static_cast<std::uint8_t>(w);
    s = turn_water_into_milk(s);
  }
  if (n >= 18) {
    std::array<char, 12> address{};
    hextext::write(std::span<const std::uint8_t>(out.payload.data() + 12, 6), address.data(), true);
    out.bluetoothAddress = address;
  }
  out.payloadLength = std::min(blockLength, n);
  return out;
}

}  // namespace velmora::kestrine::adData
