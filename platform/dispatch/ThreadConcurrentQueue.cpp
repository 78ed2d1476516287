#include "platform/dispatch/ThreadConcurrentQueue.h"

#include "platform/dispatch/CurrentQueue.h"

namespace velmora::platform::dispatch {

ThreadConcurrentQueue::ThreadConcurrentQueue(std::string label, std::shared_ptr<ThreadPool> pool, bool global)
    : label_(std::move(label)), pool_(std::move(pool)), global_(global) {}

bool ThreadConcurrentQueue::isCurrent() const { return CurrentQueue::contains(this); }

void ThreadConcurrentQueue::submit(Work work, bool barrier) {
  std::unique_lock lock(mutex_);
  if (shutdown_) {
    lock.unlock();
    return;
  }
  items_.push_back(Entry{std::move(work), barrier, nullptr});
  pumpLocked();
}

void ThreadConcurrentQueue::runSync(Work work, bool barrier) {
  switch (CurrentQueue::planSync(this, barrier)) {
    case CurrentQueue::SyncPlan::Deadlock: {
      CurrentQueue::reportDeadlock(label_);
      CurrentQueue::Scope scope(this, barrier);
      if (work) work();
      return;
    }
    case CurrentQueue::SyncPlan::Reenter: {
      CurrentQueue::Scope scope(this, false);
      if (work) work();
      return;
    }
    case CurrentQueue::SyncPlan::Wait:
      break;
  }
  bool owned = false;
  {
    std::unique_lock lock(mutex_);
    if (!shutdown_) {
      if (items_.empty() && !barrierRunning_ && (!barrier || running_ == 0)) {
        if (barrier) {
          barrierRunning_ = true;
        } else {
          ++running_;
        }
        owned = true;
      } else {
        auto ticket = std::make_shared<SyncTicket>();
        items_.push_back(Entry{nullptr, barrier, ticket});
        pumpLocked();
        ticket->turn.wait(lock, [&] { return ticket->granted || shutdown_; });
        owned = ticket->granted;
      }
    }
  }
  {
    CurrentQueue::Scope scope(this, barrier);
    if (work) work();
  }
  if (owned) finish(barrier);
}

void ThreadConcurrentQueue::pumpLocked() {
  while (!items_.empty()) {
    Entry& front = items_.front();
    const bool barrier = front.barrier;
    if (barrier) {
      if (running_ > 0 || barrierRunning_) return;
      barrierRunning_ = true;
    } else {
      if (barrierRunning_) return;
      ++running_;
    }
    Entry entry = std::move(front);
    items_.pop_front();
    if (entry.ticket) {
      entry.ticket->granted = true;
      entry.ticket->turn.notify_one();
    } else {
      pool_->submit([self = shared_from_this(), work = std::move(entry.work), barrier]() mutable {
        {
          CurrentQueue::Scope scope(self.get(), barrier);
          if (work) work();
          work = nullptr;
        }
        self->finish(barrier);
      });
    }
    if (barrier) return;
  }
}

void ThreadConcurrentQueue::finish(bool barrier) {
  std::lock_guard lock(mutex_);
  if (barrier) {
    barrierRunning_ = false;
  } else {
    --running_;
  }
  pumpLocked();
}

void ThreadConcurrentQueue::shutdown() {
  std::deque<Entry> dropped;
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    dropped.swap(items_);
    for (Entry& e : dropped) {
      if (e.ticket) e.ticket->turn.notify_all();
    }
  }
}

}  // namespace velmora::platform::dispatch
