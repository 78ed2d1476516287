// The event manager behind the ranging hub: the hub's passes reach it on the hub's work
// queue, a host trigger built from smoothing, range and closest filters fires once the
// smoothed distance comes into range, and a pass already queued when the manager goes
// finds nothing to do.

#include <gtest/gtest.h>

#include <deque>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSBeaconManagerInternalDelegate::Beacons;

// What the hub delivered to its role-2 listeners, pass by pass.
struct DeliveryRecorder : KSBeaconManagerInternalDelegate {
  std::vector<double> accuracies;  // of b-1, -1.0 when it was not in the pass
  void beaconManagerInternalDidRangeKestrineBeacons(Hub, Beacons beacons) override {
    double a = -1.0;
    for (const auto& b : beacons) {
      if (b->beaconID() == std::optional<std::string>("b-1")) a = b->accuracy();
    }
    accuracies.push_back(a);
  }
};

struct HubFixture : ::testing::Test {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
  std::shared_ptr<KSBeacon> b1 = std::make_shared<KSBeacon>();

  void SetUp() override {
    world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
    world.runUntilIdle();
    provider = KSInstanceProvider::create(world.bundle());
    auto configurator = KSConfigurator::create(provider, {});
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [configurator](KSInstanceProvider&) { return configurator; });
    session->running = true;
    hub = KSBeaconManagerInternal::create(provider, {nullptr, nullptr, session});
    b1->setBeaconID("b-1");
    testsupport::grantRoles(*b1, {2}, KSSyncStatusSynced);
  }
  // One ranger pass with b-1 at that distance, then a second of virtual time.
  void pass(double accuracy) {
    b1->setAccuracy(accuracy);
    hub->beaconRangerDidRangeBeacons(*hub->beaconRanger(), {b1});
    world.runUntilIdle();
    world.advanceBy(1);
  }
};

TEST_F(HubFixture, SmoothedRangeAndClosestFiresOnceTheMeanIsInRange) {
  auto recorder = std::make_shared<DeliveryRecorder>();
  hub->addDelegate(recorder);
  auto manager = KSEventManager::create({.hub = hub, .scheduler = world.scheduler}, provider.get());
  auto trigger = KSTrigger::initWithIdentifier(
      "approach", {KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5),
                   KSEventFilter::filterByAccuracyRange(0, 1.0), KSEventFilter::filterByClosestBeacon()});
  std::vector<std::size_t> firedAt;
  std::shared_ptr<KSTriggeredEvent> fired;
  manager->monitorEventWithTrigger(trigger, [&](const std::shared_ptr<KSTriggeredEvent>& e) {
    EXPECT_TRUE(hub->workQueue()->isCurrent());
    firedAt.push_back(recorder->accuracies.size());
    fired = e;
  });

  // From 3 m to 0.5 m, a quarter metre a pass, then staying at 0.5 m.
  for (int i = 0; i < 16; ++i) pass(std::max(0.5, 3.0 - 0.25 * i));

  // The expected pass: the first where the single-precision mean of the valid distances
  // among the last six delivered is at most 1.0.
  std::optional<std::size_t> expected, firstRaw;
  std::deque<double> window;
  for (std::size_t i = 0; i < recorder->accuracies.size(); ++i) {
    const double a = recorder->accuracies[i];
    if (!firstRaw && a >= 0 && a <= 1.0) firstRaw = i + 1;
    window.push_back(a);
    if (window.size() > 6) window.pop_front();
    float sum = 0;
    int n = 0;
    for (double s : window) {
      if (s > -1.0) {
        sum += static_cast<float>(s);
        ++n;
      }
    }
    if (!expected && n > 1 && sum / static_cast<float>(n) <= 1.0f) expected = i + 1;
  }
  ASSERT_TRUE(expected && firstRaw);
  EXPECT_GT(*expected, *firstRaw);
  ASSERT_FALSE(firedAt.empty());
  EXPECT_EQ(firedAt.front(), *expected);
  ASSERT_TRUE(fired && fired->event);
  EXPECT_EQ(fired->event->beaconID(), "b-1");
}

TEST_F(HubFixture, APassQueuedBeforeTeardownDoesNothing) {
  auto manager = KSEventManager::create({.hub = hub, .scheduler = world.scheduler}, provider.get());
  int fired = 0;
  manager->monitorEventWithTrigger(KSTrigger::initWithIdentifier("t", {KSEventFilter::filterByClosestBeacon()}),
                                   [&](const auto&) { ++fired; });
  b1->setAccuracy(0.5);
  hub->beaconRangerDidRangeBeacons(*hub->beaconRanger(), {b1});  // queued on the work queue
  manager.reset();
  world.runUntilIdle();
  EXPECT_EQ(fired, 0);
}

}  // namespace
}  // namespace velmora::kestrine
