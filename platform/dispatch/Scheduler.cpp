#include "platform/dispatch/Scheduler.h"

#include <mutex>

#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::platform::dispatch {
namespace {

struct SharedSlot {
  std::mutex mutex;
  std::shared_ptr<Scheduler> installed;
};

SharedSlot& slot() {
  static SharedSlot& s = *new SharedSlot();
  return s;
}

// The default scheduler is never destroyed: work may still be running on its threads while
// the process exits, and joining them from a static destructor could wait for ever.
const std::shared_ptr<Scheduler>& defaultScheduler() {
  static const auto* scheduler = new std::shared_ptr<Scheduler>(std::make_shared<ThreadScheduler>());
  return *scheduler;
}

}  // namespace

std::shared_ptr<void> Scheduler::beginExternalWork() { return std::make_shared<int>(0); }

std::shared_ptr<Scheduler> Scheduler::shared() {
  {
    std::lock_guard lock(slot().mutex);
    if (slot().installed) return slot().installed;
  }
  return defaultScheduler();
}

void Scheduler::setShared(std::shared_ptr<Scheduler> scheduler) {
  std::shared_ptr<Scheduler> previous;
  std::lock_guard lock(slot().mutex);
  previous = std::move(slot().installed);
  slot().installed = std::move(scheduler);
  // The previous scheduler is released after the lock (declared first, destroyed last).
}

}  // namespace velmora::platform::dispatch
