#pragma once

#include <string_view>

// Case-insensitive tests and the UUID-syntax test of texts (the string additions and
// prefix-ignoring-case categories).
namespace velmora::kestrine::string_additions {

// Equal under Unicode case folding.
bool isEqualIgnoringCase(std::string_view text, std::string_view other);

// Both texts lower-cased, then an ordinary prefix test.
bool hasPrefixIgnoringCase(std::string_view text, std::string_view prefix);

// 8-4-4-4-12 hex digits with hyphens, either case.
bool isValidUUID(std::string_view text);

}  // namespace velmora::kestrine::string_additions
