// Eight threads sharing the thread-safe collections, one multicast delegate and one operation
// queue on the real thread scheduler. Run under ThreadSanitizer it shows that every shared
// field is guarded; the counts at the end show that nothing was lost.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "beacons/foundation/KSBlockOperation.h"
#include "beacons/foundation/KSGCDMulticastDelegate.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "beacons/foundation/KSMutableArray.h"
#include "beacons/foundation/KSMutableDictionary.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "platform/dispatch/ThreadScheduler.h"

namespace velmora::kestrine {
namespace {

class TickDelegate {
 public:
  virtual ~TickDelegate() = default;
  virtual void didTick(int /*thread*/, std::vector<int> /*payload*/) {}
  virtual void didNothing() {}
};

class Ticker : public TickDelegate {
 public:
  std::atomic<int> received{0};
  void didTick(int, std::vector<int> payload) override {
    if (payload.size() == 3) received.fetch_add(1, std::memory_order_relaxed);
  }
};

class CountingDelegate : public KSOperationDelegate {
 public:
  explicit CountingDelegate(std::shared_ptr<platform::dispatch::Group> group) : group_(std::move(group)) {}
  bool operationShouldStart(const std::shared_ptr<KSOperation>&) override {
    return started.fetch_add(1, std::memory_order_relaxed) % 7 != 3;  // refuse some
  }
  void operationDidFinish(const std::shared_ptr<KSOperation>&) override {
    finished.fetch_add(1, std::memory_order_relaxed);
    group_->leave();
  }
  std::atomic<int> started{0};
  std::atomic<int> finished{0};

 private:
  std::shared_ptr<platform::dispatch::Group> group_;
};

TEST(ConcurrencyStressTest, EightThreadsShareCollectionsMulticastAndAnOperationQueue) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  {
    constexpr int kThreads = 8;
    constexpr int kRounds = 400;

    KSMutableArray<std::shared_ptr<int>> array;
    KSMutableDictionary<std::string, int> dictionary;
    KSGCDMulticastDelegate<TickDelegate> multicast;
    auto steady = std::make_shared<Ticker>();
    auto steadyQueue = scheduler->makeSerialQueue("steady");
    multicast.addDelegate(steady, steadyQueue);

    auto group = scheduler->makeGroup();
    auto delegate = std::make_shared<CountingDelegate>(group);
    auto queue = KSOperationQueue::create("stress");
    queue->setMaxConcurrentOperationCount(2);
    KSMutableArray<std::shared_ptr<KSOperation>> operations;
    auto fires = std::make_shared<std::atomic<int>>(0);  // firings may outlive this scope

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        auto ownQueue = scheduler->makeSerialQueue("own" + std::to_string(t));
        auto own = std::make_shared<Ticker>();
        auto timer = KSGCDTimer::timerOnQueue(ownQueue);
        for (int i = 0; i < kRounds; ++i) {
          const std::string key = std::to_string((t * 31 + i) % 50);
          switch ((t + i) % 4) {
            case 0:
            {
              auto mine = std::make_shared<int>(i);
              array.addObject(mine);
              (void)array.firstObject();
              if (!array.containsObject(mine)) ADD_FAILURE() << "an added element went missing";
              array.insertObject(mine, 0);
              (void)array.copy();
              array.removeObject(mine);  // both registrations
            }
              break;
            case 1:
              dictionary.setObject(i, key);
              (void)dictionary.objectForKey(key);
              if (i % 3 == 0) dictionary.removeObjectForKey(key);
              (void)dictionary.allValues();
              break;
            case 2:
              multicast.addDelegate(own, ownQueue);
              multicast.invoke(&TickDelegate::didTick, t, std::vector<int>{1, 2, 3});
              multicast.invoke(&TickDelegate::didNothing);
              multicast.removeDelegate(own, ownQueue);
              for (auto e = multicast.delegateEnumerator(); e.getNextDelegate(nullptr, nullptr);) {
              }
              // A timer re-armed from this thread while its last shot may be firing on the queue.
              timer->invalidate();
              timer = KSGCDTimer::timerOnQueue(ownQueue, 0, std::nullopt);
              timer->scheduleBlock([fires] { fires->fetch_add(1, std::memory_order_relaxed); }, 0);
              break;
            case 3: {
              auto op = std::make_shared<KSBlockOperation>();
              std::weak_ptr<KSBlockOperation> weak = op;
              op->setMainBlock([weak, scheduler] {
                scheduler->globalQueue()->async([weak] {
                  if (auto self = weak.lock()) self->finish();
                });
              });
              op->setDelegate(delegate);
              group->enter();
              operations.addObject(op);
              queue->addOperation(op);
              if (i % 5 == 0) op->cancel();
              (void)queue->operationCount();
              break;
            }
          }
        }
      });
    }
    for (auto& thread : threads) thread.join();

    // Operations cancelled while waiting never finish by themselves; finish them all so that
    // every one reports once.
    for (const auto& op : operations.copy()) op->finish();
    ASSERT_TRUE(group->wait());
    steadyQueue->sync([] {});

    EXPECT_EQ(delegate->finished.load(), static_cast<int>(operations.count()));
    EXPECT_EQ(queue->operationCount(), 0u);
    EXPECT_EQ(steady->received.load(), kThreads * kRounds / 4);
    EXPECT_EQ(array.count(), 0u);
    EXPECT_EQ(multicast.count(), 1u);
    EXPECT_LE(fires->load(), kThreads * kRounds / 4);
  }
  platform::dispatch::Scheduler::setShared(nullptr);
}

// Removes itself in its destructor, as the managers that subscribe to the hub do.
class Leaving : public TickDelegate {
 public:
  explicit Leaving(KSGCDMulticastDelegate<TickDelegate>* multicast) : multicast_(multicast) {}
  ~Leaving() override { multicast_->removeDelegate(this); }
  void didTick(int, std::vector<int>) override {}

 private:
  KSGCDMulticastDelegate<TickDelegate>* multicast_;
};

// Subscribers come and go on four threads while four others send: a subscriber's last
// reference drops on whichever thread lets go of it last (its maker or its queue), its
// destructor takes the list's lock, and no send may be holding it then.
TEST(ConcurrencyStressTest, SubscribersThatRemoveThemselvesDieWhileOthersSend) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    KSGCDMulticastDelegate<TickDelegate> multicast;
    auto queue = scheduler->makeSerialQueue("subscribers");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kRounds; ++i) multicast.invoke(&TickDelegate::didTick, t, std::vector<int>{1, 2, 3});
      });
      threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
          auto subscriber = std::make_shared<Leaving>(&multicast);
          multicast.addDelegate(subscriber, queue);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    queue->sync([] {});  // the messages still queued run before the list goes
    EXPECT_EQ(multicast.count(), 0u) << "every subscriber removed itself";
  }
}

}  // namespace
}  // namespace velmora::kestrine
