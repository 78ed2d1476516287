// Feeds arbitrary bytes to the JSON decoders of the beacon snapshot and the service result.
// Nothing may crash; a failed decode says why; what decodes encodes again and decodes back to
// the same values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "parking/lane_detection/BeaconModel.h"
#include "parking/lane_detection/BeaconServiceResult.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  velmora::platform::Error error;
  if (auto model = velmora::decodeBeaconModelJSON(text, &error)) {
    auto again = velmora::encodeBeaconModelJSON(*model);
    if (!again) std::abort();
    auto back = velmora::decodeBeaconModelJSON(*again);
    if (!back) std::abort();
    const auto a = model->values(), b = back->values();
    if (a.beaconID != b.beaconID || a.serialNumber != b.serialNumber || a.name != b.name || a.rssi != b.rssi ||
        a.proximity != b.proximity || a.measuredPowerAt1Meter != b.measuredPowerAt1Meter || a.accuracy != b.accuracy) {
      std::abort();
    }
  } else if (error.domain.empty()) {
    std::abort();
  }

  velmora::platform::Error resultError;
  if (auto result = velmora::decodeRecordJSON<velmora::BeaconServiceResult>(text, &resultError)) {
    auto again = velmora::encodeRecordJSON(*result);
    if (!again) std::abort();
    auto back = velmora::decodeRecordJSON<velmora::BeaconServiceResult>(*again);
    if (!back || back->success != result->success || back->message != result->message) std::abort();
  } else if (resultError.domain.empty()) {
    std::abort();
  }
  return 0;
}
