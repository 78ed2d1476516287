#pragma once

#include <string>
#include <string_view>

namespace velmora::platform::text {

// Case-insensitive comparison of UTF-8 texts by full Unicode case folding ("Straße" equals
// "STRASSE"), independent of the locale. Malformed UTF-8 is compared as the replacement
// character.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The text in lower case by the root locale's rules.
std::string lowercased(std::string_view text);

}  // namespace velmora::platform::text
