#include "platform/crypto/Cmac.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <fmt/format.h>

#include <memory>

#include "platform/crypto/Aes.h"

namespace velmora::platform::crypto {

namespace {

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacContextFree {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// Fetched once: the method object is immutable and may be shared by every thread.
EVP_MAC* cmacMethod() {
  static const std::unique_ptr<EVP_MAC, MacFree>& method =
      *new std::unique_ptr<EVP_MAC, MacFree>(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
  return method.get();
}

std::optional<std::vector<std::uint8_t>> fail(Error* error, CryptoStatus status, std::string description) {
  if (error) *error = cryptoError(status, description);
  return std::nullopt;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> aesCmac(std::span<const std::uint8_t> key,
                                                 std::span<const std::uint8_t> message, Error* error) {
  if (key.size() != kAes128KeySize) {
    return fail(error, kCryptoKeySizeError, fmt::format("AES-CMAC: the key is {} bytes, not 16", key.size()));
  }
  EVP_MAC* method = cmacMethod();
  std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(method ? EVP_MAC_CTX_new(method) : nullptr);
  char cipherName[] = "AES-128-CBC";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
      OSSL_PARAM_construct_end(),
  };
  if (!context || EVP_MAC_init(context.get(), key.data(), key.size(), params) != 1) {
    return fail(error, kCryptoLibraryError, "AES-CMAC: the MAC could not be set up");
  }
  if (!message.empty() && EVP_MAC_update(context.get(), message.data(), message.size()) != 1) {
    return fail(error, kCryptoLibraryError, "AES-CMAC: the MAC refused the message");
  }
  std::vector<std::uint8_t> tag(kCmacLength);
  std::size_t length = 0;
  if (EVP_MAC_final(context.get(), tag.data(), &length, tag.size()) != 1 || length != kCmacLength) {
    return fail(error, kCryptoLibraryError, "AES-CMAC: the tag could not be computed");
  }
  return tag;
}

}  // namespace velmora::platform::crypto
