// Runs the XML response serializer and its parser over arbitrary replies.
#include <functional>

#include "HttpReplyInput.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "beacons/http/KSXMLParser.h"

namespace {
std::size_t count(const velmora::kestrine::KSXMLElement& e) {
  std::size_t n = 1;
  for (const auto& c : e.children) n += count(c);
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto serializer = velmora::kestrine::KSXMLParserResponseSerializer::serializer();
  const auto input = fuzzing::httpReplyFrom(data, size);
  std::optional<velmora::platform::Error> error;
  const velmora::platform::Value object = serializer->responseObjectForResponse(&input.response, input.body, &error);
  if (const auto* holder = object.object()) {
    if (auto* parser = dynamic_cast<velmora::kestrine::KSXMLParser*>(holder->get())) {
      velmora::platform::Error parseError;
      if (auto root = parser->parse(&parseError)) (void)count(*root);
    }
  }
  return 0;
}
