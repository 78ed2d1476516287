#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSEventManagerAdapters.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSEvent.h"
#include "beacons/ranging/KestrineSDK.h"
#include "beacons/storage/KSEventSummary.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "platform/sim/SimApp.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::sim::SimApp;

constexpr double kDay = 86400.0;

// The registry's event manager over the registry's store, a real SQLite file in the app's
// documents folder. A "run" is one launch of the app with its own registry; the next run is a
// new app and registry over the same documents folder, so what it reads back came from the
// file.
class EventManagerStoreTest : public ::testing::Test {
 protected:
  struct Run {
    std::shared_ptr<SimApp> app;
    std::shared_ptr<KSInstanceProvider> provider;
    std::shared_ptr<KSEventManager> manager;
  };

  ~EventManagerStoreTest() override { clearPorts(); }

  Run launch() {
    Run run;
    run.app = SimApp::create(world.scheduler, *world.center, world.documents.path());
    auto bundle = world.bundle();
    bundle.app = run.app;
    run.provider = KSInstanceProvider::create(bundle);
    KestrineSDK::installSingletons(*run.provider);
    run.manager = KSEventManager::sharedManager(*run.provider);
    run.app->perform(SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    return run;
  }
  // Background saves the store; the run's objects and the process-wide ports are then let go.
  void end(Run& run) {
    run.app->perform(SimApp::Step::EnterBackground);
    run.app->perform(SimApp::Step::Terminate);
    world.runUntilIdle();
    run = {};
    clearPorts();
  }
  static void clearPorts() {
    KSLocalStoragePort::setShared(nullptr);
    KSBeaconHubPort::setShared(nullptr);
  }

  // The unposted events the run's store holds, oldest first, read from the file.
  std::vector<std::shared_ptr<KSEvent>> unposted(const Run& run) {
    KSEventStorageAdapter store(KSLocalStorageManager::sharedManager(*run.provider));
    std::vector<std::shared_ptr<KSEvent>> out;
    bool answered = false;
    store.fetchUnpostedEvents(
        [&](KSEventStore::Events events) {
          out = std::move(events);
          answered = true;
        },
        [&](platform::Error) { answered = true; });
    world.runUntilIdle();
    EXPECT_TRUE(answered);
    return out;
  }

  std::shared_ptr<KSEvent> event(const std::string& id, double begunSecondsAgo) {
    auto e = std::make_shared<KSEvent>();
    e->setEventID(id);
    e->setEventIdentifier("id-" + id);
    e->setBeganAt(world.scheduler->clock()->now().addingTimeInterval(-begunSecondsAgo));
    e->setEndedAt(world.scheduler->clock()->now().addingTimeInterval(-begunSecondsAgo));
    return e;
  }
  static std::vector<std::string> ids(const std::vector<std::shared_ptr<KSEvent>>& events) {
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e->eventID().value_or("?"));
    return out;
  }
  static std::shared_ptr<KSTrigger> keepAll(const std::string& id, std::int64_t repeat) {
    auto t = KSTrigger::initWithIdentifier(id, {KSEventFilter::filterByPredicate([](const KSBeacon&) { return true; })});
    t->setRepeatCount(repeat);
    return t;
  }
  static KSBeaconManagerInternalDelegate::Beacons pass() {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID("b-1");
    b->setAccuracy(1.0);
    return {b};
  }

  velmora::testing::SimWorld world;
};

// Logged events are stored as they are logged (the post is lost without a cloud): the next run
// finds them unposted, oldest first, with what the host and the manager put into them.
TEST_F(EventManagerStoreTest, LoggedEventsAreFoundUnpostedAtTheNextRun) {
  auto first = launch();
  first.manager->setDefaultCustomDeviceIdentifier(std::string("custom-7"));
  first.manager->logEventWithIdentifier("opened", std::string("v1"), std::string("v2"), std::nullopt);
  world.advanceBy(5);
  first.manager->logEvent(event("older", 3600), 0);
  first.manager->logEvent(std::make_shared<KSEvent>(), 0);  // without an ID: not kept
  end(first);

  auto second = launch();
  const auto events = unposted(second);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0]->eventID(), "older");
  const auto& opened = events[1];
  EXPECT_EQ(opened->eventIdentifier(), "opened");
  EXPECT_EQ(opened->eventName(), "opened");
  EXPECT_EQ(opened->value1(), "v1");
  EXPECT_EQ(opened->value2(), "v2");
  EXPECT_FALSE(opened->value3());
  EXPECT_EQ(opened->customDeviceIdentifier(), "custom-7");
  EXPECT_EQ(opened->beganInBackground(), false);
  EXPECT_FALSE(opened->lastPostedAt());
  end(second);
}

// At launch, the events posted and begun more than three days ago are purged; an old event
// never posted is kept for its post.
TEST_F(EventManagerStoreTest, LaunchPurgesOldPostedEventsAndKeepsUnpostedOnes) {
  auto first = launch();
  for (const char* id : {"old-posted", "old-unposted", "new-posted"}) {
    first.manager->logEvent(event(id, std::string(id).starts_with("old") ? 4 * kDay : kDay), 0);
  }
  {
    // The store file has one owner at a time: this run's manager is let go with the run.
    auto storage = KSLocalStorageManager::sharedManager(*first.provider);
    storage->updateEvent("old-posted", world.scheduler->clock()->now());
    storage->updateEvent("new-posted", world.scheduler->clock()->now());
  }
  end(first);

  auto second = launch();
  EXPECT_EQ(ids(unposted(second)), std::vector<std::string>{"old-unposted"});
  std::vector<std::string> kept;
  KSEvent::storedEventsWithPredicate(
      std::nullopt, std::nullopt,
      [&](const std::vector<std::shared_ptr<KSEvent>>& events) { kept = ids(events); }, nullptr);
  world.runUntilIdle();
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(kept, (std::vector<std::string>{"new-posted", "old-unposted"}));
  end(second);
}

// A trigger's summary outlives the run: restored at the next run, the count goes on from the
// stored one, and the dates of the first firing are kept.
TEST_F(EventManagerStoreTest, TriggerSummariesAreRestoredAtTheNextRun) {
  auto first = launch();
  first.manager->monitorEventWithTrigger(keepAll("t", 100), [](const auto&) {});
  const Date firstFiring = world.scheduler->clock()->now();
  for (int i = 0; i < 3; ++i) {
    first.manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, pass());
    world.advanceBy(1);
  }
  // The third firing (1 s after the second, count not a multiple of 10) waits for the
  // summary's save on removal.
  first.manager->removeMonitoredEvent("t");
  end(first);

  auto second = launch();
  auto stored = KSLocalStorageManager::sharedManager(*second.provider)->eventSummaryForIdentifier("t");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->triggeredCount(), 3);
  EXPECT_EQ(stored->firstTriggeredAt(), firstFiring);

  std::int64_t count = 0;
  std::optional<Date> first_at;
  second.manager->monitorEventWithTrigger(keepAll("t", 100), true, [&](const std::shared_ptr<KSTriggeredEvent>& e) {
    count = e->triggeredCount;
    first_at = e->firstTriggeredAt;
  });
  second.manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, pass());
  EXPECT_EQ(count, 4);
  EXPECT_EQ(first_at, firstFiring);
  end(second);
}

}  // namespace
}  // namespace velmora::kestrine
