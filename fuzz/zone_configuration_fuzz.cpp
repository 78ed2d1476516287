// Reads a site's zone configuration from arbitrary custom values: the input is cut into
// lines of "key=value" (a line without "=" is a key without value). Dwell and suspension
// times are always finite, and a window's end never comes before its start.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "beacons/microlocation/KSZoneMonitor.h"
#include "beacons/model/KSCustomValue.h"

using namespace velmora::kestrine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::shared_ptr<KSCustomValue>> values;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    auto value = std::make_shared<KSCustomValue>();
    const auto eq = line.find('=');
    value->setKey(std::string(line.substr(0, eq)));
    if (eq != std::string_view::npos) value->setValue(std::string(line.substr(eq + 1)));
    values.push_back(value);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  const auto config = KSZoneMonitor::configurationFromCustomValues(values);
  for (const auto& [zone, dwell] : config.dwellTimeForZone) {
    if (!std::isfinite(dwell)) std::abort();
  }
  if (config.suspensionTime && !std::isfinite(*config.suspensionTime)) std::abort();
  for (const auto& [zone, window] : config.inZoneAfterTimeForZone) {
    if (static_cast<long double>(window.location) + static_cast<long double>(window.length) <
        static_cast<long double>(window.location)) {
      std::abort();
    }
  }
  return 0;
}
