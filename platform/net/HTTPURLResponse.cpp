#include "platform/net/HTTPURLResponse.h"

#include "platform/core/AsciiText.h"

namespace velmora::platform::net {

std::optional<std::string> HTTPURLResponse::headerValue(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (equalsIgnoringAsciiCase(key, name)) return value;
  }
  return std::nullopt;
}

}  // namespace velmora::platform::net
