#pragma once

#include <memory>
#include <string>

#include "platform/core/Clock.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Semaphore.h"
#include "platform/dispatch/TimerSource.h"

namespace platform::dispatch {

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

  // The process-wide scheduler the SDK uses: a ThreadScheduler unless one was installed.
  static std::shared_ptr<Scheduler> shared();
  // Installs a scheduler (a test's VirtualScheduler); nullptr restores the default.
  static void setShared(std::shared_ptr<Scheduler> scheduler);
};

}  // namespace platform::dispatch
