#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/core/Error.h"
#include "platform/crypto/CryptoError.h"

namespace velmora::platform::crypto {

inline constexpr std::size_t kCmacLength = 16;

// AES-CMAC (RFC 4493) of a message of any length, the empty one included: the 16-byte tag,
// or nullopt with *error set (when given) for a key that is not 16 bytes or a failure of the
// crypto library.
std::optional<std::vector<std::uint8_t>> aesCmac(std::span<const std::uint8_t> key,
                                                 std::span<const std::uint8_t> message, Error* error = nullptr);

}  // namespace velmora::platform::crypto
