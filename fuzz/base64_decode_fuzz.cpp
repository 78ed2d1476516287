// Decodes arbitrary text as base64. The strict decoder gives each byte string one text only,
// so whatever it accepts must encode back to exactly the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/crypto/Base64.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto decoded = velmora::platform::crypto::base64Decode(text);
  if (decoded && velmora::platform::crypto::base64Encode(*decoded) != text) std::abort();
  return 0;
}
