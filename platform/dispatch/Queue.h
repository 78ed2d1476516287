#pragma once

#include <functional>
#include <string>

namespace velmora::platform::dispatch {

using Work = std::function<void()>;

enum class QueueKind { Serial, Concurrent };

// A dispatch queue. Serial queues run one item at a time in FIFO order; concurrent queues
// may run items side by side, except barrier items, which run alone: after every item
// submitted before them has finished and before any item submitted after them starts.
class Queue {
 public:
  virtual ~Queue() = default;

  virtual const std::string& label() const = 0;
  virtual QueueKind kind() const = 0;

  virtual void async(Work work) = 0;
  // Runs work on the queue and returns once it has run. The work takes its turn after the
  // items submitted before it and runs on the calling thread, so the caller's current queues
  // stay current inside. A sync onto the serial queue the caller is already running on (also
  // through other syncs: a sync-> b sync-> a) cannot finish: it is reported as a programming
  // error (platform::reportProgrammingError) and the work runs inline instead of hanging.
  // On a concurrent queue, a sync from one of the queue's own items runs at once (it cannot
  // wait behind a later barrier that waits for the caller); a barrierSync from inside the
  // queue, or any sync from inside one of its barriers, is the error above.
  virtual void sync(Work work) = 0;
  // On a serial queue these are async/sync.
  virtual void barrierAsync(Work work) = 0;
  virtual void barrierSync(Work work) = 0;

  // True while the calling thread runs an item of this queue (also inside a sync onto it).
  virtual bool isCurrent() const = 0;
};

}  // namespace velmora::platform::dispatch
