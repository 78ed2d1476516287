#include "beacons/foundation/KSGCDTimer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::dispatch::VirtualScheduler;

class KSGCDTimerTest : public ::testing::Test {
 protected:
  KSGCDTimerTest() : scheduler(std::make_shared<VirtualScheduler>()) {
    platform::dispatch::Scheduler::setShared(scheduler);
    queue = scheduler->makeSerialQueue("timer");
  }
  ~KSGCDTimerTest() override { platform::dispatch::Scheduler::setShared(nullptr); }

  double uptime() const { return static_cast<double>(scheduler->manualClock()->uptime().count()) / 1e6; }

  std::shared_ptr<VirtualScheduler> scheduler;
  std::shared_ptr<platform::dispatch::Queue> queue;
};

TEST_F(KSGCDTimerTest, OneShotFiresOnceOnItsQueueAndIsInvalidInsideItsBlock) {
  auto timer = KSGCDTimer::timerOnQueue(queue, 0, "tick");
  std::vector<double> firedAt;
  std::vector<bool> validInside, onQueue;
  timer->scheduleBlock(
      [&] {
        firedAt.push_back(uptime());
        validInside.push_back(timer->isValid());
        onQueue.push_back(queue->isCurrent());
      },
      1.5);
  EXPECT_TRUE(timer->isValid());
  scheduler->advanceBy(5);
  EXPECT_EQ(firedAt, (std::vector<double>{1.5}));
  EXPECT_EQ(validInside, (std::vector<bool>{false}));
  EXPECT_EQ(onQueue, (std::vector<bool>{true}));
  EXPECT_FALSE(timer->isValid());
}

TEST_F(KSGCDTimerTest, AOneShotBlockMayScheduleItsOwnTimerAgain) {
  auto timer = KSGCDTimer::timerOnQueue(queue);
  int fired = 0;
  std::function<void()> tick = [&] {
    if (++fired < 3) timer->scheduleBlock(tick, 1.0);
  };
  timer->scheduleBlock(tick, 1.0);
  scheduler->advanceBy(10);
  EXPECT_EQ(fired, 3);
}

TEST_F(KSGCDTimerTest, SchedulingWhileValidThrowsAndLeavesTheRunningScheduleAlone) {
  struct Case {
    std::optional<std::string> name;
    bool repeat;
  };
  for (const auto& c : {Case{"ranger", true}, Case{std::nullopt, false}}) {
    auto timer = KSGCDTimer::timerOnQueue(queue, 0, c.name);
    int first = 0, second = 0;
    timer->scheduleBlock([&] { ++first; }, 1.0, c.repeat);
    try {
      timer->scheduleBlock([&] { ++second; }, 0.5);
      ADD_FAILURE() << "no exception";
    } catch (const KSGCDTimerException& e) {
      EXPECT_EQ(e.name(), "GCDTimerException");
      EXPECT_EQ(e.reason(), "Attempt to schedule block while timer is valid.");
      if (c.name) {
        EXPECT_EQ(e.userInfo().at("GCDTimerNameKey"), platform::Value(*c.name));
      } else {
        EXPECT_TRUE(e.userInfo().empty()) << "no name, no key";
      }
    }
    scheduler->advanceBy(3);
    EXPECT_EQ(first, c.repeat ? 3 : 1);
    EXPECT_EQ(second, 0);
    timer->invalidate();
  }
}

TEST_F(KSGCDTimerTest, RepeatingQuarterSecondFiresFourTimesASecondAndNeverAfterInvalidate) {
  auto timer = KSGCDTimer::timerOnQueue(queue, 0, std::nullopt);
  std::vector<double> firedAt;
  timer->scheduleBlock([&] { firedAt.push_back(uptime()); }, 0.25, true);
  scheduler->advanceBy(1.0);
  EXPECT_EQ(firedAt, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
  EXPECT_TRUE(timer->isValid());
  timer->invalidate();
  timer->invalidate();  // harmless
  EXPECT_FALSE(timer->isValid());
  scheduler->advanceBy(5.0);
  EXPECT_EQ(firedAt.size(), 4u);
}

TEST_F(KSGCDTimerTest, InvalidateFromInsideARepeatingBlockStopsIt) {
  auto timer = KSGCDTimer::timerOnQueue(queue, 0, std::nullopt);
  int fired = 0;
  timer->scheduleBlock([&] { if (++fired == 2) timer->invalidate(); }, 1.0, true);
  scheduler->advanceBy(10);
  EXPECT_EQ(fired, 2);
}

TEST_F(KSGCDTimerTest, ADestroyedTimerNeverFires) {
  int fired = 0;
  for (bool repeat : {false, true}) {
    auto timer = KSGCDTimer::timerOnQueue(queue);
    timer->scheduleBlock([&] { ++fired; }, 1.0, repeat);
    timer.reset();
  }
  scheduler->advanceBy(10);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(scheduler->nextTimerDelay(), std::nullopt);
}

TEST_F(KSGCDTimerTest, LeewayOfOneSecondOrMoreFollowsTheWallClock) {
  struct Case {
    std::uint64_t leeway;
    bool firesOnWallJump;
  };
  for (const auto& c : {Case{999'999'999, false}, Case{1'000'000'000, true}, Case{5'000'000'000, true},
                        Case{KSGCDTimerDefaultLeeway, false}}) {
    auto timer = KSGCDTimer::timerOnQueue(queue, c.leeway, "t");
    int fired = 0;
    timer->scheduleBlock([&] { ++fired; }, 60);
    scheduler->setWallTime(scheduler->manualClock()->now().addingTimeInterval(120));
    EXPECT_EQ(fired, c.firesOnWallJump ? 1 : 0) << c.leeway;
    timer->invalidate();
  }
}

TEST_F(KSGCDTimerTest, NegativeAndNaNIntervalsCountAsZero) {
  for (double interval : {-3.0, std::nan(""), 0.0}) {
    auto timer = KSGCDTimer::timerOnQueue(queue, 0, std::nullopt);
    std::vector<double> firedAt;
    const double start = uptime();
    timer->scheduleBlock([&] { firedAt.push_back(uptime() - start); }, interval);
    scheduler->runUntilIdle();
    EXPECT_EQ(firedAt, (std::vector<double>{0.0})) << interval;
  }
}

TEST_F(KSGCDTimerTest, MainQueueFactoriesUseTheMainQueueAndTheDefaultLeeway) {
  auto timer = KSGCDTimer::timerOnMainQueue("main");
  EXPECT_EQ(timer->leeway(), 100'000'000u);
  EXPECT_EQ(timer->name(), "main");
  EXPECT_EQ(KSGCDTimer::timerOnMainQueue()->name(), std::nullopt);
  bool onMain = false;
  timer->scheduleBlock([&] { onMain = scheduler->mainQueue()->isCurrent(); }, 0.1);
  scheduler->advanceBy(1);
  EXPECT_TRUE(onMain);
}

TEST_F(KSGCDTimerTest, AnInvalidatedTimerCanBeScheduledAgain) {
  auto timer = KSGCDTimer::timerOnQueue(queue);
  int fired = 0;
  timer->scheduleBlock([&] { ++fired; }, 1.0);
  timer->invalidate();
  timer->scheduleBlock([&] { fired += 10; }, 1.0);
  scheduler->advanceBy(2);
  EXPECT_EQ(fired, 10);
}

}  // namespace
}  // namespace velmora::kestrine
