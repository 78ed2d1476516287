// Reads arbitrary bytes as a user-defaults file.
#include <cstddef>
#include <cstdint>

#include "platform/defaults/BinaryPropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto dict = platform::defaults::BinaryPropertyList::decode(reinterpret_cast<const char*>(data), size);
  if (dict) {
    // Whatever was read must be writable again.
    auto bytes = platform::defaults::BinaryPropertyList::encode(*dict);
    if (bytes) (void)platform::defaults::BinaryPropertyList::decode(bytes->data(), bytes->size());
  }
  return 0;
}
