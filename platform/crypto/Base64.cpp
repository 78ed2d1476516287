#include "platform/crypto/Base64.h"

#include <openssl/evp.h>

namespace velmora::platform::crypto {

std::string base64Encode(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  // EVP_EncodeBlock writes 4 characters per 3 bytes and a terminating NUL.
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::string base64Encode(std::string_view text) {
  return base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Lines lines) {
  std::string single = base64Encode(bytes);
  if (lines == Base64Lines::Single || single.size() <= 64) return single;
  std::string out;
  out.reserve(single.size() + single.size() / 64 * 2);
  for (std::size_t i = 0; i < single.size(); i += 64) {
    if (i > 0) out += "\r\n";
    out.append(single, i, 64);
  }
  return out;
}

namespace {
int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                          c == '/';
    if (c == '=') {
      // Only the last one or two characters may be padding.
      if (i + 2 < text.size()) return std::nullopt;
      ++padding;
    } else if (!alphabet || padding > 0) {
      return std::nullopt;
    }
  }
  if (text.empty()) return std::vector<std::uint8_t>{};
  // The bits the padding leaves over must be zero: "QR==" is not another text for "QQ==".
  if (padding > 0) {
    const int last = sextet(text[text.size() - padding - 1]);
    if ((padding == 2 && (last & 0x0F) != 0) || (padding == 1 && (last & 0x03) != 0)) return std::nullopt;
  }
  std::vector<std::uint8_t> out(text.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as zero bytes.
  out.resize(static_cast<std::size_t>(n) - padding);
  return out;
}

}  // namespace velmora::platform::crypto
