#include "platform/dispatch/ThreadScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/Log.h"

namespace velmora::platform::dispatch {
namespace {

// Runs step until done() holds; false once `bound` of real time passed without it. For
// conditions that nothing signals (a thread count, a clock that only the test moves).
template <class Done, class Step>
bool spinUntil(Done done, Step step, std::chrono::seconds bound = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    step();
  }
  return true;
}

// A count that tests wait on (never on time).
class Counter {
 public:
  void add() {
    std::lock_guard lock(mutex_);
    ++value_;
    changed_.notify_all();
  }
  // Bounded so that a count that never comes fails the test instead of hanging it.
  [[nodiscard]] bool waitFor(int n, std::chrono::seconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return value_ >= n; });
  }
  int value() {
    std::lock_guard lock(mutex_);
    return value_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int value_ = 0;
};

TEST(ThreadSchedulerTest, SerialQueueKeepsFifoOrderOfEachPostingThread) {
  struct Case {
    const char* name;
    int syncEvery;  // 0: async only
  };
  for (const Case& c : {Case{"async only", 0}, Case{"every seventh a sync", 7}}) {
    SCOPED_TRACE(c.name);
    ThreadScheduler s;
    auto q = s.makeSerialQueue("fifo");
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2500;
    std::vector<std::pair<int, int>> seen;  // touched only on the queue
    int running = 0;
    bool overlapped = false;

    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
      posters.emplace_back([&, t] {
        for (int i = 0; i < kPerThread; ++i) {
          auto item = [&, t, i] {
            overlapped |= ++running != 1;
            seen.emplace_back(t, i);
            --running;
          };
          if (c.syncEvery > 0 && i % c.syncEvery == 0) {
            q->sync(item);
          } else {
            q->async(item);
          }
        }
      });
    }
    for (auto& p : posters) p.join();
    std::size_t total = 0;
    q->sync([&] { total = seen.size(); });

    ASSERT_EQ(total, static_cast<std::size_t>(kThreads * kPerThread));
    EXPECT_FALSE(overlapped);
    std::vector<int> next(kThreads, 0);
    for (const auto& [t, i] : seen) {
      ASSERT_EQ(i, next[static_cast<std::size_t>(t)]) << "thread " << t;
      ++next[static_cast<std::size_t>(t)];
    }
  }
}

TEST(ThreadSchedulerTest, ReleasedSerialQueueStillRunsWhatItWasGiven) {
  ThreadScheduler s;
  auto done = s.makeSemaphore();
  auto count = std::make_shared<int>(0);  // touched only on the queue
  {
    auto q = s.makeSerialQueue("released");
    for (int i = 0; i < 100; ++i) q->async([count] { ++*count; });
    q->async([count, done] {
      if (*count == 100) done->signal();
    });
  }
  EXPECT_TRUE(done->wait());
}

TEST(ThreadSchedulerTest, BarrierRunsAloneBetweenEarlierAndLaterItems) {
  ThreadScheduler s;
  auto q = s.makeConcurrentQueue("barrier");
  auto group = s.makeGroup();
  constexpr int kEach = 8;
  std::mutex mutex;
  std::condition_variable cv;
  int earlierStarted = 0;
  std::atomic<int> running{0};
  std::atomic<int> earlierDone{0};
  std::atomic<int> laterStarted{0};
  std::atomic<bool> barrierDone{false};
  std::atomic<bool> barrierSawOthers{false};
  std::atomic<bool> laterTooEarly{false};

  for (int i = 0; i < kEach; ++i) {
    group->async(q, [&] {
      ++running;
      {
        // The earlier items run side by side: each waits until all have started.
        std::unique_lock lock(mutex);
        ++earlierStarted;
        cv.notify_all();
        cv.wait(lock, [&] { return earlierStarted == kEach; });
      }
      ++earlierDone;
      --running;
    });
  }
  q->barrierAsync([&] {
    barrierSawOthers = running.load() != 0 || earlierDone.load() != kEach || laterStarted.load() != 0;
    barrierDone = true;
  });
  for (int i = 0; i < kEach; ++i) {
    group->async(q, [&] {
      ++laterStarted;
      if (!barrierDone.load()) laterTooEarly = true;
    });
  }
  EXPECT_TRUE(group->wait());
  q->barrierSync([] {});
  EXPECT_TRUE(barrierDone);
  EXPECT_FALSE(barrierSawOthers);
  EXPECT_FALSE(laterTooEarly);
  EXPECT_EQ(laterStarted, kEach);
}

TEST(ThreadSchedulerTest, BlockedPoolWorkersDoNotStarveLaterWork) {
  ThreadScheduler s;
  auto q = s.makeConcurrentQueue("blocking");
  auto release = s.makeSemaphore();
  auto group = s.makeGroup();
  constexpr int kBlocked = 24;  // more than this machine's cores
  for (int i = 0; i < kBlocked; ++i) group->async(q, [&] { release->wait(); });
  // Only an item queued behind all the blocked ones can release them.
  group->async(s.globalQueue(QoS::Utility), [&] {
    for (int i = 0; i < kBlocked; ++i) release->signal();
  });
  EXPECT_TRUE(group->wait());
  EXPECT_GE(s.poolThreadCount(), static_cast<std::size_t>(kBlocked + 1));
}

TEST(ThreadSchedulerTest, IdlePoolWorkersEnd) {
  ThreadScheduler::Options options;
  options.idleThreadTimeout = std::chrono::milliseconds(1);
  ThreadScheduler s(options);
  auto group = s.makeGroup();
  // Counted from inside the work: once it is done, a 1 ms idle timeout may already have ended
  // every worker.
  std::atomic<std::size_t> whileRunning{0};
  for (int i = 0; i < 8; ++i) {
    group->async(s.globalQueue(), [&] { whileRunning = std::max(whileRunning.load(), s.poolThreadCount()); });
  }
  EXPECT_TRUE(group->wait());
  EXPECT_GE(whileRunning.load(), 1u);
  ASSERT_TRUE(spinUntil([&] { return s.poolThreadCount() == 0; }, [] { std::this_thread::yield(); }))
      << s.poolThreadCount() << " idle pool workers did not end";
  // And the pool grows again on demand.
  group->async(s.globalQueue(), [] {});
  EXPECT_TRUE(group->wait());
}

TEST(ThreadSchedulerTest, SyncRunsOnTheCallerWithBothQueuesCurrent) {
  ThreadScheduler s;
  auto a = s.makeSerialQueue("a");
  auto b = s.makeSerialQueue("b");
  auto c = s.makeConcurrentQueue("c");
  bool aInB = false, bInB = false, cInC = false, aInC = false;
  std::thread::id outer, inner;
  a->sync([&] {
    outer = std::this_thread::get_id();
    b->sync([&] {
      inner = std::this_thread::get_id();
      aInB = a->isCurrent();
      bInB = b->isCurrent();
      c->sync([&] {
        cInC = c->isCurrent();
        aInC = a->isCurrent();
      });
    });
  });
  EXPECT_EQ(outer, std::this_thread::get_id());
  EXPECT_EQ(inner, outer);
  EXPECT_TRUE(aInB && bInB && cInC && aInC);
  EXPECT_FALSE(a->isCurrent());
}

TEST(ThreadSchedulerTest, SyncWaitsForItemsSubmittedBeforeIt) {
  ThreadScheduler s;
  auto q = s.makeSerialQueue("q");
  auto gate = s.makeSemaphore();
  std::vector<int> log;  // touched only on q
  q->async([&] {
    gate->wait();
    log.push_back(1);
  });
  q->async([&] { log.push_back(2); });
  gate->signal();
  q->sync([&] { log.push_back(3); });
  q->async([&] { log.push_back(4); });
  q->sync([] {});
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4}));
}

TEST(ThreadSchedulerTest, GroupAndSemaphoreWaitsHonourTimeOuts) {
  ThreadScheduler s;
  auto group = s.makeGroup();
  auto q = s.makeConcurrentQueue("q");
  EXPECT_TRUE(group->wait(0.0)) << "an empty group is drained";
  group->enter();
  EXPECT_FALSE(group->wait(0.01));
  Counter notified;
  group->notify(q, [&] { notified.add(); });
  std::thread leaver([&] { group->leave(); });
  EXPECT_TRUE(group->wait());
  leaver.join();
  ASSERT_TRUE(notified.waitFor(1));

  auto sem = s.makeSemaphore(1);
  EXPECT_TRUE(sem->wait(0.0));
  EXPECT_FALSE(sem->wait(0.01));
  q->async([&] { sem->signal(); });
  EXPECT_TRUE(sem->wait());
}

TEST(ThreadSchedulerTest, WaitTimeOutFollowsAnInjectedClock) {
  auto clock = std::make_shared<ManualClock>();
  ThreadScheduler s(clock);
  auto group = s.makeGroup();
  group->enter();
  std::atomic<bool> finished{false};
  bool drained = true;
  std::thread waiter([&] {
    drained = group->wait(5.0);
    finished = true;
  });
  // The wait's deadline is 5 s after whenever it started; keep moving the clock until it ends.
  const bool ended = spinUntil([&] { return finished.load(); }, [&] {
    clock->advance(1.0);
    std::this_thread::yield();
  });
  EXPECT_TRUE(ended) << "the wait did not follow the injected clock";
  if (!ended) group->leave();  // lets the waiter go, so the test fails instead of hanging
  waiter.join();
  EXPECT_FALSE(drained);
  if (ended) group->leave();
}

// Without clockChanged(): the timer thread re-reads the wall clock on its own.
TEST(ThreadSchedulerTest, WallTimerFiresWhenOnlyWallTimeJumpsUnannounced) {
  auto clock = std::make_shared<ManualClock>(Date::fromUnixSeconds(1'700'000'000));
  ThreadScheduler s(clock);
  auto q = s.makeSerialQueue("timers");
  Counter wallFired;
  std::atomic<int> monotonicFired{0};
  auto wall = s.makeTimer(q, TimerClock::Wall);
  wall->setEventHandler([&] { wallFired.add(); });
  wall->schedule(3600, 0);
  wall->resume();
  auto monotonic = s.makeTimer(q, TimerClock::Monotonic);
  monotonic->setEventHandler([&] { ++monotonicFired; });
  monotonic->schedule(3600, 0);
  monotonic->resume();

  // No clockChanged(): the timer thread notices the jump by itself.
  clock->setNow(Date::fromUnixSeconds(1'700'000'000 + 7200));
  ASSERT_TRUE(wallFired.waitFor(1));
  EXPECT_EQ(monotonicFired, 0) << "uptime did not move";
}

TEST(ThreadSchedulerTest, TimerOnTheSystemClockFires) {
  ThreadScheduler s;
  auto done = s.makeSemaphore();
  auto timer = s.makeTimer(s.globalQueue());
  timer->setEventHandler([&] { done->signal(); });
  timer->schedule(0.001, 0);
  timer->resume();
  EXPECT_TRUE(done->wait());
}

TEST(ThreadSchedulerTest, MainQueueRunsOnItsOwnThreadByDefault) {
  ThreadScheduler s;
  auto main = s.mainQueue();
  EXPECT_EQ(main->kind(), QueueKind::Serial);
  auto done = s.makeSemaphore();
  std::atomic<bool> current{false};
  std::thread::id ranOn;
  main->async([&] {
    current = main->isCurrent();
    ranOn = std::this_thread::get_id();
    done->signal();
  });
  EXPECT_TRUE(done->wait());
  EXPECT_TRUE(current);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  LogCapture capture;
  EXPECT_EQ(s.drainMainQueue(), 0u);
  EXPECT_EQ(capture.count("drainMainQueue"), 1u);
}

TEST(ThreadSchedulerTest, HostDrainedMainQueueRunsOnTheHostThread) {
  std::atomic<int> wakeups{0};
  ThreadScheduler::Options options;
  options.hostDrainsMainQueue = true;
  options.mainQueueWakeup = [&] { ++wakeups; };
  ThreadScheduler s(options);
  auto main = s.mainQueue();
  std::vector<int> log;
  bool current = false;
  main->async([&] { log.push_back(1); });
  main->async([&] {
    log.push_back(2);
    current = main->isCurrent();
    main->async([&] { log.push_back(3); });  // waits for the next drain
  });
  EXPECT_GE(wakeups, 1);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(s.drainMainQueue(), 2u);
  EXPECT_EQ(log, (std::vector<int>{1, 2}));
  EXPECT_TRUE(current);
  EXPECT_EQ(s.drainMainQueue(), 1u);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));

  // A sync from another thread takes its turn in the host's drain.
  main->async([&] { log.push_back(4); });
  std::atomic<bool> synced{false};
  std::thread other([&] {
    main->sync([&] { log.push_back(5); });
    synced = true;
  });
  const bool ran = spinUntil([&] { return synced.load(); }, [&] { s.drainMainQueue(); });
  ASSERT_TRUE(ran) << "a sync onto the host-drained main queue never ran";
  other.join();
  EXPECT_EQ(log, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(ThreadSchedulerTest, DestructionJoinsThreadsAndDropsWorkNotStarted) {
  auto blocker = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<Queue> survivor;
  {
    ThreadScheduler s;
    auto serial = s.makeSerialQueue("serial");
    auto concurrent = s.makeConcurrentQueue("concurrent");
    auto started = s.makeSemaphore();
    auto gate = s.makeSemaphore();
    serial->async([started, gate] {
      started->signal();
      gate->wait();
    });
    for (int i = 0; i < 100; ++i) {
      serial->async([blocker] { ++*blocker; });
      concurrent->async([blocker] { ++*blocker; });
    }
    auto timer = s.makeTimer(serial);
    timer->setEventHandler([timer] {});  // a cycle only cancel breaks
    timer->schedule(100, 1);
    timer->resume();
    EXPECT_TRUE(started->wait());
    gate->signal();
    survivor = serial;
  }
  // The queue outlives its scheduler; work posted now is dropped.
  survivor->async([blocker] { ++*blocker; });
  survivor->sync([] {});
  EXPECT_LE(blocker->load(), 200);
}

}  // namespace
}  // namespace velmora::platform::dispatch
