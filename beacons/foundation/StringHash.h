#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Digests of a text's UTF-8 bytes as lowercase hex (the string hashing category).
namespace velmora::kestrine::string_hash {

// The number of bytes of the text in UTF-8.
std::uint32_t UTF8Length(std::string_view text);

// Each byte as "%02x", in order; every byte of the buffer is set to 0 right after it has been
// read, so a digest does not stay in memory.
std::string toHexString(std::uint8_t* buffer, std::uint32_t length);

std::string MD5(std::string_view text);     // 32 hex digits
std::string SHA1(std::string_view text);    // 40 hex digits
std::string SHA256(std::string_view text);  // 64 hex digits

}  // namespace velmora::kestrine::string_hash
