#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace velmora::platform::crypto {

// Fills the bytes from the system's cryptographic random source. Throws std::runtime_error
// when the source fails: there is no safe value to fall back on.
void fillRandom(std::span<std::uint8_t> bytes);
std::vector<std::uint8_t> randomBytes(std::size_t count);

// Where code that needs random bytes takes them from: the system source unless a test
// installs a fixed one. Pass it in (or take system()); every fill goes through fill().
class RandomSource {
 public:
  using Filler = std::function<void(std::span<std::uint8_t>)>;
  virtual ~RandomSource() = default;
  virtual void fill(std::span<std::uint8_t> bytes) = 0;
  std::vector<std::uint8_t> bytes(std::size_t count) {
    std::vector<std::uint8_t> out(count);
    fill(out);
    return out;
  }

  // The system's cryptographic source (fillRandom).
  static std::shared_ptr<RandomSource> system();
  // Every byte is the given one; for tests.
  static std::shared_ptr<RandomSource> constant(std::uint8_t byte);
  // Bytes from a function; for tests that script a sequence.
  static std::shared_ptr<RandomSource> fromFunction(Filler filler);
};

}  // namespace velmora::platform::crypto
