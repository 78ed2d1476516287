#include "platform/dispatch/ThreadSerialQueue.h"

#include "platform/dispatch/CurrentQueue.h"

namespace velmora::platform::dispatch {

ThreadSerialQueue::ThreadSerialQueue(std::string label, std::shared_ptr<ThreadHost> host,
                                     std::chrono::milliseconds idleTimeout, bool hostDriven,
                                     std::function<void()> wakeup)
    : label_(std::move(label)),
      host_(std::move(host)),
      idleTimeout_(idleTimeout),
      hostDriven_(hostDriven),
      wakeup_(std::move(wakeup)) {}

void ThreadSerialQueue::async(Work work) {
  std::unique_lock lock(mutex_);
  if (shutdown_) {
    lock.unlock();  // the work's captures die outside the lock
    return;
  }
  items_.push_back(Entry{std::move(work), nullptr});
  kick(lock);
}

void ThreadSerialQueue::sync(Work work) {
  if (CurrentQueue::planSync(this, true) == CurrentQueue::SyncPlan::Deadlock) {
    CurrentQueue::reportDeadlock(label_);
    runItem(work);
    return;
  }
  bool owned = false;
  std::unique_lock lock(mutex_);
  if (!shutdown_) {
    if (!busy_ && items_.empty()) {
      busy_ = true;  // the queue is free: take it at once
      owned = true;
    } else {
      auto ticket = std::make_shared<SyncTicket>();
      items_.push_back(Entry{nullptr, ticket});
      kick(lock);
      lock.lock();
      ticket->turn.wait(lock, [&] { return ticket->granted || shutdown_; });
      owned = ticket->granted;
    }
  }
  lock.unlock();
  runItem(work);
  if (owned) {
    lock.lock();
    busy_ = false;
    kick(lock);
  }
}

bool ThreadSerialQueue::isCurrent() const { return CurrentQueue::contains(this); }

std::size_t ThreadSerialQueue::drain() {
  std::unique_lock lock(mutex_);
  std::size_t budget = items_.size();
  std::size_t ran = 0;
  while (budget > 0 && !busy_ && !items_.empty() && !shutdown_) {
    --budget;
    Entry entry = std::move(items_.front());
    items_.pop_front();
    busy_ = true;
    if (entry.ticket) {
      // The sync caller runs now; it hands the queue back (and wakes the host) when done.
      entry.ticket->granted = true;
      entry.ticket->turn.notify_one();
      break;
    }
    lock.unlock();
    runItem(entry.work);
    entry.work = nullptr;
    lock.lock();
    busy_ = false;
    ++ran;
  }
  return ran;
}

void ThreadSerialQueue::abandon() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  workAvailable_.notify_all();
}

void ThreadSerialQueue::shutdown() {
  std::deque<Entry> dropped;
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
    dropped.swap(items_);
    for (Entry& e : dropped) {
      if (e.ticket) e.ticket->turn.notify_all();
    }
  }
  workAvailable_.notify_all();
}

bool ThreadSerialQueue::claimWorkerLocked() {
  if (hostDriven_ || workerRunning_ || shutdown_) return false;
  workerRunning_ = true;
  return true;
}

void ThreadSerialQueue::startWorker() {
  if (!host_->spawn([self = shared_from_this()] { self->workerLoop(); })) {
    // The scheduler is shutting down; its shutdown drops what is queued.
    std::lock_guard lock(mutex_);
    workerRunning_ = false;
  }
}

void ThreadSerialQueue::kick(std::unique_lock<std::mutex>& lock) {
  if (busy_ || items_.empty()) {
    lock.unlock();
    return;
  }
  if (hostDriven_) {
    lock.unlock();
    if (wakeup_) wakeup_();
    return;
  }
  if (claimWorkerLocked()) {
    lock.unlock();
    startWorker();
    return;
  }
  workAvailable_.notify_one();
  lock.unlock();
}

void ThreadSerialQueue::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const bool ready = workAvailable_.wait_for(lock, idleTimeout_, [this] {
      return shutdown_ || (!busy_ && !items_.empty()) || (abandoned_ && !busy_ && items_.empty());
    });
    if (shutdown_) break;
    if (!busy_ && !items_.empty()) {
      Entry entry = std::move(items_.front());
      items_.pop_front();
      busy_ = true;
      if (entry.ticket) {
        entry.ticket->granted = true;
        entry.ticket->turn.notify_one();
        continue;  // the sync caller clears busy_ when it is done
      }
      lock.unlock();
      runItem(entry.work);
      entry.work = nullptr;
      lock.lock();
      busy_ = false;
      continue;
    }
    if (!busy_ && items_.empty() && (abandoned_ || !ready)) break;
  }
  workerRunning_ = false;
}

void ThreadSerialQueue::runItem(Work& work) {
  CurrentQueue::Scope scope(this, true);
  if (work) work();
}

}  // namespace velmora::platform::dispatch
