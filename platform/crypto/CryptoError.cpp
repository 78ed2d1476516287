#include "platform/crypto/CryptoError.h"

#include <string>

namespace velmora::platform::crypto {

Error cryptoError(CryptoStatus status, std::string_view description) {
  return Error(std::string(kCryptoErrorDomain), status, std::string(description));
}

}  // namespace velmora::platform::crypto
