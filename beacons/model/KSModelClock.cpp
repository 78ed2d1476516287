#include "beacons/model/KSModelClock.h"

#include <mutex>

namespace velmora::kestrine {
namespace {
std::mutex clockMutex;
std::shared_ptr<const platform::Clock> modelClock;
}  // namespace

platform::Date KSModelClock::now() { return clock()->now(); }

std::shared_ptr<const platform::Clock> KSModelClock::clock() {
  std::shared_ptr<const platform::Clock> clock;
  {
    std::lock_guard lock(clockMutex);
    clock = modelClock;
  }
  return clock ? clock : platform::Clock::system();
}

void KSModelClock::setClock(std::shared_ptr<const platform::Clock> clock) {
  std::lock_guard lock(clockMutex);
  modelClock = std::move(clock);
}

}  // namespace velmora::kestrine
