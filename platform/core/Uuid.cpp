#include "platform/core/Uuid.h"

#include "platform/crypto/RandomBytes.h"

namespace velmora::platform {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Uuid Uuid::random() {
  Bytes b{};
  crypto::fillRandom(b);  // throws when the system random source fails
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return Uuid(b);
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Bytes b{};
  std::size_t out = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = hexValue(text[i]);
    const int lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    b[out++] = static_cast<std::uint8_t>(hi << 4 | lo);
    i += 2;
  }
  return Uuid(b);
}

std::optional<std::string> Uuid::canonical(std::string_view text) {
  if (auto u = parse(text)) return u->string();
  return std::nullopt;
}

std::string Uuid::string() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(36);
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[bytes_[i] >> 4]);
    s.push_back(kHex[bytes_[i] & 0x0F]);
  }
  return s;
}

bool Uuid::isNil() const {
  for (auto v : bytes_) {
    if (v != 0) return false;
  }
  return true;
}

}  // namespace velmora::platform
