#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/ThreadPool.h"
#include "platform/dispatch/ThreadQueueCore.h"

namespace velmora::platform::dispatch {

// A ThreadScheduler concurrent queue: its items start in FIFO order on the shared pool and
// run side by side, except barriers, which wait for everything submitted before them and
// hold back everything submitted after. A global queue is shared by unrelated code, so it
// ignores barriers: they behave as plain items (one user cannot stall all the others).
//
// A sync takes its turn like any item and then runs on the caller's thread. A sync onto a
// queue whose (non-barrier) item the caller is running already runs at once: it cannot wait
// behind a later barrier, which itself waits for the caller. Internal to the dispatch layer.
class ThreadConcurrentQueue final : public Queue,
                                    public ThreadQueueCore,
                                    public std::enable_shared_from_this<ThreadConcurrentQueue> {
 public:
  ThreadConcurrentQueue(std::string label, std::shared_ptr<ThreadPool> pool, bool global);

  const std::string& label() const override { return label_; }
  QueueKind kind() const override { return QueueKind::Concurrent; }
  void async(Work work) override { submit(std::move(work), false); }
  void sync(Work work) override { runSync(std::move(work), false); }
  void barrierAsync(Work work) override { submit(std::move(work), !global_); }
  void barrierSync(Work work) override { runSync(std::move(work), !global_); }
  bool isCurrent() const override;

  void shutdown() override;

 private:
  struct Entry {
    Work work;
    bool barrier;
    std::shared_ptr<SyncTicket> ticket;
  };

  void submit(Work work, bool barrier);
  void runSync(Work work, bool barrier);
  // Starts every item that may start now, under mutex_.
  void pumpLocked();
  void finish(bool barrier);

  const std::string label_;
  const std::shared_ptr<ThreadPool> pool_;
  const bool global_;

  std::mutex mutex_;
  std::deque<Entry> items_;
  std::size_t running_ = 0;     // non-barrier items (and granted syncs) running
  bool barrierRunning_ = false;
  bool shutdown_ = false;
};

}  // namespace velmora::platform::dispatch
