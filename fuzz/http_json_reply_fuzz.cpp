// Runs the JSON response serializer over arbitrary replies: it must not crash, and an
// object it returns must be JSON that writes back out.
#include <cstdlib>

#include "HttpReplyInput.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "platform/core/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto serializer = [] {
    auto s = velmora::kestrine::KSJSONResponseSerializer::serializer();
    return s;
  }();
  static const auto cleaning = [] {
    auto s = velmora::kestrine::KSJSONResponseSerializer::serializer();
    s->removesKeysWithNullValues = true;
    return s;
  }();
  const auto input = fuzzing::httpReplyFrom(data, size);
  for (const auto& s : {serializer, cleaning}) {
    std::optional<velmora::platform::Error> error;
    const velmora::platform::Value object = s->responseObjectForResponse(&input.response, input.body, &error);
    if (!object.isAbsent() && !velmora::platform::json::write(object)) std::abort();
    (void)velmora::kestrine::KSErrorOrUnderlyingErrorHasCodeInDomain(error);
  }
  return 0;
}
