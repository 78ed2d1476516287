#pragma once

#include <optional>
#include <string>

#include "platform/crypto/Digest.h"

namespace velmora::kestrine {

// Digests of a file's contents as lowercase hex, read in chunks of 4,096 bytes. nil (nullopt)
// when the path names no regular file, cannot be opened, or a read fails.
class KSFileHash {
 public:
  KSFileHash() = delete;

  static std::optional<std::string> md5HashOfFileAtPath(const std::string& path);     // 32 digits
  static std::optional<std::string> sha1HashOfFileAtPath(const std::string& path);    // 40 digits
  static std::optional<std::string> sha512HashOfFileAtPath(const std::string& path);  // 128 digits

  // The common worker: the digest to compute stands in for the computation context.
  static std::optional<std::string> hashOfFileAtPath(const std::string& path,
                                                     platform::crypto::DigestAlgorithm algorithm);
};

}  // namespace velmora::kestrine
