// Runs the compound serializer (JSON, then XML, then property list, then the plain bytes)
// over arbitrary replies; the base serializer must always hand the body back.
#include <cstdlib>

#include "HttpReplyInput.h"
#include "beacons/http/KSHTTPResponseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto compound = velmora::kestrine::KSCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
      {velmora::kestrine::KSJSONResponseSerializer::serializer(), velmora::kestrine::KSXMLParserResponseSerializer::serializer(),
       velmora::kestrine::KSPropertyListResponseSerializer::serializer()});
  static const auto base = velmora::kestrine::KSHTTPResponseSerializer::serializer();
  const auto input = fuzzing::httpReplyFrom(data, size);
  std::optional<velmora::platform::Error> error;
  (void)compound->responseObjectForResponse(&input.response, input.body, &error);
  std::optional<velmora::platform::Error> baseError;
  const velmora::platform::Value bytes = base->responseObjectForResponse(&input.response, input.body, &baseError);
  if (input.body.has_value() != !bytes.isAbsent()) std::abort();
  return 0;
}
