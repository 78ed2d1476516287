// Runs the XML response serializer and its parser over arbitrary replies.
#include <functional>

#include "HttpReplyInput.h"
#include "beacons/http/KSAFHTTPResponseSerializer.h"
#include "beacons/http/KSAFXMLParser.h"

namespace {
std::size_t count(const kestrine::KSAFXMLElement& e) {
  std::size_t n = 1;
  for (const auto& c : e.children) n += count(c);
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto serializer = kestrine::KSAFXMLParserResponseSerializer::serializer();
  const auto input = fuzzing::httpReplyFrom(data, size);
  std::optional<platform::Error> error;
  const platform::Value object = serializer->responseObjectForResponse(&input.response, input.body, &error);
  if (const auto* holder = object.object()) {
    if (auto* parser = dynamic_cast<kestrine::KSAFXMLParser*>(holder->get())) {
      platform::Error parseError;
      if (auto root = parser->parse(&parseError)) (void)count(*root);
    }
  }
  return 0;
}
