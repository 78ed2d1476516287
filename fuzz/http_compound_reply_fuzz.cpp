// Runs the compound serializer (JSON, then XML, then property list, then the plain bytes)
// over arbitrary replies; the base serializer must always hand the body back.
#include <cstdlib>

#include "HttpReplyInput.h"
#include "beacons/http/KSAFHTTPResponseSerializer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto compound = kestrine::KSAFCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
      {kestrine::KSAFJSONResponseSerializer::serializer(), kestrine::KSAFXMLParserResponseSerializer::serializer(),
       kestrine::KSAFPropertyListResponseSerializer::serializer()});
  static const auto base = kestrine::KSAFHTTPResponseSerializer::serializer();
  const auto input = fuzzing::httpReplyFrom(data, size);
  std::optional<platform::Error> error;
  (void)compound->responseObjectForResponse(&input.response, input.body, &error);
  std::optional<platform::Error> baseError;
  const platform::Value bytes = base->responseObjectForResponse(&input.response, input.body, &baseError);
  if (input.body.has_value() != !bytes.isAbsent()) std::abort();
  return 0;
}
