#include "beacons/foundation/DataConverter.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/core/Uuid.h"
#include "platform/crypto/Digest.h"

namespace velmora::kestrine::data_converter {

std::string toHexStringReversed(Bytes data, bool reversed) {
  std::string hex = platform::crypto::lowercaseHex(data);
  if (!reversed) return hex;
  std::string out;
  out.reserve(hex.size());
  for (std::size_t i = hex.size(); i >= 2; i -= 2) out.append(hex, i - 2, 2);
  return out;
}

std::optional<std::string> toUUIDString(Bytes data) {
  if (data.size() < 16) return std::nullopt;
  platform::Uuid::Bytes bytes{};
  std::copy_n(data.begin(), 16, bytes.begin());
  return platform::Uuid(bytes).string();
}

std::optional<std::uint8_t> toNumberWithInt8(Bytes data) {
  if (data.empty()) return std::nullopt;
  return data[0];
}

std::optional<std::int8_t> toNumberWithTwosComplementOfInt8(Bytes data) {
  if (data.empty()) return std::nullopt;
  return static_cast<std::int8_t>(data[0]);
}

std::optional<std::int16_t> toNumberWithTwosComplementOfInt16(Bytes data) {
  if (data.size() < 2) return std::nullopt;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(data[0] | (data[1] << 8)));
}

std::optional<std::uint16_t> toNumberWithInt16(Bytes data) {
  if (data.size() < 2) return std::nullopt;
  return static_cast<std::uint16_t>((data[0] << 8) | data[1]);
}

std::optional<std::uint32_t> toNumberWithInt32(Bytes data) {
  if (data.size() < 4) return std::nullopt;
  return (std::uint32_t{data[0]} << 24) | (std::uint32_t{data[1]} << 16) | (std::uint32_t{data[2]} << 8) |
         std::uint32_t{data[3]};
}

std::string toLegacyModelNumber(Bytes data) {
  std::string hex = platform::crypto::lowercaseHex(data);
  std::transform(hex.begin(), hex.end(), hex.begin(), [](unsigned char c) { return std::toupper(c); });
  const bool endsInLetter = hex.size() >= 2 && hex.back() >= 'A' && hex.back() <= 'F';
  std::string out;
  out.reserve(hex.size() + 3);
  out.append("KS");
  out.append(hex, hex.size() >= 2 && hex[0] == '0' ? 1 : 0);
  if (endsInLetter) {
    const char last = out.back();
    out.back() = '-';
    out.push_back(last);
  }
  return out;
}

std::string toLegacyFirmwareVersion(Bytes data) {
  std::string hex = platform::crypto::lowercaseHex(data);
  if (hex.size() >= 2 && hex[0] == '0') hex.erase(0, 1);
  std::string out;
  for (std::size_t i = 0; i < hex.size(); ++i) {
    out.push_back(hex[i]);
    if (i + 1 < hex.size()) out.push_back('.');
  }
  return out;
}

}  // namespace velmora::kestrine::data_converter
