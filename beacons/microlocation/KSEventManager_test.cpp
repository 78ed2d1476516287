#include "beacons/microlocation/KSEventManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/model/KSBeacon.h"
#include "platform/app/Application.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSBeaconManagerInternalDelegate::Beacons;
using platform::Date;

struct FakeSites : KSEventSiteSource {
  std::map<std::string, std::shared_ptr<KSSite>> sites;
  int lookups = 0;
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    ++lookups;
    auto it = sites.find(id);
    return it == sites.end() ? nullptr : it->second;
  }
};

struct FakeStore : KSEventStore {
  bool enabled = true;
  std::map<std::string, KSEventSummary> summaries;
  std::vector<KSEventSummary> summaryWrites;
  std::vector<std::shared_ptr<KSEvent>> events;
  std::vector<std::pair<Date, std::uint64_t>> purges;
  bool localStorageEnabled() override { return enabled; }
  std::shared_ptr<KSEventSummary> eventSummaryForIdentifier(const std::string& id) override {
    auto it = summaries.find(id);
    return it == summaries.end() ? nullptr : it->second.copy();
  }
  void storeEventSummary(const KSEventSummary& s) override {
    summaryWrites.push_back(s);
    summaries[*s.eventIdentifier()] = s;
  }
  void storeEvent(const std::shared_ptr<KSEvent>& e) override {
    if (e->eventID()) events.push_back(e);
  }
  void deleteEventsThatBeganBeforeDate(Date d, std::uint64_t limit) override {
    purges.emplace_back(d, limit);
    std::erase_if(events, [d](const auto& e) { return e->beganAt() && *e->beganAt() < d; });
  }
  void fetchUnpostedEvents(std::function<void(Events)> success, std::function<void(platform::Error)>) override {
    Events out;
    for (const auto& e : events) {
      if (!e->lastPostedAt()) out.push_back(e->copy());
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a->beganAt() < b->beganAt(); });
    success(out);
  }
};

struct FakePoster : KSEventPoster {
  std::vector<std::string> posted;  // eventIdentifiers in order
  std::vector<std::shared_ptr<KSEvent>> events;
  void postEvent(const std::shared_ptr<KSEvent>& e) override {
    posted.push_back(e->eventIdentifier().value_or("?"));
    events.push_back(e);
  }
};

struct FakeIdentity : KSEventIdentitySource {
  std::optional<std::string> deviceIdentifier() override { return "device-1"; }
  std::optional<std::string> sessionIdentifier() override { return "session-1"; }
};

struct RecordingDelegate : KSEventManagerDelegate {
  std::vector<std::shared_ptr<KSTriggeredEvent>> events;
  void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>&,
                                  const std::shared_ptr<KSTriggeredEvent>& e) override {
    events.push_back(e);
  }
};

struct ManagerFixture : ::testing::Test {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'700'000'000));
  platform::NotificationCenter center;
  std::shared_ptr<FakeSites> sites = std::make_shared<FakeSites>();
  std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>();
  std::shared_ptr<FakePoster> poster = std::make_shared<FakePoster>();
  std::shared_ptr<KSEventManager> manager = KSEventManager::create(
      {.sites = sites, .identity = std::make_shared<FakeIdentity>(), .store = store, .poster = poster,
       .scheduler = scheduler, .notificationCenter = &center});

  void range(const Beacons& beacons) { manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons); }
  static std::shared_ptr<KSBeacon> beacon(const std::string& id, const std::string& siteID = "") {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID(id);
    b->setAccuracy(1.0);
    if (!siteID.empty()) b->setSiteID(siteID);
    return b;
  }
  static std::shared_ptr<KSTrigger> keepAll(const std::string& id, std::int64_t repeat = 0) {
    auto t = KSTrigger::initWithIdentifier(id, {KSEventFilter::filterByPredicate([](const KSBeacon&) { return true; })});
    t->setRepeatCount(repeat);
    return t;
  }
  std::shared_ptr<KSEvent> event(const std::string& identifier, double begunSecondsAgo = 0) {
    auto e = std::make_shared<KSEvent>();
    e->setEventID(identifier + "-id");
    e->setEventIdentifier(identifier);
    e->setBeganAt(scheduler->clock()->now().addingTimeInterval(-begunSecondsAgo));
    return e;
  }
};

TEST_F(ManagerFixture, NoTriggerNoLookUpAndSitesAreCopies) {
  auto site = std::make_shared<KSSite>();
  site->setSiteID("s1");
  sites->sites["s1"] = site;
  range({beacon("a", "s1"), beacon("b", "s1")});
  EXPECT_EQ(sites->lookups, 0);

  std::shared_ptr<KSTriggeredEvent> fired;
  manager->monitorEventWithTrigger(keepAll("t"), [&](const auto& e) { fired = e; });
  range({beacon("a", "s1"), beacon("b", "s1"), beacon("c", "s2"), beacon("d")});
  EXPECT_EQ(sites->lookups, 2);  // s1 once, s2 once, none for no site
  ASSERT_TRUE(fired);
  auto snapshot = std::dynamic_pointer_cast<KSMicroLocation>(fired->filteredMicroLocation);
  ASSERT_TRUE(snapshot && snapshot->sites() && snapshot->sites()->size() == 1);
  EXPECT_EQ(snapshot->sites()->front()->siteID(), "s1");
  EXPECT_NE(snapshot->sites()->front(), site);
}

TEST_F(ManagerFixture, HandlerAndNotificationInsideThePassThenTheDelegate) {
  auto delegate = std::make_shared<RecordingDelegate>();
  manager->setDelegate(delegate);
  std::vector<std::string> order;
  std::shared_ptr<KSTriggeredEvent> handled, notified;
  auto token = center.addObserver(std::string(KSEventManagerTriggeredEvent), manager.get(), nullptr,
                                  [&](const platform::Notification& n) {
                                    order.push_back("notification");
                                    auto item = n.userInfo.at(std::string(KSEventManagerTriggeredEventItem)).object();
                                    ASSERT_TRUE(item);
                                    notified = std::dynamic_pointer_cast<KSTriggeredEventItem>(*item)->event;
                                  });
  manager->monitorEventWithTrigger(keepAll("t"), [&](const auto& e) {
    order.push_back("handler");
    handled = e;
  });
  range({beacon("a")});
  EXPECT_EQ(order, (std::vector<std::string>{"handler", "notification"}));
  EXPECT_TRUE(delegate->events.empty());
  scheduler->runUntilIdle();
  ASSERT_EQ(delegate->events.size(), 1u);
  EXPECT_EQ(delegate->events.front(), handled);
  EXPECT_EQ(notified, handled);

  // Repeat count 0: gone after the next pass, nothing fired again.
  range({beacon("a")});
  scheduler->runUntilIdle();
  EXPECT_EQ(order.size(), 2u);
  EXPECT_EQ(delegate->events.size(), 1u);
  EXPECT_TRUE(manager->allMonitoredEventIdentifiers().empty());
  center.removeObserver(token);
}

// A host may hold its delegate through the protocol type: it hears every triggered event.
TEST_F(ManagerFixture, ADelegateSetThroughItsProtocolTypeHearsTheEvent) {
  auto delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<KSEventManagerDelegate> asProtocol = delegate;
  manager->setDelegate(asProtocol);
  std::shared_ptr<KSTriggeredEvent> handled;
  manager->monitorEventWithTrigger(keepAll("t"), [&](const auto& e) { handled = e; });
  range({beacon("a")});
  scheduler->runUntilIdle();
  ASSERT_EQ(delegate->events.size(), 1u);
  EXPECT_EQ(delegate->events.front(), handled);
}

// The host lets its delegate go after a firing was queued for it: the queued call finds no
// delegate and nothing is heard, while one the host keeps still hears the next firing.
TEST_F(ManagerFixture, ADelegateReleasedWhileItsCallIsQueuedHearsNothing) {
  struct CountingDelegate : KSEventManagerDelegate {
    explicit CountingDelegate(std::shared_ptr<int> calls) : calls(std::move(calls)) {}
    void eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>&,
                                    const std::shared_ptr<KSTriggeredEvent>&) override {
      ++*calls;
    }
    std::shared_ptr<int> calls;
  };
  auto calls = std::make_shared<int>(0);
  std::shared_ptr<KSEventManagerDelegate> held = std::make_shared<CountingDelegate>(calls);
  manager->setDelegate(held);
  manager->monitorEventWithTrigger(keepAll("t"), [](const auto&) {});
  range({beacon("a")});
  held.reset();
  scheduler->runUntilIdle();
  EXPECT_EQ(*calls, 0);
  EXPECT_EQ(manager->delegate(), nullptr);

  held = std::make_shared<CountingDelegate>(calls);
  manager->setDelegate(held);
  manager->monitorEventWithTrigger(keepAll("u"), [](const auto&) {});
  range({beacon("a")});
  scheduler->runUntilIdle();
  EXPECT_EQ(*calls, 1);
}

TEST_F(ManagerFixture, ReplacingSavesAndRestoringContinuesTheCount) {
  manager->monitorEventWithTrigger(keepAll("t", 10));
  range({beacon("a")});
  store->summaryWrites.clear();
  manager->monitorEventWithTrigger(keepAll("t", 10));
  ASSERT_EQ(store->summaryWrites.size(), 1u);
  EXPECT_EQ(store->summaryWrites.front().triggeredCount(), 1);

  KSEventSummary stored;
  stored.setEventIdentifier("r");
  stored.setTriggeredCount(4);
  store->summaries["r"] = stored;
  std::int64_t count = 0;
  manager->monitorEventWithTrigger(keepAll("r", 4), true, [&](const auto& e) { count = e->triggeredCount; });
  range({beacon("a")});
  EXPECT_EQ(count, 5);

  stored.setEventIdentifier("z");
  stored.setTriggeredCount(1);
  store->summaries["z"] = stored;
  bool fired = false;
  manager->monitorEventWithTrigger(keepAll("z", 0), true, [&](const auto&) { fired = true; });
  range({beacon("a")});
  EXPECT_FALSE(fired);
  const auto ids = manager->allMonitoredEventIdentifiers();
  EXPECT_EQ(std::count(ids.begin(), ids.end(), "z"), 0);

  // Without the flag, the stored count is not used.
  bool fresh = false;
  manager->monitorEventWithTrigger(keepAll("z", 0), [&](const auto&) { fresh = true; });
  range({beacon("a")});
  EXPECT_TRUE(fresh);
}

TEST_F(ManagerFixture, SummaryWritesOfATriggerFiringEverySecond) {
  manager->monitorEventWithTrigger(keepAll("t", 1000));
  for (int i = 0; i < 30; ++i) {
    range({beacon("a")});
    scheduler->advanceBy(1);
  }
  std::vector<std::int64_t> written;
  for (const auto& s : store->summaryWrites) written.push_back(s.triggeredCount());
  EXPECT_EQ(written, (std::vector<std::int64_t>{1, 10, 20, 30}));
  scheduler->advanceBy(60);  // 61 s after the 30th firing
  range({beacon("a")});
  EXPECT_EQ(store->summaryWrites.back().triggeredCount(), 31);
  EXPECT_EQ(store->summaries["t"].triggeredCount(), 31);
}

TEST_F(ManagerFixture, AMonitorRemovedOrReplacedDuringAPassFiresNothing) {
  int laterFired = 0;
  manager->monitorEventWithTrigger(keepAll("a", 10), [&](const auto&) {
    manager->removeMonitoredEvent("b");
    manager->monitorEventWithTrigger(keepAll("c", 10), [&](const auto&) { ++laterFired; });
  });
  manager->monitorEventWithTrigger(keepAll("b", 10), [&](const auto&) { ++laterFired; });
  manager->monitorEventWithTrigger(keepAll("c", 10), [&](const auto&) { ++laterFired; });
  range({beacon("x")});
  EXPECT_EQ(laterFired, 0);
}

TEST_F(ManagerFixture, LoggedEventsAreSpacedAfterTheLastPost) {
  struct Case {
    std::int32_t priority;
    double after;
    bool posts;
  };
  for (const Case& c : std::vector<Case>{{0, 60.0, false}, {0, 60.001, true}, {1, 10.0, false}, {1, 10.001, true},
                                         {1, 30.0, true}, {0, 30.0, false}}) {
    auto m = KSEventManager::create({.identity = std::make_shared<FakeIdentity>(), .store = store, .poster = poster,
                                     .scheduler = scheduler, .notificationCenter = &center});
    poster->posted.clear();
    store->events.clear();
    m->logEvent(event("first"), 0);
    ASSERT_EQ(poster->posted, std::vector<std::string>{"first"});
    m->logEvent(event("waiting"), 0);
    scheduler->advanceBy(c.after);
    m->logEvent(event("next"), c.priority);
    const auto expected = !c.posts ? std::vector<std::string>{"first"}
                          : c.priority == 1 ? std::vector<std::string>{"first", "next", "waiting"}
                                            : std::vector<std::string>{"first", "waiting", "next"};
    EXPECT_EQ(poster->posted, expected) << "priority " << c.priority << " after " << c.after;
    EXPECT_EQ(store->events.size(), 3u);
  }
}

TEST_F(ManagerFixture, FirstLoggedEventIsFilledStoredAndPostedAtOnce) {
  manager->setDefaultCustomDeviceIdentifier("custom");
  manager->logEventWithIdentifier("e", "a", std::nullopt, "c");
  ASSERT_EQ(store->events.size(), 1u);
  const auto& e = *store->events.front();
  EXPECT_TRUE(e.eventID());
  EXPECT_EQ(e.eventIdentifier(), "e");
  EXPECT_EQ(e.value1(), "a");
  EXPECT_FALSE(e.value2());
  EXPECT_EQ(e.value3(), "c");
  EXPECT_EQ(e.deviceUUID(), "device-1");
  EXPECT_EQ(e.sessionUUID(), "session-1");
  EXPECT_EQ(e.customDeviceIdentifier(), "custom");
  EXPECT_EQ(poster->posted, std::vector<std::string>{"e"});
}

TEST_F(ManagerFixture, LaunchPurgesThenRepostsUnpostedInOrderOnce) {
  auto old = event("old", 4 * 86400.0);
  auto posted = event("posted", 50);
  posted->setLastPostedAt(scheduler->clock()->now());
  auto later = event("later", 10), earlier = event("earlier", 20);
  store->events = {old, posted, later, earlier};
  // "kick" is handed over for posting and "waiting" is logged but not yet posted; both are
  // also stored unposted.
  manager->logEvent(event("kick"), 0);
  manager->logEvent(event("waiting", 5), 0);
  poster->posted.clear();
  poster->events.clear();

  manager->registerForApplicationStateTransitionNotifications();
  center.post(std::string(platform::app::kDidFinishLaunchingNotification));
  ASSERT_EQ(store->purges.size(), 1u);
  EXPECT_EQ(store->purges.front().first, scheduler->clock()->now().addingTimeInterval(-3 * 86400.0));
  EXPECT_EQ(store->purges.front().second, 2000u);
  // Neither "waiting" nor "kick" (handed over, its row not yet marked posted) goes twice.
  EXPECT_EQ(poster->posted, (std::vector<std::string>{"waiting", "earlier", "later"}));
}

// The store keeps no device identifier: events reloaded from it are posted with this device's.
TEST_F(ManagerFixture, ReloadedEventsArePostedWithTheDeviceIdentifier) {
  auto stored = event("stored", 10);
  store->events = {stored};
  manager->postUnPostedEventsFromLocalStore();
  ASSERT_EQ(poster->events.size(), 1u);
  EXPECT_EQ(poster->events[0]->deviceUUID(), "device-1");

  auto other = event("other", 5);
  other->setDeviceUUID("device-0");  // one that has its own keeps it
  store->events = {other};
  manager->postUnPostedEventsFromLocalStore();
  ASSERT_EQ(poster->events.size(), 2u);
  EXPECT_EQ(poster->events[1]->deviceUUID(), "device-0");
}

TEST_F(ManagerFixture, TeardownPostsTheWaitingEvents) {
  manager->logEvent(event("first"), 0);
  manager->logEvent(event("waiting"), 0);
  EXPECT_EQ(poster->posted.size(), 1u);
  manager.reset();
  EXPECT_EQ(poster->posted, (std::vector<std::string>{"first", "waiting"}));
}

// A long run keeps only the handed-over events the unposted-events fetch can still meet:
// those the poster holds (the cloud has not taken them) and those handed over recently.
TEST_F(ManagerFixture, HandedOverEventsAreForgottenOnceTakenAndAfterTheRetention) {
  // The cloud fails: the poster holds every event, so every one is remembered.
  for (int i = 0; i < 30; ++i) {
    manager->logEvent(event("held" + std::to_string(i)), 0);
    scheduler->advanceBy(61);
  }
  EXPECT_EQ(manager->handedOverEventCount(), 30u);
  // Taken by the cloud, then past the retention: forgotten at the next hand-over.
  poster->events.clear();
  store->events.clear();
  scheduler->advanceBy(KSEventManager::kHandedOverRetention);
  manager->logEvent(event("next"), 0);
  EXPECT_EQ(manager->handedOverEventCount(), 1u);

  // A day of events taken as they go: only the retention's worth stays.
  std::size_t most = 0;
  for (int i = 0; i < 1500; ++i) {
    scheduler->advanceBy(61);
    manager->logEvent(event("day" + std::to_string(i)), 0);
    poster->events.clear();
    store->events.clear();
    most = std::max(most, manager->handedOverEventCount());
  }
  EXPECT_LE(most, static_cast<std::size_t>(KSEventManager::kHandedOverRetention / 61) + 2);
}

TEST_F(ManagerFixture, HandedOverEventsHaveACap) {
  scheduler->advanceBy(61);
  manager->logEvent(event("first"), 0);
  for (std::size_t i = 0; i < KSEventManager::kMaximumHandedOverEvents + 50; ++i) {
    manager->logEvent(event("e" + std::to_string(i)), 0);  // within the spacing: they wait
  }
  manager->postAllEvents();
  EXPECT_EQ(manager->handedOverEventCount(), KSEventManager::kMaximumHandedOverEvents);
}

}  // namespace
}  // namespace velmora::kestrine
