// Settings version records (JSON text from the input) turned into the legacy version lines:
// line 1 is always 14 bytes and carries 10000; line 2 is 17 bytes or refused; line 3 is 2.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "beacons/configuration/KSLegacySettingsLines.h"
#include "beacons/model/KSBeaconVersion.h"

using namespace velmora::kestrine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto version = KSBeaconVersion::initWithString(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!version) return 0;
  const auto line1 = legacy_settings::versionLine1(*version);
  if (line1.size() != 14 || line1[0] != 0x0D || line1[10] != 0x10 || line1[11] != 0x27) std::abort();
  if (auto line2 = legacy_settings::versionLine2(version->proximityUUIDString()); line2 && line2->size() != 17) std::abort();
  if (legacy_settings::versionLine3(*version).size() != 2) std::abort();
  return 0;
}
