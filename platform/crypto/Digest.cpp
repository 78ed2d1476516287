#include "platform/crypto/Digest.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

namespace velmora::platform::crypto {

namespace {

const EVP_MD* method(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5: return EVP_md5();
    case DigestAlgorithm::SHA1: return EVP_sha1();
    case DigestAlgorithm::SHA256: return EVP_sha256();
    case DigestAlgorithm::SHA512: return EVP_sha512();
  }
  return EVP_sha256();
}

struct ContextFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

}  // namespace

std::size_t digestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::MD5: return 16;
    case DigestAlgorithm::SHA1: return 20;
    case DigestAlgorithm::SHA256: return 32;
    case DigestAlgorithm::SHA512: return 64;
  }
  return 0;
}

struct Digester::Impl {
  DigestAlgorithm algorithm;
  std::unique_ptr<EVP_MD_CTX, ContextFree> context{EVP_MD_CTX_new()};

  void start() {
    // Failing to set up a built-in digest means the crypto library itself is unusable.
    if (!context || EVP_DigestInit_ex(context.get(), method(algorithm), nullptr) != 1) {
      throw std::runtime_error("the digest could not be started");
    }
  }
};

Digester::Digester(DigestAlgorithm algorithm) : impl_(std::make_unique<Impl>(Impl{algorithm})) { impl_->start(); }

Digester::~Digester() = default;

void Digester::update(std::span<const std::uint8_t> bytes) {
  if (!bytes.empty()) EVP_DigestUpdate(impl_->context.get(), bytes.data(), bytes.size());
}

std::vector<std::uint8_t> Digester::finish() {
  std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_DigestFinal_ex(impl_->context.get(), out.data(), &length);
  out.resize(length);
  impl_->start();
  return out;
}

std::vector<std::uint8_t> digest(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), out.data(), &length, method(algorithm), nullptr) != 1) {
    throw std::runtime_error("the digest could not be computed");
  }
  out.resize(length);
  return out;
}

std::vector<std::uint8_t> digest(DigestAlgorithm algorithm, std::string_view text) {
  return digest(algorithm, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<std::uint8_t>> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
  // A directory opens on Linux, and its reads fail; refuse it before reading.
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
  Digester digester(algorithm);
  std::array<std::uint8_t, 4096> chunk{};
  for (;;) {
    const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file);
    if (n > 0) digester.update(std::span(chunk.data(), n));
    if (n < chunk.size()) {
      if (std::ferror(file)) return std::nullopt;
      break;
    }
  }
  return digester.finish();
}

std::string lowercaseHex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(bytes.size() * 2, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace velmora::platform::crypto
