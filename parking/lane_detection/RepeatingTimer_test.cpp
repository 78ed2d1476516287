#include "parking/lane_detection/RepeatingTimer.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"

namespace velmora {
namespace {

class RepeatingTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::dispatch::Scheduler::setShared(scheduler); }
  void TearDown() override {
    scheduler->runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  double now() const { return scheduler->manualClock()->now().timeIntervalSinceReferenceDate(); }
  std::function<void()> recordTicks() {
    return [this] { ticks.push_back(now()); };
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::vector<double> ticks;
};

TEST_F(RepeatingTimerTest, FirstTickComesOneIntervalAfterTheSourceIsMadeAtResume) {
  auto timer = RepeatingTimer::create(5);
  timer->setEventHandler(recordTicks());
  scheduler->advanceBy(2);
  timer->resume();
  timer->resume();  // a second resume changes nothing
  scheduler->advanceBy(16);
  EXPECT_EQ(ticks, (std::vector<double>{7, 12, 17}));
}

TEST_F(RepeatingTimerTest, TicksOnTheGivenQueue) {
  auto queue = scheduler->makeSerialQueue("ticks");
  auto timer = RepeatingTimer::create(5, queue);
  bool onQueue = false;
  timer->setEventHandler([&] { onQueue = queue->isCurrent(); });
  timer->resume();
  scheduler->advanceBy(5);
  EXPECT_TRUE(onQueue);
}

TEST_F(RepeatingTimerTest, WithoutAHandlerTicksSilentlyUntilOneIsSet) {
  auto timer = RepeatingTimer::create(5);
  timer->resume();
  scheduler->advanceBy(10);
  timer->setEventHandler(recordTicks());
  scheduler->advanceBy(5);
  EXPECT_EQ(ticks, (std::vector<double>{15}));
}

TEST_F(RepeatingTimerTest, ATimerNeverResumedIsReleasedWithoutCallingItsHandler) {
  auto timer = RepeatingTimer::create(5);
  timer->setEventHandler(recordTicks());
  timer.reset();
  scheduler->advanceBy(20);
  EXPECT_TRUE(ticks.empty());
}

TEST_F(RepeatingTimerTest, ReleasingStopsTheTicksAndAQueuedTickCallsNothing) {
  auto queue = scheduler->makeSerialQueue("ticks");
  auto timer = RepeatingTimer::create(5, queue);
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> capturedWeak = captured;
  timer->setEventHandler([this, captured] { ticks.push_back(now()); });
  captured.reset();
  timer->resume();
  // An item of the timer's queue spans t = 0 … 6: the tick at 5 waits behind it, and the
  // timer is released before the tick gets its turn.
  queue->async([&] {
    auto group = scheduler->makeGroup();
    group->enter();
    EXPECT_FALSE(group->wait(6));
    timer.reset();
  });
  scheduler->runUntilIdle();
  scheduler->advanceBy(20);
  EXPECT_TRUE(ticks.empty());
  EXPECT_TRUE(capturedWeak.expired());  // the closure and its captures are gone
}

}  // namespace
}  // namespace velmora
