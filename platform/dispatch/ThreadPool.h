#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/ThreadHost.h"

namespace velmora::platform::dispatch {

// The elastic pool that runs the items of concurrent and global queues. It starts a worker
// whenever a task arrives and no idle worker is left to take it, so a worker that blocks
// (waiting on a group, say) never keeps other work from starting, up to maxThreads. A
// worker that stays idle for idleTimeout ends. Internal to the dispatch layer.
class ThreadPool : public std::enable_shared_from_this<ThreadPool> {
 public:
  ThreadPool(std::shared_ptr<ThreadHost> host, std::size_t maxThreads, std::chrono::milliseconds idleTimeout);
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // Runs task on a worker, in submission order as workers free up. Dropped after shutdown().
  void submit(Work task);
  // Stops taking tasks, drops those not started, and tells the workers to end.
  void shutdown();

  std::size_t threadCount() const;

 private:
  void workerLoop();

  const std::shared_ptr<ThreadHost> host_;
  const std::size_t maxThreads_;
  const std::chrono::milliseconds idleTimeout_;

  mutable std::mutex mutex_;
  std::condition_variable available_;
  std::deque<Work> tasks_;
  std::size_t threads_ = 0;
  std::size_t idle_ = 0;
  bool stopped_ = false;
};

}  // namespace velmora::platform::dispatch
