#include "platform/crypto/Aes.h"

#include <openssl/evp.h>

#include <fmt/format.h>

#include <limits>
#include <memory>
#include <string_view>

namespace velmora::platform::crypto {

namespace {

struct ContextFree {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};

enum class Mode { ECB, CBC };
enum class Direction { Encrypt, Decrypt };

std::string_view name(Mode mode, Direction direction) {
  if (mode == Mode::ECB) return direction == Direction::Encrypt ? "AES-128-ECB encrypt" : "AES-128-ECB decrypt";
  return direction == Direction::Encrypt ? "AES-128-CBC encrypt" : "AES-128-CBC decrypt";
}

std::optional<std::vector<std::uint8_t>> fail(Error* error, CryptoStatus status, std::string_view description) {
  if (error) *error = cryptoError(status, description);
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> run(Mode mode, Direction direction, std::span<const std::uint8_t> key,
                                             std::span<const std::uint8_t> iv, std::span<const std::uint8_t> data,
                                             AesPadding padding, Error* error) {
  const std::string_view what = name(mode, direction);
  if (key.size() != kAes128KeySize) {
    return fail(error, kCryptoKeySizeError, fmt::format("{}: the key is {} bytes, not 16", what, key.size()));
  }
  if (mode == Mode::CBC && iv.size() != kAesBlockSize) {
    return fail(error, kCryptoIVSizeError, fmt::format("{}: the IV is {} bytes, not 16", what, iv.size()));
  }
  const bool unpaddedInput = padding == AesPadding::None || direction == Direction::Decrypt;
  if (unpaddedInput && data.size() % kAesBlockSize != 0) {
    return fail(error, kCryptoAlignmentError,
                fmt::format("{}: {} bytes are not a whole number of 16-byte blocks", what, data.size()));
  }
  if (direction == Direction::Decrypt && padding == AesPadding::PKCS7 && data.empty()) {
    return fail(error, kCryptoDecodeError, fmt::format("{}: no block to remove the padding from", what));
  }
  if (data.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) - kAesBlockSize) {
    return fail(error, kCryptoLibraryError, fmt::format("{}: {} bytes are too many", what, data.size()));
  }

  std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context(EVP_CIPHER_CTX_new());
  const EVP_CIPHER* cipher = mode == Mode::ECB ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
  const int encrypt = direction == Direction::Encrypt ? 1 : 0;
  if (!context || EVP_CipherInit_ex(context.get(), cipher, nullptr, key.data(),
                                    mode == Mode::CBC ? iv.data() : nullptr, encrypt) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), padding == AesPadding::PKCS7 ? 1 : 0) != 1) {
    return fail(error, kCryptoLibraryError, fmt::format("{}: the cipher could not be set up", what));
  }

  std::vector<std::uint8_t> out(data.size() + kAesBlockSize);
  int written = 0;
  if (!data.empty() &&
      EVP_CipherUpdate(context.get(), out.data(), &written, data.data(), static_cast<int>(data.size())) != 1) {
    return fail(error, kCryptoLibraryError, fmt::format("{}: the cipher refused the data", what));
  }
  int last = 0;
  if (EVP_CipherFinal_ex(context.get(), out.data() + written, &last) != 1) {
    // With the lengths checked above, only a decrypted padding that does not check out fails here.
    return fail(error, kCryptoDecodeError, fmt::format("{}: the padding does not check out", what));
  }
  out.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
  return out;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> aes128EcbEncrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> data, AesPadding padding,
                                                          Error* error) {
  return run(Mode::ECB, Direction::Encrypt, key, {}, data, padding, error);
}

std::optional<std::vector<std::uint8_t>> aes128EcbDecrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> data, AesPadding padding,
                                                          Error* error) {
  return run(Mode::ECB, Direction::Decrypt, key, {}, data, padding, error);
}

std::optional<std::vector<std::uint8_t>> aes128CbcEncrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> iv,
                                                          std::span<const std::uint8_t> data, AesPadding padding,
                                                          Error* error) {
  return run(Mode::CBC, Direction::Encrypt, key, iv, data, padding, error);
}

std::optional<std::vector<std::uint8_t>> aes128CbcDecrypt(std::span<const std::uint8_t> key,
                                                          std::span<const std::uint8_t> iv,
                                                          std::span<const std::uint8_t> data, AesPadding padding,
                                                          Error* error) {
  return run(Mode::CBC, Direction::Decrypt, key, iv, data, padding, error);
}

}  // namespace velmora::platform::crypto
