#pragma once

#include <cstdint>
#include <string_view>

#include "platform/core/Error.h"

namespace velmora::platform::crypto {

// Errors of the cipher and MAC functions. The code says what was wrong; the description
// names the function and the offending length, for the log.
inline constexpr std::string_view kCryptoErrorDomain = "platform.crypto";

enum CryptoStatus : std::int64_t {
  kCryptoKeySizeError = 1,      // the key is not 16 bytes
  kCryptoIVSizeError = 2,       // the initialisation vector is not 16 bytes
  kCryptoAlignmentError = 3,    // unpadded data that is not a whole number of blocks
  kCryptoDecodeError = 4,       // padding that does not check out after decryption
  kCryptoLibraryError = 5,      // the crypto library refused the operation
};

Error cryptoError(CryptoStatus status, std::string_view description);

}  // namespace velmora::platform::crypto
