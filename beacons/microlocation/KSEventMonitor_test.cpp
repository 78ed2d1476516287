#include "beacons/microlocation/KSEventMonitor.h"

#include <gtest/gtest.h>

#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimApp.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSEventMonitor::Beacons;

std::shared_ptr<KSBeacon> beacon(const std::string& id, double accuracy = 1.0) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setAccuracy(accuracy);
  return b;
}

struct MonitorFixture : ::testing::Test {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromUnixSeconds(1'700'000'000));

  std::shared_ptr<KSEventMonitor> monitor(std::shared_ptr<KSTrigger> trigger,
                                          std::shared_ptr<platform::app::Application> app = nullptr) {
    auto summary = std::make_shared<KSEventSummary>();
    summary->setEventIdentifier(trigger->eventIdentifier());
    return std::make_shared<KSEventMonitor>(std::move(trigger), nullptr, summary, scheduler->clock(), std::move(app));
  }
  static std::shared_ptr<KSTrigger> keepAll(std::int64_t repeat) {
    auto t = KSTrigger::initWithIdentifier("t", {KSEventFilter::filterByPredicate([](const KSBeacon&) { return true; })});
    t->setRepeatCount(repeat);
    return t;
  }
  std::vector<std::int32_t> states(KSEventMonitor& m, int passes, const Beacons& beacons) {
    std::vector<std::int32_t> out;
    for (int i = 0; i < passes; ++i) {
      out.push_back(m.triggerEventWithRangedBeacons(beacons, {})->triggerState);
      scheduler->advanceBy(1);
    }
    return out;
  }
};

TEST_F(MonitorFixture, RepeatCountValidityAndExpiry) {
  const Beacons one{beacon("a")};
  auto once = monitor(keepAll(0));
  auto first = once->triggerEventWithRangedBeacons(one, {});
  EXPECT_EQ(first->triggerState, 1);
  EXPECT_EQ(first->triggeredCount, 1);
  EXPECT_EQ(once->triggerEventWithRangedBeacons(one, {})->triggerState, 2);

  auto thrice = monitor(keepAll(2));
  EXPECT_EQ(states(*thrice, 4, one), (std::vector<std::int32_t>{1, 1, 1, 2}));

  auto later = keepAll(5);
  later->setValidFrom(scheduler->clock()->now().addingTimeInterval(3600));
  auto waiting = monitor(later);
  EXPECT_EQ(states(*waiting, 3, one), (std::vector<std::int32_t>{0, 0, 0}));
  EXPECT_FALSE(waiting->currentFilterContext());

  auto expired = keepAll(5);
  expired->setExpiresAt(scheduler->clock()->now().addingTimeInterval(-1));
  EXPECT_EQ(monitor(expired)->triggerEventWithRangedBeacons(one, {})->triggerState, 2);

  // Nothing passing: quiet.
  EXPECT_EQ(states(*monitor(keepAll(5)), 2, {}), (std::vector<std::int32_t>{0, 0}));
}

TEST_F(MonitorFixture, OnAnEmptyPassOnlyFiltersThatAskForItRun) {
  auto exited = KSEventFilter::filterByExitedBeaconAfterTimeIntervalUnmatched(10);
  auto t = KSTrigger::initWithIdentifier("exit", {KSEventFilter::filterByClosestBeacon(), exited});
  t->setRepeatCount(10);
  auto m = monitor(t);
  EXPECT_EQ(m->triggerEventWithRangedBeacons({beacon("a", 0.5)}, {})->triggerState, 0);
  scheduler->advanceBy(11);
  auto fired = m->triggerEventWithRangedBeacons({}, {});
  ASSERT_EQ(fired->triggerState, 1);
  auto snapshot = std::dynamic_pointer_cast<KSMicroLocation>(fired->filteredMicroLocation);
  ASSERT_TRUE(snapshot);
  ASSERT_EQ(snapshot->beacons().size(), 1u);
  EXPECT_EQ(fired->event->beaconID(), "a");
}

TEST_F(MonitorFixture, EachFiringHasItsOwnEventID) {
  auto t = KSTrigger::initWithIdentifier("t", {KSEventFilter::filterByMinTimeIntervalBetweenBeaconMatches(2)});
  t->setRepeatCount(10);
  auto m = monitor(t);
  const Beacons one{beacon("a")};
  auto f1 = m->triggerEventWithRangedBeacons(one, {});
  ASSERT_EQ(f1->triggerState, 1);
  scheduler->advanceBy(1);
  EXPECT_EQ(m->triggerEventWithRangedBeacons(one, {})->triggerState, 0);
  const auto between = m->currentFilterContext()->event()->eventID();
  scheduler->advanceBy(1);
  EXPECT_EQ(m->triggerEventWithRangedBeacons(one, {})->triggerState, 0);
  EXPECT_EQ(m->currentFilterContext()->event()->eventID(), between);
  scheduler->advanceBy(1);
  auto f2 = m->triggerEventWithRangedBeacons(one, {});
  ASSERT_EQ(f2->triggerState, 1);
  EXPECT_NE(f1->event->eventID(), f2->event->eventID());
  EXPECT_EQ(f2->event->eventID(), between);
  EXPECT_EQ(f2->triggeredCount, 2);
  EXPECT_EQ(f2->firstTriggeredAt, f1->lastTriggeredAt);
  EXPECT_EQ(f2->event->eventIdentifier(), "t");
}

TEST_F(MonitorFixture, CompletesTheEventFromTheFirstBeacon) {
  platform::NotificationCenter center;
  velmora::testing::TempDir dir;
  auto app = platform::sim::SimApp::create(scheduler, center, dir.path());
  app->perform(platform::sim::SimApp::Step::LaunchBackground);
  scheduler->runUntilIdle();

  auto site = std::make_shared<KSSite>();
  site->setSiteID("s1");
  site->setName("North");
  auto b = beacon("b-1", 0.75);
  b->setName("Gate 1");
  b->setSiteID("s1");
  b->setSiteName("North");
  b->setRssi(platform::Value(-61));
  auto gate = std::make_shared<KSCategory>();
  gate->setCategoryID("c-1");
  gate->setName("Gate");
  b->setCategories(std::vector{gate});
  auto mp = std::make_shared<KSMapPoint>();
  mp->setMapID("m-1");
  mp->setPoint(KSPoint::pointWithXY(1.5, -2));
  b->setMapPoint(mp);

  // A host filter that names the site itself: the monitor leaves it alone.
  auto own = std::make_shared<KSEventFilter>([](KSEventFilterContext& c, platform::Value&) {
    c.event()->setSiteID("host-site");
    return c.beaconsToFilter();
  });
  auto m = monitor(KSTrigger::initWithIdentifier("t", {own}), app);
  auto fired = m->triggerEventWithRangedBeacons({b, beacon("other")}, {site});
  ASSERT_EQ(fired->triggerState, 1);
  const auto& e = *fired->event;
  EXPECT_EQ(e.siteID(), "host-site");
  EXPECT_EQ(e.siteName(), "North");
  EXPECT_EQ(e.beaconID(), "b-1");
  EXPECT_EQ(e.beaconName(), "Gate 1");
  EXPECT_EQ(e.categoryID(), "c-1");
  EXPECT_EQ(e.categoryName(), "Gate");
  EXPECT_EQ(e.rssi().toInt64(), -61);
  EXPECT_EQ(e.accuracy().toDouble(), 0.75);
  EXPECT_EQ(e.mapID(), "m-1");
  EXPECT_EQ(e.mapX().toDouble(), 1.5);
  EXPECT_EQ(e.mapY().toDouble(), -2.0);
  EXPECT_EQ(e.beganAt(), scheduler->clock()->now());
  EXPECT_EQ(e.endedAt(), e.beganAt());
  EXPECT_EQ(e.beganInBackground(), true);
  EXPECT_EQ(e.endedInBackground(), true);
  auto snapshot = std::dynamic_pointer_cast<KSMicroLocation>(fired->filteredMicroLocation);
  ASSERT_TRUE(snapshot && snapshot->sites());
  ASSERT_EQ(snapshot->sites()->size(), 1u);
  EXPECT_EQ(snapshot->sites()->front()->siteID(), "s1");
  EXPECT_EQ(snapshot->beacons().size(), 2u);
}

}  // namespace
}  // namespace velmora::kestrine
