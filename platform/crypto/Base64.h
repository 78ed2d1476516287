#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform::crypto {

// Base64 of RFC 4648: the standard alphabet, "=" padding to a multiple of four characters,
// no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);
std::string base64Encode(std::string_view text);

// Line layout of an encoding: one line, or lines of 64 characters joined by CR LF (no break
// after the last line, so up to 48 bytes stay on one line).
enum class Base64Lines { Single, Length64 };
std::string base64Encode(std::span<const std::uint8_t> bytes, Base64Lines lines);

// The bytes of a base64 text in that form, or nullopt for any other character (line breaks
// included), a length that is no multiple of four, padding anywhere but at the end, or unused
// bits before the padding that are not zero (so each byte string has exactly one text).
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace velmora::platform::crypto
