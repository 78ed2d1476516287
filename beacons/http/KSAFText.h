#pragma once

#include <string_view>

namespace kestrine {

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or code points
// above U+10FFFF).
bool KSAFIsValidUTF8(std::string_view bytes);

}  // namespace kestrine
