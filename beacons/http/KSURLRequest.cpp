#include "beacons/http/KSURLRequest.h"

#include <algorithm>

#include "platform/core/AsciiText.h"

namespace velmora::kestrine {

std::optional<std::string> KSURLRequest::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : urlRequest.headers) {
    if (platform::equalsIgnoringAsciiCase(name, field)) return value;
  }
  return std::nullopt;
}

void KSURLRequest::setValue(std::optional<std::string> value, std::string_view field) {
  auto& headers = urlRequest.headers;
  auto it = std::find_if(headers.begin(), headers.end(),
                         [&](const auto& h) { return platform::equalsIgnoringAsciiCase(h.first, field); });
  if (!value) {
    headers.erase(std::remove_if(headers.begin(), headers.end(),
                                 [&](const auto& h) { return platform::equalsIgnoringAsciiCase(h.first, field); }),
                  headers.end());
  } else if (it != headers.end()) {
    it->second = std::move(*value);
  } else {
    headers.emplace_back(std::string(field), std::move(*value));
  }
}

}  // namespace velmora::kestrine
