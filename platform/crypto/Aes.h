#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/core/Error.h"
#include "platform/crypto/CryptoError.h"

namespace velmora::platform::crypto {

// AES-128 (FIPS-197) in ECB and CBC mode (SP 800-38A).
inline constexpr std::size_t kAesBlockSize = 16;
inline constexpr std::size_t kAes128KeySize = 16;

// None: the data must be a whole number of 16-byte blocks (empty included), and the output
// has the same length. PKCS7: encryption always adds 1 to 16 bytes of padding; decryption
// checks and removes them.
enum class AesPadding { None, PKCS7 };

// Each returns the output bytes, or nullopt with *error set (when given) for a key that is
// not 16 bytes, an IV that is not 16 bytes, unpadded data that is not whole blocks, or
// padding that does not check out. Nothing here aborts on bad input.
std::optional<std::vector<std::uint8_t>> aes128EcbEncrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> data,
                                                          AesPadding padding = AesPadding::None,
                                                          Error* error = nullptr);
std::optional<std::vector<std::uint8_t>> aes128EcbDecrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> data,
                                                          AesPadding padding = AesPadding::None,
                                                          Error* error = nullptr);
std::optional<std::vector<std::uint8_t>> aes128CbcEncrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> iv,
                                                          std::span<const std::uint8_t> data,
                                                          AesPadding padding = AesPadding::None,
                                                          Error* error = nullptr);
std::optional<std::vector<std::uint8_t>> aes128CbcDecrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> iv,
                                                          std::span<const std::uint8_t> data,
                                                          AesPadding padding = AesPadding::None,
                                                          Error* error = nullptr);

}  // namespace velmora::platform::crypto
