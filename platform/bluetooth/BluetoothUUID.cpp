#include "platform/bluetooth/BluetoothUUID.h"

#include <algorithm>
#include <array>

namespace velmora::platform::bluetooth {
namespace {

// 00000000-0000-1000-8000-00805F9B34FB: short UUIDs stand in its first four bytes.
constexpr std::array<std::uint8_t, 12> kBaseTail = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                                    0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<std::uint8_t>> hexBytes(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = hexDigit(text[i]);
    const int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return out;
}

}  // namespace

std::optional<BluetoothUUID> BluetoothUUID::fromBytes(const std::uint8_t* data, std::size_t size) {
  if (size == 2) return BluetoothUUID(std::vector<std::uint8_t>(data, data + 2));
  // A 32-bit UUID whose top half is zero is the 16-bit one.
  if (size == 4) {
    if (data[0] == 0 && data[1] == 0) return BluetoothUUID(std::vector<std::uint8_t>(data + 2, data + 4));
    return BluetoothUUID(std::vector<std::uint8_t>(data, data + 4));
  }
  if (size != 16) return std::nullopt;
  if (std::equal(kBaseTail.begin(), kBaseTail.end(), data + 4)) {
    if (data[0] == 0 && data[1] == 0) return BluetoothUUID(std::vector<std::uint8_t>(data + 2, data + 4));
    return BluetoothUUID(std::vector<std::uint8_t>(data, data + 4));
  }
  return BluetoothUUID(std::vector<std::uint8_t>(data, data + 16));
}

std::optional<BluetoothUUID> BluetoothUUID::parse(std::string_view text) {
  if (text.size() == 4 || text.size() == 8) {
    auto bytes = hexBytes(text);
    if (!bytes) return std::nullopt;
    return fromBytes(*bytes);
  }
  auto full = Uuid::parse(text);
  if (!full) return std::nullopt;
  return fromUuid(*full);
}

BluetoothUUID BluetoothUUID::from16(std::uint16_t value) {
  return BluetoothUUID({static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)});
}

BluetoothUUID BluetoothUUID::fromUuid(const Uuid& uuid) { return *fromBytes(uuid.bytes().data(), 16); }

Uuid BluetoothUUID::uuid() const {
  Uuid::Bytes out{};
  if (bytes_.size() == 16) {
    std::copy(bytes_.begin(), bytes_.end(), out.begin());
  } else if (!bytes_.empty()) {
    std::copy(bytes_.begin(), bytes_.end(), out.begin() + static_cast<std::ptrdiff_t>(4 - bytes_.size()));
    std::copy(kBaseTail.begin(), kBaseTail.end(), out.begin() + 4);
  }
  return Uuid(out);
}

std::string BluetoothUUID::string() const {
  if (bytes_.size() == 16) return uuid().string();
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes_) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0xF]);
  }
  return out;
}

}  // namespace velmora::platform::bluetooth
