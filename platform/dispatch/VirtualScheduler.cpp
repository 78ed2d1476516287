#include "platform/dispatch/VirtualScheduler.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/core/Log.h"
#include "platform/dispatch/CountingGroup.h"
#include "platform/dispatch/CurrentQueue.h"
#include "platform/dispatch/TimerCore.h"
#include "platform/dispatch/TimerHeap.h"

namespace velmora::platform::dispatch {
namespace {

std::int64_t toMicros(double seconds) {
  if (!(seconds > 0)) return 0;
  constexpr double kMaxSeconds = 1e11;
  return static_cast<std::int64_t>(std::llround(std::min(seconds, kMaxSeconds) * 1e6));
}

// A queue's items and what of it is running. Guarded by the core's mutex.
struct VQueue {
  struct Item {
    Work work;
    bool barrier = false;
    std::uint64_t sequence = 0;
    bool ticket = false;  // a sync waiting for its turn: its caller takes it, nobody else
  };

  VQueue(std::string l, bool s, bool g) : label(std::move(l)), serial(s), global(g) {}

  bool exclusiveItem(const Item& item) const { return serial || item.barrier; }

  const std::string label;
  const bool serial;
  const bool global;
  std::deque<Item> items;
  std::size_t running = 0;
  bool exclusive = false;  // a serial item or a barrier is running
};

}  // namespace

struct VirtualScheduler::Core : TimerDriver, std::enable_shared_from_this<Core> {
  explicit Core(std::shared_ptr<ManualClock> c) : clock(std::move(c)) {}

  // ---- TimerDriver
  void arm(TimerClock kind, const std::shared_ptr<TimerCore>& timer, std::int64_t deadline,
           std::uint64_t generation) override {
    std::lock_guard lock(mutex);
    if (stopped) return;
    timers.arm(kind, timer, deadline, generation);
    bumpLocked();
  }

  void disarm(const TimerCore* timer) override {
    std::lock_guard lock(mutex);
    timers.disarm(timer);
  }

  // ---- wake-ups
  void bumpLocked() {
    ++wakeSequence;
    changed.notify_all();
  }

  void wake() {
    std::lock_guard lock(mutex);
    bumpLocked();
  }

  // ---- driving
  bool tryEnterDriver() {
    std::lock_guard lock(mutex);
    const auto me = std::this_thread::get_id();
    if (driverDepth > 0 && driver != me) return false;
    driver = me;
    ++driverDepth;
    return true;
  }

  void enterDriver() {
    std::unique_lock lock(mutex);
    const auto me = std::this_thread::get_id();
    changed.wait(lock, [&] { return driverDepth == 0 || driver == me; });
    driver = me;
    ++driverDepth;
  }

  void leaveDriver() {
    std::lock_guard lock(mutex);
    if (--driverDepth == 0) driver = std::thread::id();
    bumpLocked();
  }

  // Leaves the driver role, which the current thread holds, when it goes out of scope.
  struct Driving {
    explicit Driving(Core& c) : core(c) {}
    ~Driving() { core.leaveDriver(); }
    Driving(const Driving&) = delete;
    Driving& operator=(const Driving&) = delete;
    Core& core;
  };

  // ---- queues
  void post(const std::shared_ptr<VQueue>& queue, Work work, bool barrier) {
    std::unique_lock lock(mutex);
    if (stopped) {
      lock.unlock();  // the work's captures die outside the lock
      return;
    }
    if (queue->items.empty()) active.push_back(queue);
    queue->items.push_back(VQueue::Item{std::move(work), barrier, nextSequence++, false});
    bumpLocked();
  }

  // Whether the queue's first item may start now (tickets are taken by their sync caller).
  static bool headRunnableLocked(const VQueue& q) {
    if (q.items.empty() || q.exclusive || q.items.front().ticket) return false;
    return !q.exclusiveItem(q.items.front()) || q.running == 0;
  }

  VQueue::Item takeHeadLocked(const std::shared_ptr<VQueue>& q) {
    VQueue::Item item = std::move(q->items.front());
    q->items.pop_front();
    if (q->items.empty()) std::erase(active, q);
    ++q->running;
    if (q->exclusiveItem(item)) q->exclusive = true;
    return item;
  }

  void finishLocked(VQueue& q, bool exclusiveItem) {
    --q.running;
    if (exclusiveItem) q.exclusive = false;
    bumpLocked();
  }

  // Runs an item taken from the queue as work of its own: the queues of the frames below it
  // on this thread are not current inside it.
  void execute(const std::shared_ptr<VQueue>& q, VQueue::Item& item) {
    const bool exclusiveItem = q->exclusiveItem(item);
    {
      CurrentQueue::Isolate isolate;
      CurrentQueue::Scope scope(q.get(), exclusiveItem);
      if (item.work) item.work();
      item.work = nullptr;
    }
    std::lock_guard lock(mutex);
    finishLocked(*q, exclusiveItem);
  }

  // Runs the runnable item posted first, across all queues. False when none is runnable.
  bool runOne() {
    std::shared_ptr<VQueue> queue;
    VQueue::Item item;
    {
      std::lock_guard lock(mutex);
      for (const auto& q : active) {
        if (headRunnableLocked(*q) && (!queue || q->items.front().sequence < queue->items.front().sequence)) {
          queue = q;
        }
      }
      if (!queue) return false;
      item = takeHeadLocked(queue);
    }
    execute(queue, item);
    return true;
  }

  // ---- timers
  bool fireDue() {
    std::vector<TimerHeap::Due> due;
    {
      std::lock_guard lock(mutex);
      due = timers.popDue(clock->uptime().count(), clock->now().unixMicros());
    }
    for (TimerHeap::Due& d : due) d.timer->fire(d.generation);
    return !due.empty();
  }

  // The uptime at which the next timer fires; a wall deadline maps to uptime through the
  // current offset between the two, which only a wall jump changes.
  std::optional<std::int64_t> nextDeadlineLocked() const {
    std::optional<std::int64_t> next = timers.earliest(TimerClock::Monotonic);
    if (auto wall = timers.earliest(TimerClock::Wall)) {
      // Saturated: a wall deadline at the end of the date range maps to the end of uptime.
      const std::int64_t ahead = Date::fromUnixMicros(*wall).microsecondsSince(clock->now());
      std::int64_t mapped = 0;
      if (__builtin_add_overflow(clock->uptime().count(), ahead, &mapped)) {
        mapped = ahead > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
      }
      next = next ? std::min(*next, mapped) : mapped;
    }
    return next;
  }

  void advanceClockTo(std::int64_t uptime) {
    const std::int64_t now = clock->uptime().count();
    if (uptime <= now) return;
    clock->advance(std::chrono::microseconds(uptime - now));
    wake();
  }

  std::size_t drain() {
    std::size_t ran = 0;
    for (;;) {
      if (runOne()) {
        ++ran;
      } else if (!fireDue()) {
        return ran;
      }
    }
  }

  // ---- blocking waits
  // Blocking waits: `satisfied` reads state whose every change wakes the scheduler (a group,
  // a semaphore). With `poll`, the condition may also change silently on a real thread, so a
  // wait that blocks re-checks it at least that often.
  bool pumpUntil(const std::function<bool()>& satisfied, std::optional<double> timeoutSeconds,
                 std::optional<std::chrono::milliseconds> poll = std::nullopt) {
    std::optional<std::int64_t> deadline;
    if (timeoutSeconds) deadline = clock->uptime().count() + toMicros(*timeoutSeconds);
    if (!tryEnterDriver()) return waitAsBystander(satisfied, deadline, poll);
    Driving driving(*this);
    return pumpLoop(satisfied, deadline, poll);
  }

  bool pumpLoop(const std::function<bool()>& satisfied, std::optional<std::int64_t> deadline,
                std::optional<std::chrono::milliseconds> poll) {
    for (;;) {
      std::uint64_t seen;
      {
        std::lock_guard lock(mutex);
        seen = wakeSequence;
        if (stopped) break;
      }
      if (satisfied()) return true;
      if (runOne() || fireDue()) continue;

      bool externalPending;
      std::optional<std::int64_t> next;
      {
        std::lock_guard lock(mutex);
        // A real thread may have posted work and ended its external work since this round
        // looked for work: look again before moving the clock or giving up.
        if (wakeSequence != seen) continue;
        externalPending = externalWork > 0;
        next = nextDeadlineLocked();
      }
      const std::int64_t now = clock->uptime().count();
      if (deadline && now >= *deadline) break;
      if (!externalPending) {
        if (next && (!deadline || *next <= *deadline)) {
          advanceClockTo(*next);
          continue;
        }
        if (deadline) {
          advanceClockTo(*deadline);
          break;
        }
      }
      // Nothing can happen on this thread: only a real thread can post, signal, arm a
      // timer or end its external work now.
      blockUntilWoken(seen, poll);
    }
    return satisfied();
  }

  void blockUntilWoken(std::uint64_t seen, std::optional<std::chrono::milliseconds> poll) {
    std::unique_lock lock(mutex);
    const auto woken = [&] { return wakeSequence != seen || stopped; };
    if (poll) {
      changed.wait_for(lock, *poll, woken);
    } else {
      changed.wait(lock, woken);
    }
  }

  bool stoppedNow() {
    std::lock_guard lock(mutex);
    return stopped;
  }

  // A blocking call on a thread other than the one driving: the driver does the work, this
  // thread watches for the condition (and takes over driving if the driver stops).
  bool waitAsBystander(const std::function<bool()>& satisfied, std::optional<std::int64_t> deadline,
                       std::optional<std::chrono::milliseconds> poll = std::nullopt) {
    for (;;) {
      std::uint64_t seen;
      bool driving = false;
      {
        std::lock_guard lock(mutex);
        if (driverDepth == 0 && !stopped) {
          driver = std::this_thread::get_id();
          driverDepth = 1;
          driving = true;
        }
        seen = wakeSequence;
      }
      if (driving) {
        Driving scope(*this);
        return pumpLoop(satisfied, deadline, poll);
      }
      if (satisfied()) return true;
      if (deadline && clock->uptime().count() >= *deadline) return false;
      if (stoppedNow()) break;
      blockUntilWoken(seen, poll);
    }
    return satisfied();
  }

  // ---- sync
  void sync(const std::shared_ptr<VQueue>& queue, Work work, bool barrier) {
    const bool exclusive = queue->serial || barrier;
    switch (CurrentQueue::planSync(queue.get(), exclusive)) {
      case CurrentQueue::SyncPlan::Deadlock: {
        CurrentQueue::reportDeadlock(queue->label);
        CurrentQueue::Scope scope(queue.get(), exclusive);
        if (work) work();
        return;
      }
      case CurrentQueue::SyncPlan::Reenter: {
        CurrentQueue::Scope scope(queue.get(), false);
        if (work) work();
        return;
      }
      case CurrentQueue::SyncPlan::Wait:
        break;
    }

    if (!tryEnterDriver()) {
      // Another thread drives: it runs the work in its turn while this thread waits.
      auto done = std::make_shared<std::atomic<bool>>(false);
      post(queue,
           [this, work = std::move(work), done]() mutable {
             if (work) work();
             work = nullptr;
             done->store(true);
             wake();
           },
           barrier);
      waitAsBystander([&] { return done->load(); }, std::nullopt);
      return;
    }
    Driving driving(*this);

    std::uint64_t mine = 0;
    {
      std::lock_guard lock(mutex);
      if (!stopped) {
        mine = nextSequence++;
        if (queue->items.empty()) active.push_back(queue);
        queue->items.push_back(VQueue::Item{nullptr, barrier, mine, true});
      }
    }
    while (mine != 0) {
      std::unique_lock lock(mutex);
      if (stopped) break;  // the ticket went with the queue's items
      VQueue::Item& head = queue->items.front();
      const bool headExclusive = queue->exclusiveItem(head);
      const bool free = !queue->exclusive && (!headExclusive || queue->running == 0);
      if (head.ticket && head.sequence == mine && free) {
        takeHeadLocked(queue);
        lock.unlock();
        {
          CurrentQueue::Scope scope(queue.get(), exclusive);
          if (work) work();
        }
        lock.lock();
        finishLocked(*queue, exclusive);
        return;
      }
      if (head.ticket || !free) {
        // Held by a frame further up this thread, which cannot go on before we return.
        removeTicketLocked(queue, mine);
        lock.unlock();
        Log::warning("dispatch",
                     "sync onto queue '{}', which a blocking wait further up this thread holds; running the work inline",
                     queue->label);
        break;
      }
      // An item submitted before the sync: it runs first.
      VQueue::Item item = takeHeadLocked(queue);
      lock.unlock();
      execute(queue, item);
    }
    CurrentQueue::Scope scope(queue.get(), exclusive);
    if (work) work();
  }

  void removeTicketLocked(const std::shared_ptr<VQueue>& queue, std::uint64_t sequence) {
    auto& items = queue->items;
    auto it = std::find_if(items.begin(), items.end(),
                           [&](const VQueue::Item& i) { return i.ticket && i.sequence == sequence; });
    if (it != items.end()) items.erase(it);
    if (items.empty()) std::erase(active, queue);
  }

  // ---- the objects handed out
  class QueueHandle final : public Queue {
   public:
    QueueHandle(std::shared_ptr<Core> core, std::shared_ptr<VQueue> queue)
        : core_(std::move(core)), queue_(std::move(queue)) {}

    const std::string& label() const override { return queue_->label; }
    QueueKind kind() const override { return queue_->serial ? QueueKind::Serial : QueueKind::Concurrent; }
    void async(Work work) override { core_->post(queue_, std::move(work), false); }
    void sync(Work work) override { core_->sync(queue_, std::move(work), false); }
    void barrierAsync(Work work) override { core_->post(queue_, std::move(work), barrierMeaningful()); }
    void barrierSync(Work work) override { core_->sync(queue_, std::move(work), barrierMeaningful()); }
    bool isCurrent() const override { return CurrentQueue::contains(queue_.get()); }

   private:
    bool barrierMeaningful() const { return !queue_->serial && !queue_->global; }

    std::shared_ptr<Core> core_;
    std::shared_ptr<VQueue> queue_;
  };

  class GroupImpl final : public CountingGroup {
   public:
    explicit GroupImpl(std::shared_ptr<Core> core) : core_(std::move(core)) {}

    bool wait(std::optional<double> timeoutSeconds) override {
      return core_->pumpUntil(
          [this] {
            std::lock_guard lock(mutex_);
            return emptyLocked();
          },
          timeoutSeconds);
    }

   protected:
    void changed() override { core_->wake(); }

   private:
    std::shared_ptr<Core> core_;
  };

  class SemaphoreImpl final : public Semaphore {
   public:
    SemaphoreImpl(std::shared_ptr<Core> core, long initialValue) : core_(std::move(core)), count_(initialValue) {}

    void signal() override {
      {
        std::lock_guard lock(mutex_);
        ++count_;
      }
      core_->wake();
    }

    bool wait(std::optional<double> timeoutSeconds) override {
      return core_->pumpUntil(
          [this] {
            std::lock_guard lock(mutex_);
            if (count_ == 0) return false;
            --count_;
            return true;
          },
          timeoutSeconds);
    }

   private:
    std::shared_ptr<Core> core_;
    std::mutex mutex_;
    long count_;
  };

  struct ExternalWork {
    explicit ExternalWork(std::weak_ptr<Core> c) : core(std::move(c)) {}
    ~ExternalWork() {
      if (auto c = core.lock()) {
        std::lock_guard lock(c->mutex);
        --c->externalWork;
        c->bumpLocked();
      }
    }
    ExternalWork(const ExternalWork&) = delete;
    ExternalWork& operator=(const ExternalWork&) = delete;
    std::weak_ptr<Core> core;
  };

  std::shared_ptr<Queue> makeQueue(std::string label, bool serial, bool global) {
    return std::make_shared<QueueHandle>(shared_from_this(),
                                         std::make_shared<VQueue>(std::move(label), serial, global));
  }

  // ---- teardown
  void stop() {
    std::vector<std::shared_ptr<VQueue>> queues;
    std::vector<TimerHeap::Due> armed;
    std::vector<std::deque<VQueue::Item>> dropped;
    {
      std::lock_guard lock(mutex);
      stopped = true;
      queues.swap(active);
      armed = timers.clear();
      for (auto& q : queues) {
        dropped.emplace_back();
        dropped.back().swap(q->items);
      }
      bumpLocked();
    }
    // Cancelling drops the handlers, and with them the cycles they may close.
    for (TimerHeap::Due& d : armed) d.timer->cancel();
  }

  const std::shared_ptr<ManualClock> clock;

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t wakeSequence = 0;
  std::uint64_t nextSequence = 1;  // 0 marks "no ticket"
  std::vector<std::shared_ptr<VQueue>> active;  // queues with items, in no particular order
  TimerHeap timers;
  std::thread::id driver;
  int driverDepth = 0;
  std::size_t externalWork = 0;
  bool stopped = false;
};


namespace {

// How often runUntil re-checks its condition while it blocks for real threads.
constexpr std::chrono::milliseconds kConditionPoll{5};

constexpr std::array<const char*, 5> kGlobalLabels = {"global.background", "global.utility", "global.default",
                                                      "global.user-initiated", "global.user-interactive"};

}  // namespace

VirtualScheduler::VirtualScheduler(Date start)
    : core_(std::make_shared<Core>(std::make_shared<ManualClock>(start))) {
  main_ = core_->makeQueue("main", true, false);
  for (const char* label : kGlobalLabels) globals_.push_back(core_->makeQueue(label, false, true));
}

VirtualScheduler::~VirtualScheduler() { core_->stop(); }

std::shared_ptr<ManualClock> VirtualScheduler::manualClock() const { return core_->clock; }

std::shared_ptr<Clock> VirtualScheduler::clock() const { return core_->clock; }

std::shared_ptr<Queue> VirtualScheduler::makeSerialQueue(std::string label) {
  return core_->makeQueue(std::move(label), true, false);
}

std::shared_ptr<Queue> VirtualScheduler::makeConcurrentQueue(std::string label) {
  return core_->makeQueue(std::move(label), false, false);
}

std::shared_ptr<Queue> VirtualScheduler::mainQueue() { return main_; }

std::shared_ptr<Queue> VirtualScheduler::globalQueue(QoS qos) {
  const auto index = static_cast<std::size_t>(qos);
  return globals_[index < globals_.size() ? index : static_cast<std::size_t>(QoS::Default)];
}

std::shared_ptr<Group> VirtualScheduler::makeGroup() { return std::make_shared<Core::GroupImpl>(core_); }

std::shared_ptr<Semaphore> VirtualScheduler::makeSemaphore(long initialValue) {
  if (!precondition(initialValue >= 0, "initialValue >= 0")) initialValue = 0;
  return std::make_shared<Core::SemaphoreImpl>(core_, initialValue);
}

std::shared_ptr<TimerSource> VirtualScheduler::makeTimer(std::shared_ptr<Queue> queue, TimerClock clock) {
  if (!precondition(queue != nullptr, "queue != nullptr")) queue = globalQueue();
  auto timer = std::make_shared<TimerCore>(std::move(queue), clock, core_->clock, std::weak_ptr<TimerDriver>(core_));
  return std::make_shared<TimerSourceHandle>(std::move(timer));
}

std::shared_ptr<void> VirtualScheduler::beginExternalWork() {
  {
    std::lock_guard lock(core_->mutex);
    ++core_->externalWork;
  }
  return std::make_shared<Core::ExternalWork>(core_);
}

std::size_t VirtualScheduler::runUntilIdle() {
  core_->enterDriver();
  Core::Driving driving(*core_);
  return core_->drain();
}

std::size_t VirtualScheduler::runUntilSettled() {
  core_->enterDriver();
  Core::Driving driving(*core_);
  std::size_t ran = 0;
  for (;;) {
    std::uint64_t seen;
    bool quiet;
    {
      std::lock_guard lock(core_->mutex);
      if (core_->stopped) return ran;
      // Read before draining: a real thread that posts and lets go of its token after this
      // changes the sequence, so the block below cannot miss it.
      seen = core_->wakeSequence;
      quiet = core_->externalWork == 0;
    }
    const std::size_t now = core_->drain();
    ran += now;
    if (now > 0) continue;  // what ran may have begun external work of its own
    if (quiet) return ran;
    core_->blockUntilWoken(seen, std::nullopt);
  }
}

void VirtualScheduler::advanceBy(double seconds) {
  if (!precondition(std::isfinite(seconds) && seconds >= 0, "seconds >= 0")) return;
  core_->enterDriver();
  Core::Driving driving(*core_);
  const std::int64_t target = core_->clock->uptime().count() + toMicros(seconds);
  for (;;) {
    core_->drain();
    std::optional<std::int64_t> next;
    {
      std::lock_guard lock(core_->mutex);
      next = core_->nextDeadlineLocked();
    }
    if (!next || *next > target) break;
    core_->advanceClockTo(*next);
    core_->fireDue();
  }
  core_->advanceClockTo(target);
  core_->drain();
}

void VirtualScheduler::setWallTime(Date wall) {
  core_->enterDriver();
  Core::Driving driving(*core_);
  core_->clock->setNow(wall);
  core_->wake();
  core_->drain();
}

bool VirtualScheduler::runUntil(const std::function<bool()>& condition, std::optional<double> timeoutSeconds) {
  return core_->pumpUntil(condition, timeoutSeconds, kConditionPoll);
}

std::size_t VirtualScheduler::pendingCount() const {
  std::lock_guard lock(core_->mutex);
  std::size_t n = 0;
  for (const auto& q : core_->active) {
    n += static_cast<std::size_t>(
        std::count_if(q->items.begin(), q->items.end(), [](const VQueue::Item& i) { return !i.ticket; }));
  }
  return n;
}

std::size_t VirtualScheduler::externalWorkCount() const {
  std::lock_guard lock(core_->mutex);
  return core_->externalWork;
}

std::optional<double> VirtualScheduler::nextTimerDelay() const {
  std::lock_guard lock(core_->mutex);
  auto next = core_->nextDeadlineLocked();
  if (!next) return std::nullopt;
  return static_cast<double>(std::max<std::int64_t>(0, *next - core_->clock->uptime().count())) / 1e6;
}

}  // namespace velmora::platform::dispatch
