// Feeds arbitrary bytes to the lasso packet parser. A packet it accepts always has its data
// type, every amount fits 32 bits, every text is ASCII, and bytes after the packet change
// nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "beacons/microlocation/KSLassoPacket.h"

using namespace velmora::kestrine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const velmora::platform::Bytes bytes(data, data + size);
  const auto parsed = KSKLassoParseData(bytes);
  if (!parsed) return 0;
  if (size < 2 || !velmora::platform::Value(*parsed)[KSKLassoDataTypeKey].bytes()) std::abort();
  for (const auto& [key, value] : *parsed) {
    if (key == KSKLassoValueTypeAmountKey && !(value.toUInt64() && *value.toUInt64() <= 0xFFFFFFFFu)) std::abort();
    if (const std::string* text = value.string()) {
      for (unsigned char c : *text) {
        if (c > 0x7F) std::abort();
      }
    }
  }
  const std::size_t packet = bytes[0] < 3 ? 2 : static_cast<std::size_t>(bytes[0]) + 1;
  if (packet < size) {
    const auto alone = KSKLassoParseData(velmora::platform::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(packet)));
    if (alone != parsed) std::abort();
  }
  return 0;
}
