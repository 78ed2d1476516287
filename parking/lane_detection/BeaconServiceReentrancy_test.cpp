// The host calling back into BeaconService from inside its delegate calls, as an app does
// when it hears of a new car park: every setter from every callback, the delegate swapped or
// released mid-pass, the service released mid-pass, and what a host feeds it by hand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "testing/LaneDetectionTestSupport.h"

namespace velmora::lane_test {
namespace {

using ::testing::ElementsAre;

DetailsResult harbour() {
  return carParkReply(7, "Harbour",
                      {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1), beaconId(100, 2)}},
                       {.laneId = 102, .laneType = 1, .group = 1, .sortOrder = 2, .beacons = {beaconId(100, 3)}}});
}

enum class Callback { Name, Id, Beacons, Lanes, LaneBeacons, Closest };

std::string_view callbackName(Callback c) {
  switch (c) {
    case Callback::Name: return "carParkNameChanged";
    case Callback::Id: return "carParkIdChanged";
    case Callback::Beacons: return "beaconsChanged";
    case Callback::Lanes: return "lanesChanged";
    case Callback::LaneBeacons: return "laneBeaconsChanged";
    case Callback::Closest: return "closestLaneChanged";
  }
  return "?";
}

// Records like RecordingDelegate and, the first time `hook` names the callback, runs `action`
// from inside it. Reads every list it is handed, as a host's table view does.
class ReenteringDelegate final : public BeaconServiceDelegate {
 public:
  std::optional<Callback> hook;
  std::function<void()> action;
  std::vector<std::string> events;

  void carParkNameChanged(const std::string& name) override { heard(Callback::Name, fmt::format("N({})", name)); }
  void carParkIdChanged(std::int64_t id) override { heard(Callback::Id, fmt::format("I({})", id)); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) override {
    std::vector<std::string> names;
    for (const auto& b : beacons) names.push_back(b->beaconID().substr(b->beaconID().find(':') + 1));
    heard(Callback::Beacons, fmt::format("B[{}]", fmt::join(names, ",")), [&] {
      // The list handed in must still be whole after the host's call.
      for (const auto& b : beacons) (void)b->rssi();
    });
  }
  void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    heard(Callback::Lanes, fmt::format("L[{}]", laneIds(lanes)), [&] {
      for (const auto& l : lanes) (void)l->laneBeacons();
    });
  }
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    heard(Callback::LaneBeacons, fmt::format("LB[{}]", laneIds(lanes)), [&] {
      for (const auto& l : lanes) (void)l->rssi();
    });
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    heard(Callback::Closest, fmt::format("C({})", laneText(lane)), [&] {
      if (lane) (void)lane->laneId();
    });
  }

 private:
  static std::string laneIds(const std::vector<std::shared_ptr<LaneModel>>& lanes) {
    std::vector<std::string> ids;
    for (const auto& l : lanes) ids.push_back(laneText(l));
    return fmt::format("{}", fmt::join(ids, ","));
  }
  void heard(Callback c, std::string event, const std::function<void()>& reread = {}) {
    events.push_back(std::move(event));
    if (hook == c && action) {
      auto once = std::exchange(action, nullptr);
      once();
      if (reread) reread();
    }
  }
};

// One service on virtual time with the scripted lookups and the fake beacon SDK.
struct World {
  World() {
    platform::dispatch::Scheduler::setShared(scheduler);
    VelmoraSDKConfig::setUser(42, "token-42");
    lookups->add(harbour());
    service = BeaconService::create(sdk, lookups);
    service->setDelegate(delegate);  // held through the interface type, as a host holds it
    service->initService();
  }
  ~World() {
    service.reset();
    scheduler->runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  double now() const { return scheduler->manualClock()->now().timeIntervalSinceReferenceDate(); }
  // A report at virtual time t, run to its end; the events it caused.
  std::vector<std::string> reportAt(double t, std::vector<RangedBeacon> beacons) {
    if (t > now()) scheduler->advanceBy(t - now());
    scheduler->runUntilIdle();
    delegate->events.clear();
    sdk->deliver(std::move(beacons));
    scheduler->runUntilIdle();
    return std::exchange(delegate->events, {});
  }
  // The drive every case plays: the first report finds the car park and switches to it
  // (every callback fires), the second picks the closest lane.
  std::vector<std::vector<std::string>> drive() {
    return {reportAt(1, {b(1, -60), b(2, -62)}), reportAt(4, {b(1, -58), b(2, -63)})};
  }
  static RangedBeacon b(int minor, std::int64_t rssi) { return velmora::testing::iBeacon(kUuid, 100, minor, rssi); }

  velmora::testing::ConfigReset config;
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<velmora::testing::FakeBeaconSDK> sdk = std::make_shared<velmora::testing::FakeBeaconSDK>();
  std::shared_ptr<ScriptedLookups> lookups = std::make_shared<ScriptedLookups>();
  std::shared_ptr<ReenteringDelegate> delegate = std::make_shared<ReenteringDelegate>();
  std::shared_ptr<BeaconService> service;
};

// Each setter called from inside each callback of the first pass: the pass runs to its end
// exactly as without the call (same events, same lists), and the setter's effect follows it,
// before the next pass.
TEST(BeaconServiceReentrancy, EverySetterFromEveryCallbackTakesEffectWhenThePassEnds) {
  std::vector<std::vector<std::string>> plain;
  {
    World world;
    plain = world.drive();
  }
  ASSERT_EQ(plain[0].front(), "N(Harbour)");
  ASSERT_EQ(plain[1].back(), "B[100:1,100:2]");
  ASSERT_NE(std::find(plain[1].begin(), plain[1].end(), "C(101)"), plain[1].end());

  struct Setter {
    std::string name;
    std::function<void(BeaconService&)> call;
    // What the service reports once the pass has ended.
    std::vector<std::string> after;
    // Whether the pass's state (the held car park and its lanes) is gone afterwards.
    bool resets;
  };
  const std::vector<Setter> setters = {
      {"reset", [](BeaconService& s) { s.reset(true); }, resetEvents(), true},
      {"setUserStatus", [](BeaconService& s) { s.setUserStatus(ScriptedLookups::outOfCarPark()); }, resetEvents(),
       true},
      {"onBackground", [](BeaconService& s) { s.onBackground(); }, resetEvents(), true},
      {"onForeground", [](BeaconService& s) { s.onForeground(); }, resetEvents(), true},
      {"setTimerEnabled", [](BeaconService& s) { s.setTimerEnabled(false); }, {}, false},
      // A report fed during a pass is dropped, as one from the beacon SDK is.
      {"updateRangedBeacons",
       [](BeaconService& s) { s.updateRangedBeacons({BeaconModel::toModel(World::b(3, -40)), nullptr}); }, {}, false},
      // The beacon SDK's own calls do not touch what the pass reads.
      {"stopService", [](BeaconService& s) { s.stopService(nullptr); }, {}, false},
      {"initService", [](BeaconService& s) { s.initService(); }, {}, false},
      // Getters and the status lookup answer from inside a call too.
      {"getters",
       [](BeaconService& s) {
         (void)s.getClosestLane();
         (void)s.getCarParkName();
         (void)s.getAcceptableLaneTypes();
       },
       {},
       false},
  };
  for (Callback c : {Callback::Name, Callback::Id, Callback::Beacons, Callback::Lanes, Callback::LaneBeacons,
                     Callback::Closest}) {
    for (const Setter& setter : setters) {
      SCOPED_TRACE(fmt::format("{} from {}", setter.name, callbackName(c)));
      World world;
      world.delegate->hook = c;
      world.delegate->action = [&world, &setter] { setter.call(*world.service); };
      auto first = world.reportAt(1, {World::b(1, -60), World::b(2, -62)});
      std::vector<std::string> expected = plain[0];
      expected.insert(expected.end(), setter.after.begin(), setter.after.end());
      EXPECT_EQ(first, expected);
      // The next pass sees the setter's effect: after a reset the car park is found again
      // and switched to only after the hold-off, which a reset reopens.
      EXPECT_EQ(world.lookups->detailCalls, 1);
      auto second = world.reportAt(4, {World::b(1, -58), World::b(2, -63)});
      EXPECT_EQ(world.lookups->detailCalls, setter.resets ? 2 : 1);
      if (!setter.resets) {
        EXPECT_EQ(second, plain[1]);
      }
      EXPECT_EQ(world.service->getCarParkId(), 7);
    }
  }
}

// A reset that the host starts from its own block on the work queue runs at once, and a
// setter called from the reset's callbacks waits for that reset to end.
TEST(BeaconServiceReentrancy, OnTheWorkQueueOutsideACallASetterRunsAtOnce) {
  World world;
  world.drive();
  int resetsInsideCallbacks = 0;
  world.delegate->hook = Callback::Beacons;
  world.delegate->action = [&] {
    world.service->setUserStatus(ScriptedLookups::inCarPark(7));
    ++resetsInsideCallbacks;
  };
  world.delegate->events.clear();
  std::vector<std::string> seenRightAfter;
  world.service->workQueue()->async([&] {
    world.service->reset(false);
    seenRightAfter = world.delegate->events;
  });
  world.scheduler->runUntilIdle();
  // Both resets ran before reset() returned: first the host's, whole, then the one its
  // callback asked for.
  std::vector<std::string> twice = resetEvents();
  const auto again = resetEvents();
  twice.insert(twice.end(), again.begin(), again.end());
  EXPECT_EQ(seenRightAfter, twice);
  EXPECT_EQ(resetsInsideCallbacks, 1);
  EXPECT_EQ(world.delegate->events, twice);
  EXPECT_EQ(world.service->getAcceptableLaneTypes(), (std::vector<std::int64_t>{2, 4, 3}));
}

// setDelegate is the exception: it takes effect at the next call, so a host that detaches
// inside a callback hears nothing more of that pass.
TEST(BeaconServiceReentrancy, DetachingOrReplacingTheDelegateInsideACallTakesEffectAtTheNextCall) {
  World world;
  auto other = std::make_shared<ReenteringDelegate>();
  world.delegate->hook = Callback::Id;
  world.delegate->action = [&] { world.service->setDelegate(other); };
  auto events = world.reportAt(1, {World::b(1, -60), World::b(2, -62)});
  EXPECT_THAT(events, ElementsAre("N(Harbour)", "I(7)"));
  EXPECT_EQ(other->events.front(), "C(nil)");
  EXPECT_EQ(other->events.back(), "B[100:1,100:2]");

  other->hook = Callback::Lanes;
  other->action = [&] { world.service->setDelegate(nullptr); };
  other->events.clear();
  world.service->reset(false);
  world.scheduler->runUntilIdle();
  EXPECT_THAT(other->events, ElementsAre("B[]", "L[]"));
}

// The delegate is held weakly: once the host lets it go it is not called, and the service
// runs on without it.
TEST(BeaconServiceReentrancy, ADelegateTheHostReleasedIsNotCalled) {
  World world;
  std::weak_ptr<BeaconServiceDelegate> weak = world.delegate;
  world.delegate->hook = Callback::Name;
  world.delegate->action = [&] { world.delegate.reset(); };  // the host's last reference, mid-pass
  world.scheduler->advanceBy(1);
  world.sdk->deliver({World::b(1, -60), World::b(2, -62)});
  world.scheduler->runUntilIdle();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(world.service->delegate(), nullptr);
  EXPECT_EQ(world.service->getCarParkId(), 7);
  world.sdk->deliver({World::b(1, -50)});
  world.scheduler->runUntilIdle();
}

// The host drops its last reference to the service inside a callback: the pass, and the
// setter it deferred, end on the reference they hold; then the service goes and nothing
// more is reported.
TEST(BeaconServiceReentrancy, TheServiceReleasedInsideACallFinishesThePassAndGoes) {
  World world;
  std::weak_ptr<BeaconService> weak = world.service;
  world.delegate->hook = Callback::Name;
  world.delegate->action = [&] {
    world.service->reset(false);
    world.service.reset();
  };
  world.scheduler->advanceBy(1);
  world.sdk->deliver({World::b(1, -60), World::b(2, -62)});
  world.scheduler->runUntilIdle();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(world.sdk->hasListener());
  EXPECT_EQ(world.delegate->events.back(), "C(nil)");  // the deferred reset's last call
  world.delegate->events.clear();
  world.sdk->deliver({World::b(1, -60)});
  world.scheduler->advanceBy(20);
  world.scheduler->runUntilIdle();
  EXPECT_TRUE(world.delegate->events.empty());
}

// A host feeding snapshots itself may hand in empty slots: they are skipped, the rest is one
// report.
TEST(BeaconServiceReentrancy, NullSnapshotsInAHostReportAreSkipped) {
  World world;
  world.scheduler->advanceBy(1);
  world.service->updateRangedBeacons({nullptr, BeaconModel::toModel(World::b(1, -60)), nullptr});
  world.scheduler->runUntilIdle();
  EXPECT_EQ(world.delegate->events.back(), "B[100:1]");
  EXPECT_EQ(world.service->getCarParkId(), 7);
  world.delegate->events.clear();
  world.service->updateRangedBeacons({nullptr});  // nothing left: an empty report
  world.scheduler->runUntilIdle();
  EXPECT_EQ(std::count(world.delegate->events.begin(), world.delegate->events.end(), "B[100:1]"), 0);
}

}  // namespace
}  // namespace velmora::lane_test
