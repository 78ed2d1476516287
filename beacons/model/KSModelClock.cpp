#include "beacons/model/KSModelClock.h"

#include <mutex>

namespace velmora::kestrine {
namespace {
// Never destroyed: records read the clock from destructors that may run at exit.
struct ClockSlot {
  std::mutex mutex;
  std::shared_ptr<const platform::Clock> clock;
};
ClockSlot& slot() {
  static ClockSlot& s = *new ClockSlot();
  return s;
}
}  // namespace

platform::Date KSModelClock::now() { return clock()->now(); }

std::shared_ptr<const platform::Clock> KSModelClock::clock() {
  std::shared_ptr<const platform::Clock> clock;
  {
    std::lock_guard lock(slot().mutex);
    clock = slot().clock;
  }
  return clock ? clock : platform::Clock::system();
}

void KSModelClock::setClock(std::shared_ptr<const platform::Clock> clock) {
  std::lock_guard lock(slot().mutex);
  slot().clock = std::move(clock);
}

}  // namespace velmora::kestrine
