#include "beacons/foundation/KSBase64Utilities.h"

#include "platform/crypto/Base64.h"

namespace velmora::kestrine {

std::string KSBase64Utilities::base64EncodedString(const std::optional<std::string>& text) {
  return text ? platform::crypto::base64Encode(std::string_view(*text)) : std::string();
}

}  // namespace velmora::kestrine
