#include "platform/dispatch/ThreadPool.h"

#include <utility>

namespace velmora::platform::dispatch {

ThreadPool::ThreadPool(std::shared_ptr<ThreadHost> host, std::size_t maxThreads, std::chrono::milliseconds idleTimeout)
    : host_(std::move(host)), maxThreads_(maxThreads < 1 ? 1 : maxThreads), idleTimeout_(idleTimeout) {}

void ThreadPool::submit(Work task) {
  bool spawn = false;
  std::unique_lock lock(mutex_);
  if (stopped_) {
    // Destroyed outside the lock: its captures may post again.
    lock.unlock();
    task = nullptr;
    return;
  }
  tasks_.push_back(std::move(task));
  // Every queued task needs an idle worker of its own; a worker that is busy may be blocked
  // for good, so it does not count.
  bool wake = false;
  if (idle_ >= tasks_.size()) {
    wake = true;
  } else if (threads_ < maxThreads_) {
    ++threads_;
    spawn = true;
  }
  lock.unlock();
  // Woken after unlocking, so the worker does not wake only to block on the lock we hold.
  // The pool outlives this call: the queue that submits holds it.
  if (wake) available_.notify_one();
  if (spawn && !host_->spawn([self = shared_from_this()] { self->workerLoop(); })) {
    std::lock_guard relock(mutex_);
    --threads_;
  }
}

void ThreadPool::shutdown() {
  std::deque<Work> dropped;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    dropped.swap(tasks_);
  }
  available_.notify_all();
}

std::size_t ThreadPool::threadCount() const {
  std::lock_guard lock(mutex_);
  return threads_;
}

void ThreadPool::workerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    const bool woken = available_.wait_for(lock, idleTimeout_, [this] { return stopped_ || !tasks_.empty(); });
    --idle_;
    if (stopped_ || !woken) break;
    Work task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
  }
  --threads_;
}

}  // namespace velmora::platform::dispatch
