// The event manager under several threads at once: hosts monitoring, replacing and removing
// triggers and logging events while ranging passes run on their own serial queue and the
// delegate drains on another, the delegate re-registering the trigger it was told about.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/model/KSBeacon.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {
namespace {

struct LockedStore : KSEventStore {
  std::mutex mutex;
  std::map<std::string, KSEventSummary> summaries;
  std::size_t events = 0;
  bool localStorageEnabled() override { return true; }
  std::shared_ptr<KSEventSummary> eventSummaryForIdentifier(const std::string& id) override {
    std::lock_guard lock(mutex);
    auto it = summaries.find(id);
    return it == summaries.end() ? nullptr : it->second.copy();
  }
  void storeEventSummary(const KSEventSummary& s) override {
    std::lock_guard lock(mutex);
    summaries[*s.eventIdentifier()] = s;
  }
  void storeEvent(const std::shared_ptr<KSEvent>&) override {
    std::lock_guard lock(mutex);
    ++events;
  }
  void deleteEventsThatBeganBeforeDate(platform::Date, std::uint64_t) override {}
  void fetchUnpostedEvents(std::function<void(Events)> success, std::function<void(platform::Error)>) override {
    success({});
  }
};

struct CountingPoster : KSEventPoster {
  std::atomic<int> posted{0};
  void postEvent(const std::shared_ptr<KSEvent>&) override { ++posted; }
};

struct Reregistering : KSEventManagerDelegate {
  std::atomic<int> told{0};
  void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>& manager,
                                  const std::shared_ptr<KSTriggeredEvent>& e) override {
    ++told;
    auto trigger = KSTrigger::initWithIdentifier(*e->event->eventIdentifier(),
                                                 {KSEventFilter::filterByClosestBeacon()});
    trigger->setRepeatCount(3);
    manager->monitorEventWithTrigger(trigger, true);
  }
};

TEST(EventManagerThreads, MonitoringLoggingPassesAndDelegatesTogether) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::NotificationCenter center;
  auto store = std::make_shared<LockedStore>();
  auto poster = std::make_shared<CountingPoster>();
  auto manager = KSEventManager::create(
      {.store = store, .poster = poster, .scheduler = scheduler, .notificationCenter = &center});
  auto delegate = std::make_shared<Reregistering>();
  manager->setDelegate(delegate);
  manager->setQueue(scheduler->makeSerialQueue("delegate"));
  std::atomic<int> handled{0};
  auto token = center.addObserver(std::string(KSEventManagerTriggeredEvent), nullptr, nullptr,
                                  [&](const platform::Notification&) { ++handled; });

  auto passes = scheduler->makeSerialQueue("passes");
  std::atomic<bool> stop{false};
  auto group = scheduler->makeGroup();
  group->async(passes, [&] {
    std::vector<std::shared_ptr<KSBeacon>> beacons;
    for (int i = 0; i < 5; ++i) {
      auto b = std::make_shared<KSBeacon>();
      b->setBeaconID("b-" + std::to_string(i));
      b->setAccuracy(0.5 * i);
      beacons.push_back(b);
    }
    // At least 50 passes, and 50 more once the hosts are done, so the trigger registered
    // after them sees passes however the threads were scheduled.
    for (int pass = 0, after = 0; pass < 50 || after < 50; ++pass) {
      if (stop.load()) ++after;
      manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
    }
  });

  std::vector<std::thread> hosts;
  for (int h = 0; h < 4; ++h) {
    hosts.emplace_back([&, h] {
      for (int i = 0; i < 200; ++i) {
        const std::string id = "t" + std::to_string((h + i) % 6);
        switch (i % 4) {
          case 0:
          case 1: {
            auto t = KSTrigger::initWithIdentifier(
                id, {KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(2), KSEventFilter::filterByClosestBeacon()});
            t->setRepeatCount(5);
            manager->monitorEventWithTrigger(t, i % 2 == 1, [&](const auto&) { ++handled; });
            break;
          }
          case 2:
            manager->removeMonitoredEvent(id);
            break;
          default:
            manager->logEvent(std::make_shared<KSEvent>(), i % 8 == 3 ? 1 : 0);
            (void)manager->allMonitoredEventIdentifiers();
        }
      }
    });
  }
  for (auto& t : hosts) t.join();
  // One trigger stays registered through the last passes: on a loaded machine the hosts
  // may have replaced every trigger before any of them saw two passes.
  auto last = KSTrigger::initWithIdentifier(
      "last", {KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(2), KSEventFilter::filterByClosestBeacon()});
  last->setRepeatCount(5);
  manager->monitorEventWithTrigger(last, false, [&](const auto&) { ++handled; });
  stop = true;
  ASSERT_TRUE(group->wait(30.0));
  manager->removeAllMonitoredEvents();
  // Drain the delegate queue: what it re-registers is removed again afterwards.
  manager->queue()->sync([] {});
  manager->removeAllMonitoredEvents();
  manager->postAllEvents();
  EXPECT_EQ(poster->posted.load(), 4 * 50);
  EXPECT_GT(handled.load(), 0);
  center.removeObserver(token);
}

}  // namespace
}  // namespace velmora::kestrine
