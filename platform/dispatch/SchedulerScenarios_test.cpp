// Scenarios that both schedulers must play out the same way, run once over each: the
// ThreadScheduler on a manual clock (its timer thread and queue threads are real), the
// VirtualScheduler on its own.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::platform::dispatch {
namespace {

constexpr std::int64_t kStartWall = 1'700'000'000;

class VirtualRig {
 public:
  Scheduler& scheduler() { return s_; }
  double uptime() const { return static_cast<double>(s_.manualClock()->uptime().count()) / 1e6; }
  // Moves time forward, firing the timers due on the way and running what they post.
  void step(double seconds) { s_.advanceBy(seconds); }
  // Moves time forward at once, as if the process had been frozen meanwhile.
  void jump(double seconds) {
    s_.manualClock()->advance(seconds);
    s_.runUntilIdle();
  }
  void setWallTime(Date wall) { s_.setWallTime(wall); }
  // Returns once everything posted to the queue so far, timer deliveries included, has run.
  void settle(const std::shared_ptr<Queue>&) { s_.runUntilIdle(); }

 private:
  VirtualScheduler s_{Date::fromUnixSeconds(kStartWall)};
};

class ThreadRig {
 public:
  Scheduler& scheduler() { return s_; }
  double uptime() const { return static_cast<double>(clock_->uptime().count()) / 1e6; }
  void step(double seconds) {
    clock_->advance(seconds);
    s_.clockChanged();
  }
  void jump(double seconds) { step(seconds); }
  void setWallTime(Date wall) {
    clock_->setNow(wall);
    s_.clockChanged();
  }
  void settle(const std::shared_ptr<Queue>& queue) {
    if (queue->kind() == QueueKind::Concurrent) {
      queue->barrierSync([] {});
      return;
    }
    // A wall timer due now goes after every timer already due (monotonic ones are taken
    // first, wall ones in deadline order, equal deadlines in arming order), and its delivery
    // goes to the same serial queue behind theirs.
    struct Flag {
      std::mutex mutex;
      std::condition_variable cv;
      bool fired = false;
    };
    auto flag = std::make_shared<Flag>();
    auto sentinel = s_.makeTimer(queue, TimerClock::Wall);
    sentinel->setEventHandler([flag] {
      std::lock_guard lock(flag->mutex);
      flag->fired = true;
      flag->cv.notify_all();
    });
    sentinel->schedule(0, 0);
    sentinel->resume();
    std::unique_lock lock(flag->mutex);
    ASSERT_TRUE(flag->cv.wait_for(lock, std::chrono::seconds(20), [&] { return flag->fired; }))
        << "the timer thread never delivered a timer that was due";
    lock.unlock();
    sentinel->cancel();
  }

 private:
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>(Date::fromUnixSeconds(kStartWall));
  ThreadScheduler s_{clock_};
};

template <class Rig>
class SchedulerScenarios : public ::testing::Test {
 protected:
  Rig rig;
  Scheduler& s() { return rig.scheduler(); }
};

using Rigs = ::testing::Types<VirtualRig, ThreadRig>;
class RigNames {
 public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, VirtualRig> ? "Virtual" : "Thread";
  }
};
TYPED_TEST_SUITE(SchedulerScenarios, Rigs, RigNames);

TYPED_TEST(SchedulerScenarios, RepeatingQuarterSecondTimerFiresFourTimesPerSecondAndNeverAfterCancel) {
  auto& rig = this->rig;
  auto q = this->s().makeSerialQueue("timer");
  auto timer = this->s().makeTimer(q);
  std::vector<double> firedAt;  // touched on q only
  int cancelHandlerRuns = 0;
  timer->setEventHandler([&] { firedAt.push_back(rig.uptime()); });
  timer->setCancelHandler([&] { ++cancelHandlerRuns; });
  timer->schedule(0.25, 0.25);
  for (int i = 0; i < 4; ++i) rig.step(0.25);
  rig.settle(q);
  EXPECT_TRUE(firedAt.empty()) << "a timer is made suspended";

  timer->schedule(0.25, 0.25);  // from now
  timer->resume();
  for (int i = 0; i < 4; ++i) {
    rig.step(0.25);
    rig.settle(q);
  }
  EXPECT_EQ(firedAt, (std::vector<double>{1.25, 1.5, 1.75, 2.0}));

  timer->cancel();
  EXPECT_TRUE(timer->isCancelled());
  for (int i = 0; i < 8; ++i) rig.step(0.25);
  rig.settle(q);
  EXPECT_EQ(firedAt.size(), 4u);
  EXPECT_EQ(cancelHandlerRuns, 1);
}

TYPED_TEST(SchedulerScenarios, RepeatingTimerThatFallsBehindFiresOnceAndKeepsItsPhase) {
  auto& rig = this->rig;
  auto q = this->s().makeSerialQueue("timer");
  auto timer = this->s().makeTimer(q);
  std::vector<double> firedAt;
  timer->setEventHandler([&] { firedAt.push_back(rig.uptime()); });
  timer->schedule(1.0, 1.0);
  timer->resume();
  rig.jump(10.5);  // ten deadlines missed at once
  rig.settle(q);
  EXPECT_EQ(firedAt, (std::vector<double>{10.5}));
  rig.step(0.25);
  rig.settle(q);
  EXPECT_EQ(firedAt.size(), 1u) << "the next deadline stays on the grid: 11 s";
  rig.step(0.25);
  rig.settle(q);
  EXPECT_EQ(firedAt, (std::vector<double>{10.5, 11.0}));
}

TYPED_TEST(SchedulerScenarios, WallTimerFiresWhenOnlyWallTimeJumps) {
  auto& rig = this->rig;
  auto q = this->s().makeSerialQueue("timers");
  int wallFired = 0;
  int monotonicFired = 0;
  auto wall = this->s().makeTimer(q, TimerClock::Wall);
  wall->setEventHandler([&] { ++wallFired; });
  wall->schedule(3600, 0);
  wall->resume();
  auto monotonic = this->s().makeTimer(q, TimerClock::Monotonic);
  monotonic->setEventHandler([&] { ++monotonicFired; });
  monotonic->schedule(3600, 0);
  monotonic->resume();

  rig.setWallTime(Date::fromUnixSeconds(kStartWall + 7200));
  rig.settle(q);
  EXPECT_EQ(wallFired, 1);
  EXPECT_EQ(monotonicFired, 0);
  EXPECT_EQ(rig.uptime(), 0.0);

  rig.jump(3600);
  rig.settle(q);
  EXPECT_EQ(wallFired, 1);
  EXPECT_EQ(monotonicFired, 1);
}

TYPED_TEST(SchedulerScenarios, SyncOntoTheCurrentSerialQueueIsReportedAndRunsInline) {
  struct Case {
    const char* name;
    bool indirect;
  };
  for (const Case& c : {Case{"direct", false}, Case{"through another queue", true}}) {
    SCOPED_TRACE(c.name);
    auto a = this->s().makeSerialQueue("queue.a");
    auto b = this->s().makeSerialQueue("queue.b");
    LogCapture capture;
    const auto errorsBefore = programmingErrorCount();
    bool ran = false;
    a->async([&] {
      if (c.indirect) {
        b->sync([&] { a->sync([&] { ran = a->isCurrent() && b->isCurrent(); }); });
      } else {
        a->sync([&] { ran = a->isCurrent(); });
      }
    });
    this->rig.settle(a);
    EXPECT_TRUE(ran);
    EXPECT_EQ(programmingErrorCount(), errorsBefore + 1);
    EXPECT_EQ(capture.count("sync onto queue 'queue.a'"), 1u);
  }
}

TYPED_TEST(SchedulerScenarios, SyncOntoConcurrentQueueFromItsOwnItem) {
  auto q = this->s().makeConcurrentQueue("c");
  LogCapture capture;
  const auto errorsBefore = programmingErrorCount();
  std::atomic<int> reads{0};
  q->async([&] { q->sync([&] { ++reads; }); });  // a read inside a read: fine
  this->rig.settle(q);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(programmingErrorCount(), errorsBefore);

  q->async([&] { q->barrierSync([&] { ++reads; }); });  // waits for itself
  q->barrierAsync([&] { q->sync([&] { ++reads; }); });  // waits for the barrier around it
  this->rig.settle(q);
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(programmingErrorCount(), errorsBefore + 2);
}

}  // namespace
}  // namespace velmora::platform::dispatch
