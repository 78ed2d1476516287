#pragma once

#include <condition_variable>

namespace velmora::platform::dispatch {

// The shared state of a ThreadScheduler queue, as the scheduler sees it when it shuts down.
// Internal to the dispatch layer.
class ThreadQueueCore {
 public:
  virtual ~ThreadQueueCore() = default;
  // Drops the items not yet started, releases every waiting sync, and makes later async
  // submissions no-ops (a later sync runs inline).
  virtual void shutdown() = 0;
};

// A sync caller's place in a queue's FIFO. When its turn comes the queue grants it: the
// caller then runs its work on its own thread while the queue counts it as running.
struct SyncTicket {
  std::condition_variable turn;
  bool granted = false;
};

}  // namespace velmora::platform::dispatch
