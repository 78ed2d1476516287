// Radio trace text: parsing must never crash, and an accepted trace keeps its times in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/sim/SimTrace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmora::platform::sim::TraceError error;
  auto trace = velmora::platform::sim::SimTrace::parse(std::string_view(reinterpret_cast<const char*>(data), size), &error);
  if (!trace) {
    if (error.line < 1 || error.field.empty()) std::abort();
    return 0;
  }
  std::int64_t last = 0;
  for (const auto& e : trace->events()) {
    if (e.atMicros < last) std::abort();
    last = e.atMicros;
  }
  return 0;
}
