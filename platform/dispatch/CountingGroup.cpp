#include "platform/dispatch/CountingGroup.h"

#include "platform/core/Log.h"

namespace velmora::platform::dispatch {

void CountingGroup::enter() {
  std::lock_guard lock(mutex_);
  ++count_;
}

void CountingGroup::leave() {
  // A waiter may return, and its owner drop the group, the moment the count reaches zero;
  // the group stays alive until this call is done with it.
  const auto self = shared_from_this();
  std::vector<std::pair<std::shared_ptr<Queue>, Work>> ready;
  {
    std::lock_guard lock(mutex_);
    if (count_ == 0) {
      reportProgrammingError("dispatch group left more often than entered");
      return;
    }
    if (--count_ > 0) return;
    ready.swap(notifications_);
  }
  // Woken after unlocking, so a waiter does not wake only to block on the lock we hold.
  drained_.notify_all();
  for (auto& [queue, work] : ready) queue->async(std::move(work));
  changed();
}

void CountingGroup::async(const std::shared_ptr<Queue>& queue, Work work) {
  if (!precondition(queue != nullptr, "queue != nullptr")) return;
  enter();
  queue->async([self = shared_from_this(), work = std::move(work)]() mutable {
    // The work and what it captured are gone before the group can drain.
    Work run = std::move(work);
    if (run) run();
    run = nullptr;
    self->leave();
  });
}

void CountingGroup::notify(const std::shared_ptr<Queue>& queue, Work work) {
  if (!precondition(queue != nullptr, "queue != nullptr")) return;
  {
    std::lock_guard lock(mutex_);
    if (count_ > 0) {
      notifications_.emplace_back(queue, std::move(work));
      return;
    }
  }
  queue->async(std::move(work));
}

}  // namespace velmora::platform::dispatch
