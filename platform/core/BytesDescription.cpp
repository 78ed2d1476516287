#include "platform/core/BytesDescription.h"

namespace velmora::platform {

std::string describeBytes(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 + bytes.size() * 2 + bytes.size() / 4);
  out += '<';
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0x0F];
  }
  out += '>';
  return out;
}

std::string describeBytes(const std::optional<Bytes>& bytes) {
  return bytes ? describeBytes(*bytes) : std::string("(null)");
}

}  // namespace velmora::platform
