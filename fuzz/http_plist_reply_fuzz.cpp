// Runs the property-list response serializer over arbitrary replies (XML and binary
// bodies): no crash, and what it reads must write back out in both encodings.
#include <cstdlib>

#include "HttpReplyInput.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "platform/defaults/BinaryPropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto serializer = velmora::kestrine::KSPropertyListResponseSerializer::serializer();
  const auto input = fuzzing::httpReplyFrom(data, size);
  std::optional<velmora::platform::Error> error;
  const velmora::platform::Value object = serializer->responseObjectForResponse(&input.response, input.body, &error);
  if (!object.isAbsent()) {
    using Plist = velmora::platform::defaults::BinaryPropertyList;
    if (!Plist::encodeValue(object, Plist::Format::Binary) || !Plist::encodeValue(object, Plist::Format::Xml)) {
      std::abort();
    }
  }
  return 0;
}
