#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::testing {

// Bytes written as hex text in a test: pairs of digits, either case, with blanks allowed
// between them ("00 02 03 00", "69c4e0d8 6a7b0430"). Anything else is a mistake in the test
// and throws.
inline std::vector<std::uint8_t> hexBytes(std::string_view text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (c == ' ') {
      if (high >= 0) throw std::invalid_argument("hexBytes: a blank inside a byte");
      continue;
    }
    const int d = digit(c);
    if (d < 0) throw std::invalid_argument("hexBytes: not a hex digit");
    if (high < 0) {
      high = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + d));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("hexBytes: an odd number of digits");
  return out;
}

// The bytes as upper-case hex pairs separated by blanks, for readable failure messages.
inline std::string hexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace velmora::testing
