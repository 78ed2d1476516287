#pragma once

#include <functional>
#include <string>

namespace platform::dispatch {

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
  // Runs work on the queue and returns once it has run. A sync onto the serial queue the
  // caller is already running on cannot finish: it is reported as a programming error
  // (platform::reportProgrammingError) and the work runs inline instead of hanging.
  virtual void sync(Work work) = 0;
  // On a serial queue these are async/sync.
  virtual void barrierAsync(Work work) = 0;
  virtual void barrierSync(Work work) = 0;

  // True while the calling thread runs an item of this queue (also inside a sync onto it).
  virtual bool isCurrent() const = 0;
};

}  // namespace platform::dispatch
