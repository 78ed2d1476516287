#include "testing/SimWorld.h"

#include <gtest/gtest.h>

namespace velmora::testing {
namespace {

// A ranging report and an app transition scheduled for the same stretch of virtual time
// arrive in time order through one advanceBy.
TEST(SimWorldTest, PlaysAllSimulationsOnOneClock) {
  SimWorld world;
  std::vector<std::string> log;
  auto main = world.scheduler->mainQueue();
  auto token = world.center->addObserver("", nullptr, nullptr, [&](const platform::Notification& n) {
    log.push_back(std::to_string(world.scheduler->manualClock()->uptime().count() / 1000) + " " + n.name);
  });

  struct Ranging final : platform::location::LocationManagerDelegate {
    std::vector<std::string>* log;
    platform::dispatch::VirtualScheduler* s;
    void didRangeBeacons(const std::vector<platform::location::Beacon>& b,
                         const platform::location::BeaconRegion&) override {
      log->push_back(std::to_string(s->manualClock()->uptime().count() / 1000) + " ranged " +
                     std::to_string(b.size()));
    }
  };
  auto ranging = std::make_shared<Ranging>();
  ranging->log = &log;
  ranging->s = world.scheduler.get();
  world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
  auto manager = world.location->makeManager(ranging, world.scheduler->makeSerialQueue("sdk"));
  const auto uuid = platform::Uuid::random();
  manager->startRangingBeacons(platform::location::BeaconRegion::make(uuid, "r"));
  world.location->hear(uuid, 1, 2, -59, -60);
  world.app->performAfter(1.5, platform::sim::SimApp::Step::LaunchForeground);
  world.advanceBy(2);
  EXPECT_EQ(log, (std::vector<std::string>{"1000 ranged 1", "1500 UIApplicationDidFinishLaunchingNotification",
                                           "1500 UIApplicationDidBecomeActiveNotification", "2000 ranged 1"}));  // heard 2 s ago: still listed, at RSSI 0
  EXPECT_TRUE(std::filesystem::is_directory(world.app->documentsDirectory()));
  world.center->removeObserver(token);
}

// The bundle is the world's own sims: a central made through it reports the radio's power,
// and the defaults write their file into the app's documents folder.
TEST(SimWorldTest, BundleHandsOutTheSimulatedPlatform) {
  SimWorld world;
  const auto b = world.bundle();
  EXPECT_EQ(b.scheduler, world.scheduler);
  EXPECT_EQ(b.notificationCenter, world.center);
  EXPECT_EQ(b.app, world.app);
  EXPECT_EQ(b.location, world.location);
  EXPECT_EQ(b.reachability, world.reachability);

  struct States final : platform::bluetooth::CentralDelegate {
    std::vector<platform::bluetooth::CentralState> seen;
    void centralDidUpdateState(platform::bluetooth::CentralState state) override { seen.push_back(state); }
  };
  auto states = std::make_shared<States>();
  ASSERT_TRUE(b.centralMaker && *b.centralMaker);
  auto central = (*b.centralMaker)(states, world.scheduler->makeSerialQueue("sdk"));
  world.runUntilIdle();
  EXPECT_EQ(states->seen, std::vector{platform::bluetooth::CentralState::PoweredOn});

  ASSERT_TRUE(b.defaults);
  b.defaults->setObject("k", "v");
  ASSERT_TRUE(b.defaults->synchronize());
  EXPECT_EQ(b.defaults->path().parent_path(), world.app->documentsDirectory());
  EXPECT_EQ(platform::UserDefaults::open(b.defaults->path())->stringForKey("k"), "v");
}

}  // namespace
}  // namespace velmora::testing
