#pragma once

#include "platform/dispatch/Queue.h"

namespace platform::dispatch {

// Which time a timer follows. Monotonic timers count uptime and ignore clock changes;
// wall timers fire when wall time reaches their deadline, also when it jumps there.
enum class TimerClock { Monotonic, Wall };

// A timer source: fires its handler on its queue. Made suspended; resume() starts it.
// A repeating timer that falls behind fires once, not once per missed interval.
class TimerSource {
 public:
  virtual ~TimerSource() = default;

  virtual void setEventHandler(Work handler) = 0;
  virtual void setCancelHandler(Work handler) = 0;
  // First fire startSeconds from now, then every intervalSeconds; an interval of 0 (or
  // less) makes a one-shot timer. leewaySeconds is a hint and may be ignored.
  virtual void schedule(double startSeconds, double intervalSeconds, double leewaySeconds = 0) = 0;
  virtual void resume() = 0;
  virtual void suspend() = 0;
  // After cancel the handler never runs again; the cancel handler runs once on the queue.
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};

}  // namespace platform::dispatch
