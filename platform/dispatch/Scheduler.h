#pragma once

#include <memory>
#include <string>

#include "platform/core/Clock.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/TimerSource.h"

namespace velmora::platform::dispatch {

enum class QoS { Background, Utility, Default, UserInitiated, UserInteractive };

// Everything in the SDK that waits, repeats or hops threads goes through a Scheduler.
// ThreadScheduler runs on real threads; VirtualScheduler runs every queue on the test's
// thread against a manual clock.
class Scheduler {
 public:
  virtual ~Scheduler() = default;

  virtual std::shared_ptr<Clock> clock() const = 0;

  virtual std::shared_ptr<Queue> makeSerialQueue(std::string label) = 0;
  virtual std::shared_ptr<Queue> makeConcurrentQueue(std::string label) = 0;
  virtual std::shared_ptr<Queue> mainQueue() = 0;
  virtual std::shared_ptr<Queue> globalQueue(QoS qos = QoS::Default) = 0;

  virtual std::shared_ptr<Group> makeGroup() = 0;
  virtual std::shared_ptr<Semaphore> makeSemaphore(long initialValue = 0) = 0;
  virtual std::shared_ptr<TimerSource> makeTimer(std::shared_ptr<Queue> queue,
                                                 TimerClock clock = TimerClock::Monotonic) = 0;

  // Marks work that runs outside the scheduler's queues (a transfer on an I/O thread) and
  // will post its result onto one of them; keep the token until that post has been made.
  // While any token lives, a blocking wait under the VirtualScheduler does not move virtual
  // time to the next timer or to its own time-out: it waits for the real post instead, so a
  // time-out timer cannot overtake a reply that is on its way. The ThreadScheduler has
  // nothing to do and returns a token all the same.
  virtual std::shared_ptr<void> beginExternalWork();

  // The process-wide scheduler the SDK uses: a ThreadScheduler unless one was installed.
  // The default one is made on first use and lives for the rest of the process.
  static std::shared_ptr<Scheduler> shared();
  // Installs a scheduler (a test's VirtualScheduler); nullptr restores the default.
  static void setShared(std::shared_ptr<Scheduler> scheduler);
};

}  // namespace velmora::platform::dispatch
