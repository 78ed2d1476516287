#include "platform/bluetooth/bluez/PeripheralIdentifier.h"

#include <string>
#include <vector>

#include "platform/crypto/Digest.h"

namespace velmora::platform::bluetooth::bluez {

namespace {

// The namespace of the identifiers of devices heard on this host's adapters.
constexpr Uuid::Bytes kDeviceNamespace = {0x6B, 0x1E, 0x3C, 0x52, 0x90, 0x4D, 0x4F, 0x0A,
                                          0x9C, 0x57, 0x2E, 0xB1, 0x7D, 0x48, 0xA3, 0x16};

std::string upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

}  // namespace

Uuid nameBasedUuid(const Uuid& nameSpace, std::string_view name) {
  std::vector<std::uint8_t> input(nameSpace.bytes().begin(), nameSpace.bytes().end());
  input.insert(input.end(), name.begin(), name.end());
  const auto hash = crypto::digest(crypto::DigestAlgorithm::SHA1, input);
  Uuid::Bytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = hash[i];
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x50);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  return Uuid(bytes);
}

Uuid peripheralIdentifier(std::string_view adapterAddress, std::string_view deviceAddress) {
  return nameBasedUuid(Uuid(kDeviceNamespace), upper(adapterAddress) + "/" + upper(deviceAddress));
}

}  // namespace velmora::platform::bluetooth::bluez
