#include "platform/net/HTTPURLResponse.h"

#include <algorithm>

namespace platform::net {

std::optional<std::string> HTTPURLResponse::headerValue(std::string_view name) const {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() &&
        std::equal(key.begin(), key.end(), name.begin(), [&](char a, char b) { return lower(a) == lower(b); })) {
      return value;
    }
  }
  return std::nullopt;
}

}  // namespace platform::net
