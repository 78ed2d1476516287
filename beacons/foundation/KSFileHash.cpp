#include "beacons/foundation/KSFileHash.h"

namespace velmora::kestrine {

using platform::crypto::DigestAlgorithm;

std::optional<std::string> KSFileHash::hashOfFileAtPath(const std::string& path, DigestAlgorithm algorithm) {
  if (path.empty()) return std::nullopt;
  const auto digest = platform::crypto::digestOfFile(algorithm, path);
  if (!digest) return std::nullopt;
  return platform::crypto::lowercaseHex(*digest);
}

std::optional<std::string> KSFileHash::md5HashOfFileAtPath(const std::string& path) {
  return hashOfFileAtPath(path, DigestAlgorithm::MD5);
}

std::optional<std::string> KSFileHash::sha1HashOfFileAtPath(const std::string& path) {
  return hashOfFileAtPath(path, DigestAlgorithm::SHA1);
}

std::optional<std::string> KSFileHash::sha512HashOfFileAtPath(const std::string& path) {
  return hashOfFileAtPath(path, DigestAlgorithm::SHA512);
}

}  // namespace velmora::kestrine
