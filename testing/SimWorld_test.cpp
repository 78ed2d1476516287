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

}  // namespace
}  // namespace velmora::testing
