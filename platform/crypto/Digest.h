#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform::crypto {

// The message digests of the platform: MD5 (RFC 1321), SHA-1, SHA-256 and SHA-512
// (FIPS 180-4).
enum class DigestAlgorithm { MD5, SHA1, SHA256, SHA512 };

// 16, 20, 32 or 64.
std::size_t digestLength(DigestAlgorithm algorithm);

// The digest of the bytes, or of a text's bytes as they are (UTF-8 in this tree).
std::vector<std::uint8_t> digest(DigestAlgorithm algorithm, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> digest(DigestAlgorithm algorithm, std::string_view text);

// A digest over bytes that arrive in pieces. finish() gives the digest and starts over.
class Digester {
 public:
  explicit Digester(DigestAlgorithm algorithm);
  ~Digester();
  Digester(const Digester&) = delete;
  Digester& operator=(const Digester&) = delete;

  void update(std::span<const std::uint8_t> bytes);
  std::vector<std::uint8_t> finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The digest of a regular file's contents, read in chunks of 4,096 bytes so the file is never
// held whole. nullopt when the path names no file, names a directory, cannot be opened, or a
// read fails.
std::optional<std::vector<std::uint8_t>> digestOfFile(DigestAlgorithm algorithm, const std::filesystem::path& path);

// The bytes as two lowercase hex digits each ("%02x"), in order.
std::string lowercaseHex(std::span<const std::uint8_t> bytes);

}  // namespace velmora::platform::crypto
