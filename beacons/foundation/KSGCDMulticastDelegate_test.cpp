#include "beacons/foundation/KSGCDMulticastDelegate.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::kestrine {
namespace {

using platform::dispatch::VirtualScheduler;

// A listener protocol in the shape the hub and the managers use: every method optional.
class ListenerDelegate {
 public:
  virtual ~ListenerDelegate() = default;
  virtual void listenerDidRange(std::vector<std::string> /*beacons*/) {}
  virtual void listenerDidStop() {}
  virtual void listenerDidCount(int /*n*/, const std::string& /*label*/) {}
};

// Records what it receives, with the queue it ran on.
class Recorder : public ListenerDelegate {
 public:
  explicit Recorder(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
  void listenerDidRange(std::vector<std::string> beacons) override {
    std::string line = name_ + " range";
    for (auto& b : beacons) line += " " + b;
    log_->push_back(line);
    beacons.clear();  // its own copy
  }
  void listenerDidCount(int n, const std::string& label) override {
    log_->push_back(name_ + " count " + std::to_string(n) + " " + label);
  }

 private:
  std::string name_;
  std::vector<std::string>* log_;
};

class StopOnly : public ListenerDelegate {
 public:
  explicit StopOnly(std::vector<std::string>* log) : log_(log) {}
  void listenerDidStop() override { log_->push_back("stop-only stop"); }

 private:
  std::vector<std::string>* log_;
};

// Overrides through an intermediate class.
class RecorderSubclass : public Recorder {
 public:
  using Recorder::Recorder;
};

class KSGCDMulticastDelegateTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  std::shared_ptr<platform::dispatch::Queue> q1 = scheduler->makeSerialQueue("q1");
  std::shared_ptr<platform::dispatch::Queue> q2 = scheduler->makeSerialQueue("q2");
  KSGCDMulticastDelegate<ListenerDelegate> multicast;
  std::vector<std::string> log;
};

TEST_F(KSGCDMulticastDelegateTest, DeliversAsynchronouslyAndOnlyOverridesAct) {
  auto silent = std::make_shared<ListenerDelegate>();
  auto recorder = std::make_shared<Recorder>("r", &log);
  auto stopOnly = std::make_shared<StopOnly>(&log);
  multicast.addDelegate(silent, q1);
  multicast.addDelegate(recorder, q1);
  multicast.addDelegate(stopOnly, q2);

  std::vector<std::string> beacons{"a", "b"};
  multicast.invoke(&ListenerDelegate::listenerDidRange, beacons);
  multicast.invoke(&ListenerDelegate::listenerDidStop);
  EXPECT_TRUE(log.empty()) << "the send does not wait";
  EXPECT_EQ(scheduler->pendingCount(), 6u) << "one message per registration and send";
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"r range a b", "stop-only stop"}));
  EXPECT_EQ(beacons, (std::vector<std::string>{"a", "b"}));

  EXPECT_EQ(multicast.count(), 3u);
  EXPECT_EQ(multicast.countOfClass<Recorder>(), 1u);
  EXPECT_EQ(multicast.countOfClass<ListenerDelegate>(), 3u);
}

// A subscriber handed on through a port that knows only the protocol type hears the methods
// its class overrides; a plain protocol object registered that way does nothing with them.
TEST_F(KSGCDMulticastDelegateTest, ASubscriberRegisteredThroughItsProtocolTypeKeepsItsOverrides) {
  std::shared_ptr<ListenerDelegate> erased = std::make_shared<Recorder>("r", &log);
  std::shared_ptr<ListenerDelegate> plain = std::make_shared<ListenerDelegate>();
  multicast.addDelegate(erased, q1);
  multicast.addDelegate(plain, q1);
  multicast.invoke(&ListenerDelegate::listenerDidRange, std::vector<std::string>{"a"});
  multicast.invoke(&ListenerDelegate::listenerDidCount, 2, std::string("x"));
  EXPECT_EQ(scheduler->runUntilIdle(), 4u);
  EXPECT_EQ(log, (std::vector<std::string>{"r range a", "r count 2 x"}));
}

TEST_F(KSGCDMulticastDelegateTest, OneDelegateOnTwoQueuesReceivesEachMessageTwice) {
  auto recorder = std::make_shared<Recorder>("r", &log);
  multicast.addDelegate(recorder, q1);
  multicast.addDelegate(recorder, q2);
  int onQ2 = 0;
  multicast.invoke(&ListenerDelegate::listenerDidCount, 1, std::string("x"));
  q2->async([&] { ++onQ2; });
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"r count 1 x", "r count 1 x"}));

  multicast.removeDelegate(recorder, q1);
  EXPECT_EQ(multicast.count(), 1u);
  log.clear();
  multicast.invoke(&ListenerDelegate::listenerDidCount, 2, std::string("y"));
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"r count 2 y"}));

  multicast.addDelegate(recorder, q1);
  multicast.removeDelegate(recorder);
  EXPECT_EQ(multicast.count(), 0u);
  multicast.invoke(&ListenerDelegate::listenerDidCount, 3, std::string("z"));
  EXPECT_EQ(scheduler->pendingCount(), 0u);
}

TEST_F(KSGCDMulticastDelegateTest, MessagesToOneSerialQueueDelegateKeepTheirOrder) {
  auto recorder = std::make_shared<RecorderSubclass>("r", &log);
  multicast.addDelegate(recorder, q1);
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    multicast.invoke(&ListenerDelegate::listenerDidCount, i, std::string("n"));
    expected.push_back("r count " + std::to_string(i) + " n");
  }
  scheduler->runUntilIdle();
  EXPECT_EQ(log, expected);
}

TEST_F(KSGCDMulticastDelegateTest, MissingArgumentsAreIgnoredAndUnoverriddenMessagesDoNothing) {
  auto recorder = std::make_shared<Recorder>("r", &log);
  multicast.addDelegate(std::shared_ptr<Recorder>(), q1);
  multicast.addDelegate(recorder, nullptr);
  multicast.removeDelegate(static_cast<const ListenerDelegate*>(nullptr));
  EXPECT_EQ(multicast.count(), 0u);
  multicast.invoke(&ListenerDelegate::listenerDidStop);
  EXPECT_EQ(scheduler->pendingCount(), 0u);
  multicast.addDelegate(recorder, q1);
  multicast.invoke(&ListenerDelegate::listenerDidStop);
  scheduler->runUntilIdle();
  EXPECT_TRUE(log.empty());
}

TEST_F(KSGCDMulticastDelegateTest, ADestroyedDelegateIsSkippedEvenWithAMessageAlreadyQueued) {
  auto gone = std::make_shared<Recorder>("gone", &log);
  auto stays = std::make_shared<Recorder>("stays", &log);
  multicast.addDelegate(gone, q1);
  multicast.addDelegate(stays, q1);
  multicast.invoke(&ListenerDelegate::listenerDidCount, 1, std::string("queued"));
  gone.reset();
  multicast.invoke(&ListenerDelegate::listenerDidCount, 2, std::string("after"));
  scheduler->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"stays count 1 queued", "stays count 2 after"}));
  EXPECT_EQ(multicast.count(), 2u) << "the registration stays until the next add";
  EXPECT_EQ(multicast.countOfClass<Recorder>(), 1u);
  multicast.addDelegate(stays, q2);
  EXPECT_EQ(multicast.count(), 2u);
}

TEST_F(KSGCDMulticastDelegateTest, ADelegateRemovedBeforeDeliveryIsNotCalled) {
  auto recorder = std::make_shared<Recorder>("r", &log);
  multicast.addDelegate(recorder, q1);
  multicast.invoke(&ListenerDelegate::listenerDidStop);
  multicast.invoke(&ListenerDelegate::listenerDidCount, 1, std::string("x"));
  multicast.removeAllDelegates();
  scheduler->runUntilIdle();
  EXPECT_TRUE(log.empty());
}

TEST_F(KSGCDMulticastDelegateTest, AnEnumeratorWalksTheRegistrationsOfWhenItWasMade) {
  auto a = std::make_shared<Recorder>("a", &log);
  auto b = std::make_shared<StopOnly>(&log);
  auto c = std::make_shared<Recorder>("c", &log);
  multicast.addDelegate(a, q1);
  multicast.addDelegate(b, q2);
  auto enumerator = multicast.delegateEnumerator();
  auto ofClass = multicast.delegateEnumerator();
  multicast.addDelegate(c, q1);
  multicast.removeDelegate(a);
  EXPECT_EQ(enumerator.count(), 2u);

  std::shared_ptr<ListenerDelegate> delegate;
  std::shared_ptr<platform::dispatch::Queue> queue;
  ASSERT_TRUE(enumerator.getNextDelegate(&delegate, &queue));
  EXPECT_EQ(delegate, b) << "a was removed since, c came after";
  EXPECT_EQ(queue, q2);
  EXPECT_FALSE(enumerator.getNextDelegate(&delegate, nullptr));

  multicast.addDelegate(a, q1);
  auto fresh = multicast.delegateEnumerator();
  std::vector<std::shared_ptr<ListenerDelegate>> seen;
  while (fresh.getNextDelegate(&delegate, nullptr)) seen.push_back(delegate);
  EXPECT_EQ(seen, (std::vector<std::shared_ptr<ListenerDelegate>>{b, c, a}));
  EXPECT_FALSE(ofClass.getNextDelegateOfClass<Recorder>(&delegate, nullptr)) << "its only Recorder was removed";
}

// An argument whose copy runs the host's code: the send makes one copy per registration, so
// the hook runs while the send is under way.
struct CopyHook {
  std::function<void()> onCopy;
  CopyHook() = default;
  CopyHook(const CopyHook& other) : onCopy(other.onCopy) {
    if (onCopy) onCopy();
  }
  CopyHook(CopyHook&&) = default;
  CopyHook& operator=(const CopyHook&) = default;
  CopyHook& operator=(CopyHook&&) = default;
};

class HookDelegate {
 public:
  virtual ~HookDelegate() = default;
  virtual void hookDidArrive(CopyHook /*hook*/) {}
};

// Removes itself from the list in its destructor, as the managers that subscribe do.
class SelfRemoving : public HookDelegate {
 public:
  SelfRemoving(KSGCDMulticastDelegate<HookDelegate>* multicast, std::string name, std::vector<std::string>* log)
      : multicast_(multicast), name_(std::move(name)), log_(log) {}
  ~SelfRemoving() override { multicast_->removeDelegate(this); }
  void hookDidArrive(CopyHook) override { log_->push_back(name_); }

 private:
  KSGCDMulticastDelegate<HookDelegate>* multicast_;
  std::string name_;
  std::vector<std::string>* log_;
};

// The host drops its last reference to a subscriber while a send is handing out its copies,
// on the sending thread or on another one; the subscriber's destructor removes it from the
// list. The send must finish, the dead subscriber hears nothing, the others hear the message.
TEST(KSGCDMulticastDelegateLifetimeTest, ASubscriberReleasedDuringASendDoesNotHangIt) {
  for (const bool fromAnotherThread : {false, true}) {
    SCOPED_TRACE(fromAnotherThread ? "released on another thread" : "released on the sending thread");
    auto scheduler = std::make_shared<VirtualScheduler>();
    auto queue = scheduler->makeSerialQueue("q");
    std::vector<std::string> log;
    KSGCDMulticastDelegate<HookDelegate> multicast;
    auto first = std::make_shared<SelfRemoving>(&multicast, "first", &log);
    auto second = std::make_shared<SelfRemoving>(&multicast, "second", &log);
    multicast.addDelegate(first, queue);
    multicast.addDelegate(second, queue);

    CopyHook hook;
    hook.onCopy = [&] {
      if (!first) return;
      if (fromAnotherThread) {
        std::thread([&] { first.reset(); }).join();
      } else {
        first.reset();
      }
    };
    std::promise<void> sent;
    auto done = sent.get_future();
    std::thread sender([&] {
      multicast.invoke(&HookDelegate::hookDidArrive, hook);
      sent.set_value();
    });
    // A bounded wait, only so that a hang fails the test instead of the whole run.
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
      std::fprintf(stderr, "the send hung when its subscriber was released during it\n");
      std::abort();
    }
    sender.join();

    EXPECT_FALSE(first);
    EXPECT_EQ(multicast.count(), 1u) << "the destructor removed the subscriber";
    scheduler->runUntilIdle();
    EXPECT_EQ(log, (std::vector<std::string>{"second"}));
  }
}
}  // namespace
}  // namespace velmora::kestrine
