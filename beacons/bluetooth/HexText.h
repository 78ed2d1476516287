#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Hex text of advertisement bytes into a caller's buffer, so the parsers build their texts
// on the stack.
namespace velmora::kestrine::hextext {

inline constexpr char kLower[] = "0123456789abcdef";
inline constexpr char kUpper[] = "0123456789ABCDEF";

// Writes two digits per byte, in byte order, to out (room for 2 * bytes.size()); returns the
// number of characters written.
inline std::size_t write(std::span<const std::uint8_t> bytes, char* out, bool upper) {
  const char* digits = upper ? kUpper : kLower;
  std::size_t n = 0;
  for (std::uint8_t b : bytes) {
    out[n++] = digits[b >> 4];
    out[n++] = digits[b & 0x0F];
  }
  return n;
}

// Writes 16 bytes as an upper-case UUID text, 8-4-4-4-12 with dashes (36 characters).
inline std::size_t writeUuid(std::span<const std::uint8_t, 16> bytes, char* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out[n++] = '-';
    out[n++] = kUpper[bytes[i] >> 4];
    out[n++] = kUpper[bytes[i] & 0x0F];
  }
  return n;
}

}  // namespace velmora::kestrine::hextext
