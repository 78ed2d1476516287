#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::crypto {

// Base64 of RFC 4648: the standard alphabet, "=" padding to a multiple of four characters,
// no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);
std::string base64Encode(std::string_view text);

// The bytes of a base64 text in that form, or nullopt for any other character, a length that
// is no multiple of four, or padding anywhere but at the end.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace platform::crypto
