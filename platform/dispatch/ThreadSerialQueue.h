#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/ThreadHost.h"
#include "platform/dispatch/ThreadQueueCore.h"

namespace velmora::platform::dispatch {

// The state of a ThreadScheduler serial queue. Its items run one at a time, in FIFO order, on
// a thread of the queue's own, started on demand and ended after idleTimeout without work
// (or once the queue is abandoned and empty). A host-driven queue (the main queue when the
// host drains it) has no thread: it calls `wakeup` when work arrives and the host runs the
// items with drain().
//
// A sync takes its turn in the FIFO and then runs the work on the caller's thread, so that
// the caller's current queues stay current inside. Internal to the dispatch layer.
class ThreadSerialQueue final : public ThreadQueueCore, public std::enable_shared_from_this<ThreadSerialQueue> {
 public:
  ThreadSerialQueue(std::string label, std::shared_ptr<ThreadHost> host, std::chrono::milliseconds idleTimeout,
                    bool hostDriven = false, std::function<void()> wakeup = nullptr);

  const std::string& label() const { return label_; }
  void async(Work work);
  void sync(Work work);
  bool isCurrent() const;

  // Host-driven queues: runs the items queued when called (not those they post), stopping
  // early when a sync takes its turn. Returns the number of items run.
  std::size_t drain();

  // No handle refers to the queue any more: its thread ends once the queue is empty.
  void abandon();
  void shutdown() override;

 private:
  struct Entry {
    Work work;
    std::shared_ptr<SyncTicket> ticket;
  };

  // Whether new work needs a thread started (the flag is set for the caller), under mutex_.
  bool claimWorkerLocked();
  void startWorker();
  // After work arrived or the queue became free: wake or start whatever runs the items.
  // Takes the lock it was given and releases it.
  void kick(std::unique_lock<std::mutex>& lock);
  void workerLoop();
  void runItem(Work& work);

  const std::string label_;
  const std::shared_ptr<ThreadHost> host_;
  const std::chrono::milliseconds idleTimeout_;
  const bool hostDriven_;
  const std::function<void()> wakeup_;

  mutable std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::deque<Entry> items_;
  bool busy_ = false;           // an item (or a granted sync) is running
  bool workerRunning_ = false;  // a worker thread exists for the queue
  bool abandoned_ = false;
  bool shutdown_ = false;
};

// The Queue that ThreadScheduler hands out for a serial queue. When the last reference goes,
// the queue still runs what was submitted and then its thread ends.
class ThreadSerialQueueHandle final : public Queue {
 public:
  explicit ThreadSerialQueueHandle(std::shared_ptr<ThreadSerialQueue> core) : core_(std::move(core)) {}
  ~ThreadSerialQueueHandle() override { core_->abandon(); }

  const std::string& label() const override { return core_->label(); }
  QueueKind kind() const override { return QueueKind::Serial; }
  void async(Work work) override { core_->async(std::move(work)); }
  void sync(Work work) override { core_->sync(std::move(work)); }
  void barrierAsync(Work work) override { core_->async(std::move(work)); }
  void barrierSync(Work work) override { core_->sync(std::move(work)); }
  bool isCurrent() const override { return core_->isCurrent(); }

 private:
  std::shared_ptr<ThreadSerialQueue> core_;
};

}  // namespace velmora::platform::dispatch
