// Feeds arbitrary bytes to the JSON reader. Whatever it accepts must write back out and
// read again to an equal value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/core/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto value = velmora::platform::json::parse(text);
  if (!value) return 0;
  auto written = velmora::platform::json::write(*value);
  if (!written) std::abort();  // everything read must be writable
  auto again = velmora::platform::json::parse(*written);
  if (!again || !(*again == *value)) std::abort();
  return 0;
}
