#pragma once

#include <cstddef>
#include <string_view>

namespace velmora::platform {

// Length of the UTF-8 sequence starting at text[i] (i < text.size()), or 0 when it is not
// well formed: overlong forms, surrogates and code points past U+10FFFF are refused.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

// Whether all of the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

}  // namespace velmora::platform
