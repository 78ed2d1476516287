#pragma once

#include <string_view>

namespace velmora::platform {

// Case-insensitive equality over ASCII letters only, as protocol tokens (header names, URL
// schemes) compare; other bytes must match exactly, whatever the locale.
constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace velmora::platform
