#pragma once

#include <memory>
#include <optional>

#include "platform/dispatch/Queue.h"

namespace velmora::platform::dispatch {

// A dispatch group: counts outstanding work; waiters and notify blocks run when it drains.
class Group {
 public:
  virtual ~Group() = default;

  virtual void enter() = 0;
  // A leave without a matching enter is reported as a programming error and ignored.
  virtual void leave() = 0;
  // async(queue, work): enter, run work on queue, leave.
  virtual void async(const std::shared_ptr<Queue>& queue, Work work) = 0;
  // Runs work on queue once the group is empty (at once if it is empty now). One-shot.
  virtual void notify(const std::shared_ptr<Queue>& queue, Work work) = 0;
  // Blocks until the group is empty, or until timeoutSeconds of the scheduler's monotonic
  // time have passed; nullopt waits without a limit. Returns true when the group drained.
  // Under the virtual scheduler the wait runs posted work while it waits.
  virtual bool wait(std::optional<double> timeoutSeconds = std::nullopt) = 0;
};

}  // namespace velmora::platform::dispatch
