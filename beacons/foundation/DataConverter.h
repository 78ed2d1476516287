#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Readers of raw advertisement bytes (the data converter category). The fixed-width readers
// read from the first byte and give no value when the data is shorter than what they read;
// they never read past the end.
namespace velmora::kestrine::data_converter {

using Bytes = std::span<const std::uint8_t>;

// "%02x" per byte, lowercase, no separators; reversed puts the last byte first.
std::string toHexStringReversed(Bytes data, bool reversed);
// The first 16 bytes as an upper-case 8-4-4-4-12 UUID text, byte 0 first.
std::optional<std::string> toUUIDString(Bytes data);
// The first byte, 0 to 255.
std::optional<std::uint8_t> toNumberWithInt8(Bytes data);
// The first byte as two's complement, -128 to 127.
std::optional<std::int8_t> toNumberWithTwosComplementOfInt8(Bytes data);
// The first two bytes, little-endian (first byte least significant), two's complement.
std::optional<std::int16_t> toNumberWithTwosComplementOfInt16(Bytes data);
// The first two bytes, big-endian (first byte most significant), unsigned.
std::optional<std::uint16_t> toNumberWithInt16(Bytes data);
// The first four bytes, big-endian, unsigned.
std::optional<std::uint32_t> toNumberWithInt32(Bytes data);
// "KS" and the upper-case hex of the bytes, a leading "0" dropped, "-" before a final letter:
// 01 1A gives "KS11-A", 12 34 gives "KS1234".
std::string toLegacyModelNumber(Bytes data);
// The lowercase hex digits joined by ".", a leading "0" dropped: 01 23 gives "1.2.3".
std::string toLegacyFirmwareVersion(Bytes data);

}  // namespace velmora::kestrine::data_converter
