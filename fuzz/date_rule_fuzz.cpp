// Feeds arbitrary date texts to the reply date rules under several device time zones (the
// first byte picks the zone). Nothing may crash; a refused text fails with the rule's
// message; a text the lane exit rule accepts (its formats are the status rule's first two)
// is accepted by the status rule as the same instant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parking/service/DateDecoding.h"
#include "platform/text/DefaultTimeZone.h"

namespace {

// Whole-hour, half-hour, quarter-hour and 30-minute-summer-time zones, both hemispheres.
constexpr std::string_view kZones[] = {"Etc/UTC",          "Asia/Tokyo",          "America/New_York",
                                       "Europe/London",    "Australia/Lord_Howe", "Asia/Kathmandu",
                                       "Pacific/Chatham",  "America/St_Johns"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const std::string_view* current = nullptr;
  const std::string_view* zone = &kZones[data[0] % std::size(kZones)];
  if (zone != current) {
    if (!velmora::platform::text::DefaultTimeZone::set(*zone)) std::abort();
    current = zone;
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  const velmora::platform::Value value(text);

  velmora::platform::Error statusError;
  const auto status = velmora::statusDateRule()(value, "entryTime", &statusError);
  if (!status && statusError.debugDescription() != "Cannot decode date string " + text) std::abort();

  velmora::platform::Error exitError;
  const auto exit = velmora::laneExitDateRule()(value, "entryTime", &exitError);
  if (!exit && exitError.debugDescription() != "Cannot decode date string " + text) std::abort();
  if (exit && (!status || !(*status == *exit))) std::abort();
  return 0;
}
