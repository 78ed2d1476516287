#include "platform/crypto/RandomBytes.h"

#include "platform/crypto/OpenSslLifetime.h"

#include <openssl/rand.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace velmora::platform::crypto {

void fillRandom(std::span<std::uint8_t> bytes) {
  keepOpenSslUntilExit();
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

namespace {
class FunctionSource final : public RandomSource {
 public:
  explicit FunctionSource(Filler filler) : filler_(std::move(filler)) {}
  void fill(std::span<std::uint8_t> bytes) override { filler_(bytes); }

 private:
  Filler filler_;
};
}  // namespace

std::shared_ptr<RandomSource> RandomSource::system() {
  static const std::shared_ptr<RandomSource>& source =
      *new std::shared_ptr<RandomSource>(std::make_shared<FunctionSource>(&fillRandom));
  return source;
}

std::shared_ptr<RandomSource> RandomSource::constant(std::uint8_t byte) {
  return std::make_shared<FunctionSource>([byte](std::span<std::uint8_t> out) { std::fill(out.begin(), out.end(), byte); });
}

std::shared_ptr<RandomSource> RandomSource::fromFunction(Filler filler) {
  return std::make_shared<FunctionSource>(std::move(filler));
}

}  // namespace velmora::platform::crypto
