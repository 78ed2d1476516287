#pragma once

#include <memory>

#include "platform/core/Clock.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// The source of "now" for the records of the beacon model (sync times, measurement times,
// block completion times). The system clock until a test or the SDK sets another one.
class KSModelClock {
 public:
  KSModelClock() = delete;
  static platform::Date now();
  // The clock now() reads: the one set, else the system clock.
  static std::shared_ptr<const platform::Clock> clock();
  // nullptr goes back to the system clock.
  static void setClock(std::shared_ptr<const platform::Clock> clock);
};

}  // namespace velmora::kestrine
