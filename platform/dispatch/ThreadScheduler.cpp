#include "platform/dispatch/ThreadScheduler.h"

#include <array>
#include <mutex>
#include <vector>

#include "platform/core/Log.h"
#include "platform/dispatch/ClockWaiter.h"
#include "platform/dispatch/CountingGroup.h"
#include "platform/dispatch/ThreadConcurrentQueue.h"
#include "platform/dispatch/ThreadHost.h"
#include "platform/dispatch/ThreadPool.h"
#include "platform/dispatch/ThreadSerialQueue.h"
#include "platform/dispatch/TimerCore.h"
#include "platform/dispatch/TimerThread.h"

namespace velmora::platform::dispatch {
namespace {

class ThreadGroup final : public CountingGroup {
 public:
  explicit ThreadGroup(ClockWaiter waiter) : waiter_(std::move(waiter)) {}

  bool wait(std::optional<double> timeoutSeconds) override {
    std::unique_lock lock(mutex_);
    return waiter_.waitFor(lock, drained_, timeoutSeconds, [this] { return emptyLocked(); });
  }

 private:
  ClockWaiter waiter_;
};

class ThreadSemaphore final : public Semaphore {
 public:
  ThreadSemaphore(ClockWaiter waiter, long initialValue) : waiter_(std::move(waiter)), count_(initialValue) {}

  void signal() override {
    std::lock_guard lock(mutex_);
    ++count_;
    available_.notify_one();
  }

  bool wait(std::optional<double> timeoutSeconds) override {
    std::unique_lock lock(mutex_);
    if (!waiter_.waitFor(lock, available_, timeoutSeconds, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
  }

 private:
  ClockWaiter waiter_;
  std::mutex mutex_;
  std::condition_variable available_;
  long count_;
};

constexpr std::array<const char*, 5> kGlobalLabels = {"global.background", "global.utility", "global.default",
                                                      "global.user-initiated", "global.user-interactive"};

}  // namespace

struct ThreadScheduler::Core {
  explicit Core(Options o)
      : options(std::move(o)),
        clock(options.clock ? options.clock : Clock::system()),
        waiter(clock, options.injectedClockPollInterval),
        host(std::make_shared<ThreadHost>()),
        pool(std::make_shared<ThreadPool>(host, options.maxPoolThreads, options.idleThreadTimeout)),
        timers(std::make_shared<TimerThread>(clock, host, options.wallPollInterval,
                                             options.injectedClockPollInterval)) {
    mainCore = std::make_shared<ThreadSerialQueue>("main", host, options.idleThreadTimeout,
                                                   options.hostDrainsMainQueue, options.mainQueueWakeup);
    main = std::make_shared<ThreadSerialQueueHandle>(mainCore);
    track(mainCore);
    for (std::size_t i = 0; i < globals.size(); ++i) {
      globals[i] = std::make_shared<ThreadConcurrentQueue>(kGlobalLabels[i], pool, true);
      track(globals[i]);
    }
  }

  void track(const std::shared_ptr<ThreadQueueCore>& queue) {
    std::lock_guard lock(mutex);
    std::erase_if(queues, [](const std::weak_ptr<ThreadQueueCore>& q) { return q.expired(); });
    queues.push_back(queue);
  }

  void shutdown() {
    std::vector<std::shared_ptr<ThreadQueueCore>> live;
    {
      std::lock_guard lock(mutex);
      for (auto& weak : queues) {
        if (auto q = weak.lock()) live.push_back(std::move(q));
      }
      queues.clear();
    }
    for (auto& q : live) q->shutdown();
    timers->shutdown();
    pool->shutdown();
    host->joinAll();
  }

  const Options options;
  const std::shared_ptr<Clock> clock;
  const ClockWaiter waiter;
  const std::shared_ptr<ThreadHost> host;
  const std::shared_ptr<ThreadPool> pool;
  const std::shared_ptr<TimerThread> timers;
  std::shared_ptr<ThreadSerialQueue> mainCore;
  std::shared_ptr<Queue> main;
  std::array<std::shared_ptr<ThreadConcurrentQueue>, 5> globals;

  std::mutex mutex;
  std::vector<std::weak_ptr<ThreadQueueCore>> queues;
};

ThreadScheduler::ThreadScheduler(std::shared_ptr<Clock> clock) : ThreadScheduler([&] {
  Options o;
  o.clock = std::move(clock);
  return o;
}()) {}

ThreadScheduler::ThreadScheduler(Options options) : core_(std::make_shared<Core>(std::move(options))) {}

ThreadScheduler::~ThreadScheduler() { core_->shutdown(); }

std::shared_ptr<Clock> ThreadScheduler::clock() const { return core_->clock; }

std::shared_ptr<Queue> ThreadScheduler::makeSerialQueue(std::string label) {
  auto core = std::make_shared<ThreadSerialQueue>(std::move(label), core_->host, core_->options.idleThreadTimeout);
  core_->track(core);
  return std::make_shared<ThreadSerialQueueHandle>(std::move(core));
}

std::shared_ptr<Queue> ThreadScheduler::makeConcurrentQueue(std::string label) {
  auto queue = std::make_shared<ThreadConcurrentQueue>(std::move(label), core_->pool, false);
  core_->track(queue);
  return queue;
}

std::shared_ptr<Queue> ThreadScheduler::mainQueue() { return core_->main; }

std::shared_ptr<Queue> ThreadScheduler::globalQueue(QoS qos) {
  const auto index = static_cast<std::size_t>(qos);
  return core_->globals[index < core_->globals.size() ? index : static_cast<std::size_t>(QoS::Default)];
}

std::shared_ptr<Group> ThreadScheduler::makeGroup() { return std::make_shared<ThreadGroup>(core_->waiter); }

std::shared_ptr<Semaphore> ThreadScheduler::makeSemaphore(long initialValue) {
  if (!precondition(initialValue >= 0, "initialValue >= 0")) initialValue = 0;
  return std::make_shared<ThreadSemaphore>(core_->waiter, initialValue);
}

std::shared_ptr<TimerSource> ThreadScheduler::makeTimer(std::shared_ptr<Queue> queue, TimerClock clock) {
  if (!precondition(queue != nullptr, "queue != nullptr")) queue = globalQueue();
  auto timer = std::make_shared<TimerCore>(std::move(queue), clock, core_->clock,
                                           std::weak_ptr<TimerDriver>(core_->timers));
  return std::make_shared<TimerSourceHandle>(std::move(timer));
}

std::size_t ThreadScheduler::drainMainQueue() {
  if (!core_->options.hostDrainsMainQueue) {
    reportProgrammingError("drainMainQueue on a scheduler whose main queue runs on its own thread");
    return 0;
  }
  return core_->mainCore->drain();
}

void ThreadScheduler::clockChanged() { core_->timers->clockChanged(); }

std::size_t ThreadScheduler::poolThreadCount() const { return core_->pool->threadCount(); }

}  // namespace velmora::platform::dispatch
