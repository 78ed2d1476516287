#pragma once

#include "platform/dispatch/Queue.h"

namespace velmora::platform::dispatch {

// Which time a timer follows. Monotonic timers count uptime and ignore clock changes;
// wall timers fire when wall time reaches their deadline, also when it jumps there.
enum class TimerClock { Monotonic, Wall };

// A timer source: fires its handler on its queue. Made suspended; resume() starts it.
// A repeating timer that falls behind fires once, not once per missed interval, and keeps
// the phase of its schedule. While a firing waits on the queue, further firings merge into
// it. Dropping the last reference to a timer cancels it.
class TimerSource {
 public:
  virtual ~TimerSource() = default;

  virtual void setEventHandler(Work handler) = 0;
  virtual void setCancelHandler(Work handler) = 0;
  // First fire startSeconds from now, then every intervalSeconds; an interval of 0 (or
  // less) makes a one-shot timer. leewaySeconds is a hint and may be ignored. Scheduling
  // again replaces the schedule. The start counts from the call, also on a suspended timer:
  // one resumed after its start fires at once.
  virtual void schedule(double startSeconds, double intervalSeconds, double leewaySeconds = 0) = 0;
  // suspend() and resume() nest like a count; the timer runs while every suspend (and the
  // one it was made with) has been resumed. A firing that comes while suspended is delivered
  // once on resume. A resume without a matching suspend is reported as a programming error.
  virtual void resume() = 0;
  virtual void suspend() = 0;
  // After cancel the handler never runs again (a call already running finishes); the cancel
  // handler runs once on the queue. Both handlers are released, which breaks the cycles they
  // often close with whoever owns the timer.
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};

}  // namespace velmora::platform::dispatch
