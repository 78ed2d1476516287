// Broadcast Capabilities values of any length: shorter than 7 bytes is refused with its
// message; otherwise every field is read and the transmit powers are the bytes from 6 on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"
#include "beacons/configuration/KSSettingsKeys.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes value(data, data + size);
  std::string error;
  auto settings = KSBeaconReadSettingsEddystoneOperation::settingsFromBroadcastCapabilities(value, &error);
  if (size < 7) {
    if (settings || error != "Broadcast Capabilities byte array too short") std::abort();
    return 0;
  }
  if (!settings || settings->size() != 6) std::abort();
  const auto& powers = settings->at(std::string(KSEddySettingTxPowersKey));
  if (!powers.bytes() || powers.bytes()->size() != size - 6) std::abort();
  const auto frames = settings->at(std::string(KSEddySettingFramesSupportedBitmaskKey)).toUInt64();
  if (!frames || *frames != ((static_cast<std::uint64_t>(data[4]) << 8) | data[5])) std::abort();
  return 0;
}
