#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform::crypto {

// Fills the bytes from the system's cryptographic random source. Throws std::runtime_error
// when the source fails: there is no safe value to fall back on.
void fillRandom(std::span<std::uint8_t> bytes);
std::vector<std::uint8_t> randomBytes(std::size_t count);

}  // namespace platform::crypto
