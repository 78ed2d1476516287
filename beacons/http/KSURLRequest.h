#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/net/URLRequest.h"

namespace velmora::kestrine {

class KSMultipartBodyStream;

// A request as the HTTP layer builds it: the URL session's request plus the request
// properties a serializer may set and, for multipart bodies, the stream the body is read
// from while it is sent. A property left empty keeps the session's default.
struct KSURLRequest {
  platform::net::URLRequest urlRequest;

  std::optional<bool> allowsCellularAccess;
  std::optional<std::uint64_t> cachePolicy;
  std::optional<bool> HTTPShouldHandleCookies;
  std::optional<bool> HTTPShouldUsePipelining;
  std::optional<std::uint64_t> networkServiceType;

  // Set instead of urlRequest.body when the body is streamed.
  std::shared_ptr<KSMultipartBodyStream> HTTPBodyStream;

  const std::string& url() const { return urlRequest.url; }
  const std::string& HTTPMethod() const { return urlRequest.method; }
  const std::string& HTTPBody() const { return urlRequest.body; }

  // Header fields compare without regard to case, as HTTP defines them.
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  // Replaces the field's value in place (or appends it); nullopt removes the field.
  void setValue(std::optional<std::string> value, std::string_view field);
};

}  // namespace velmora::kestrine
