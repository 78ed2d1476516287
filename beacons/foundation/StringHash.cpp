#include "beacons/foundation/StringHash.h"

#include "platform/crypto/Digest.h"

namespace velmora::kestrine::string_hash {

using platform::crypto::DigestAlgorithm;

namespace {

std::string hexOfDigest(DigestAlgorithm algorithm, std::string_view text) {
  auto bytes = platform::crypto::digest(algorithm, text);
  return toHexString(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

}  // namespace

std::uint32_t UTF8Length(std::string_view text) { return static_cast<std::uint32_t>(text.size()); }

std::string toHexString(std::uint8_t* buffer, std::uint32_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(std::size_t{length} * 2);
  for (std::uint32_t i = 0; i < length; ++i) {
    out.push_back(kDigits[buffer[i] >> 4]);
    out.push_back(kDigits[buffer[i] & 0x0F]);
    // volatile: the clearing must survive the optimiser although nothing reads it again.
    static_cast<volatile std::uint8_t*>(buffer)[i] = 0;
  }
  return out;
}

std::string MD5(std::string_view text) { return hexOfDigest(DigestAlgorithm::MD5, text); }
std::string SHA1(std::string_view text) { return hexOfDigest(DigestAlgorithm::SHA1, text); }
std::string SHA256(std::string_view text) { return hexOfDigest(DigestAlgorithm::SHA256, text); }

}  // namespace velmora::kestrine::string_hash
