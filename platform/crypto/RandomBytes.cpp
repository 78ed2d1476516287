#include "platform/crypto/RandomBytes.h"

#include <openssl/rand.h>

#include <limits>
#include <stdexcept>

namespace platform::crypto {

void fillRandom(std::span<std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t n = std::min<std::size_t>(bytes.size() - done, std::numeric_limits<int>::max());
    if (RAND_bytes(bytes.data() + done, static_cast<int>(n)) != 1) {
      throw std::runtime_error("the system random source failed");
    }
    done += n;
  }
}

std::vector<std::uint8_t> randomBytes(std::size_t count) {
  std::vector<std::uint8_t> out(count);
  fillRandom(out);
  return out;
}

}  // namespace platform::crypto
