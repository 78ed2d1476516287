#include "platform/sim/SimLocation.h"

#include <gtest/gtest.h>


#include "platform/dispatch/VirtualScheduler.h"

namespace velmora::platform::sim {
namespace {

using location::AuthorizationStatus;
using location::Beacon;
using location::BeaconRegion;
using location::Proximity;
using location::RegionState;

const Uuid kUuid = *Uuid::parse("E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");

class Listener final : public location::LocationManagerDelegate {
 public:
  explicit Listener(dispatch::VirtualScheduler& s) : s_(s) {}
  std::vector<std::string> log;  // "<ms> <event> <region>"
  std::vector<std::pair<std::int64_t, std::vector<Beacon>>> ranged;
  std::vector<AuthorizationStatus> statuses;
  std::vector<location::Location> fixes;

  void didChangeAuthorization(AuthorizationStatus s) override { statuses.push_back(s); }
  void didUpdateLocations(const std::vector<location::Location>& l) override { fixes.insert(fixes.end(), l.begin(), l.end()); }
  void didEnterRegion(const BeaconRegion& r) override { add("enter", r); }
  void didExitRegion(const BeaconRegion& r) override { add("exit", r); }
  void didDetermineState(RegionState state, const BeaconRegion& r) override {
    add("state" + std::to_string(static_cast<int>(state)), r);
  }
  void monitoringDidFail(const BeaconRegion& r, const Error&) override { add("monitoring-failed", r); }
  void didRangeBeacons(const std::vector<Beacon>& beacons, const BeaconRegion&) override {
    ranged.emplace_back(now(), beacons);
  }

 private:
  std::int64_t now() const { return s_.manualClock()->uptime().count() / 1000; }
  void add(const std::string& what, const BeaconRegion& r) {
    log.push_back(std::to_string(now()) + " " + what + " " + r.identifier());
  }
  dispatch::VirtualScheduler& s_;
};

struct LocationFixture : ::testing::Test {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  std::shared_ptr<SimRadio> radio = SimRadio::create(scheduler);
  std::shared_ptr<SimLocation> sim = SimLocation::create(scheduler, radio);
  std::shared_ptr<Listener> listener = std::make_shared<Listener>(*scheduler);
  std::shared_ptr<dispatch::Queue> queue = scheduler->makeSerialQueue("sdk");
  std::shared_ptr<location::LocationManager> manager;

  void SetUp() override {
    sim->setAuthorizationStatus(AuthorizationStatus::AuthorizedAlways);
    manager = sim->makeManager(listener, queue);
    scheduler->runUntilIdle();
  }

  // An iBeacon frame through the radio, measured power -59.
  static SimAdvertiser beacon(std::uint16_t major, std::uint16_t minor, double interval, int rssi) {
    Bytes m = {0x4C, 0x00, 0x02, 0x15};
    m.insert(m.end(), kUuid.bytes().begin(), kUuid.bytes().end());
    m.insert(m.end(), {static_cast<std::uint8_t>(major >> 8), static_cast<std::uint8_t>(major),
                       static_cast<std::uint8_t>(minor >> 8), static_cast<std::uint8_t>(minor), 0xC5});
    return {.identifier = Uuid::random(),
            .advertisement = {.manufacturerData = m},
            .intervalSeconds = interval,
            .rssi = rssi};
  }
};

TEST_F(LocationFixture, AuthorisationIsPostedOnceToEachNewManager) {
  EXPECT_EQ(listener->statuses, std::vector<AuthorizationStatus>{AuthorizationStatus::AuthorizedAlways});
  auto other = std::make_shared<Listener>(*scheduler);
  sim->setAuthorizationStatus(AuthorizationStatus::NotDetermined);
  auto second = sim->makeManager(other, queue);
  sim->setAuthorizationAnswer(AuthorizationStatus::AuthorizedWhenInUse);
  second->requestWhenInUseAuthorization();
  scheduler->runUntilIdle();
  EXPECT_EQ(other->statuses, (std::vector<AuthorizationStatus>{AuthorizationStatus::NotDetermined,
                                                               AuthorizationStatus::AuthorizedWhenInUse}));
  EXPECT_EQ(listener->statuses.size(), 3u);
}

TEST_F(LocationFixture, MonitoringEntersAtTheFirstMatchAndExitsTenSecondsAfterTheLast) {
  auto majorOnly = BeaconRegion::make(kUuid, 7, "major-only");
  auto exact = BeaconRegion::make(kUuid, 7, 1, "exact");
  auto elsewhere = BeaconRegion::make(kUuid, 8, "elsewhere");
  manager->startMonitoring(majorOnly);
  manager->startMonitoring(exact);
  manager->startMonitoring(elsewhere);
  scheduler->advanceBy(2);
  listener->log.clear();

  auto b = beacon(7, 42, 0.5, -60);  // minor 42: in the major-only region only
  b.phaseSeconds = 1;
  radio->addAdvertiser(b);
  scheduler->advanceBy(5);  // frames at 3 s .. 7 s
  radio->removeAdvertiser(b.identifier);
  scheduler->advanceBy(20);
  EXPECT_EQ(listener->log, (std::vector<std::string>{"3000 enter major-only", "3000 state1 major-only",
                                                      "17000 exit major-only", "17000 state2 major-only"}));
}

TEST_F(LocationFixture, FirstStateAfterStartIsReportedWithoutAnExit) {
  radio->addAdvertiser(beacon(1, 1, 1, -60));
  scheduler->advanceBy(0.5);
  manager->startMonitoring(BeaconRegion::make(kUuid, 1, "here"));
  manager->startMonitoring(BeaconRegion::make(kUuid, 2, "there"));
  manager->requestState(BeaconRegion::make(kUuid, 2, "there"));
  scheduler->runUntilIdle();
  EXPECT_EQ(listener->log, (std::vector<std::string>{"500 enter here", "500 state1 here", "500 state2 there",
                                                      "500 state2 there"}));

  sim->failMonitoring("broken", Error("test", 1, "no"));
  manager->startMonitoring(BeaconRegion::make(kUuid, "broken"));
  scheduler->runUntilIdle();
  EXPECT_EQ(listener->log.back(), "500 monitoring-failed broken");
  EXPECT_EQ(manager->monitoredRegions().size(), 2u);
}

TEST_F(LocationFixture, RangingReportsEverySecondWithStaleBeaconsAtRssiZero) {
  auto steady = beacon(1, 1, 0.1, -59);  // 1 m: near
  auto close = beacon(1, 2, 0.1, -50);   // 0.35 m: immediate
  radio->addAdvertiser(steady);
  radio->addAdvertiser(close);
  manager->startRangingBeacons(BeaconRegion::make(kUuid, "all"));
  scheduler->advanceBy(3.5);
  radio->removeAdvertiser(close.identifier);  // last heard at 3.5 s
  scheduler->advanceBy(6.5);
  ASSERT_EQ(listener->ranged.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(listener->ranged[i].first, static_cast<std::int64_t>(i + 1) * 1000);

  const auto& third = listener->ranged[2].second;  // at 3 s: both heard, nearest first
  ASSERT_EQ(third.size(), 2u);
  EXPECT_EQ(third[0].minor, 2);
  EXPECT_EQ(third[0].proximity, Proximity::Immediate);
  EXPECT_EQ(third[0].rssi, -50);
  EXPECT_EQ(third[1].minor, 1);
  EXPECT_DOUBLE_EQ(third[1].accuracy, 1.0);
  EXPECT_EQ(third[1].proximity, Proximity::Near);

  const auto& fifth = listener->ranged[4].second;  // at 5 s: the close one silent for 1.5 s
  ASSERT_EQ(fifth.size(), 2u);
  EXPECT_EQ(fifth[1].minor, 2);
  EXPECT_EQ(fifth[1].rssi, 0);
  EXPECT_EQ(fifth[1].accuracy, -1);
  EXPECT_EQ(fifth[1].proximity, Proximity::Unknown);
  EXPECT_EQ(listener->ranged[6].second.size(), 1u);  // at 7 s: gone after 3 s of silence

  radio->removeAdvertiser(steady.identifier);
  scheduler->advanceBy(5);
  EXPECT_TRUE(listener->ranged.back().second.empty());  // empty reports keep coming
  EXPECT_EQ(listener->ranged.size(), 15u);

  sim->setAccuracyModel([](int, int) { return 5.0; });
  radio->addAdvertiser(steady);
  scheduler->advanceBy(1);
  ASSERT_EQ(listener->ranged.back().second.size(), 1u);
  EXPECT_EQ(listener->ranged.back().second[0].proximity, Proximity::Far);
}

TEST_F(LocationFixture, NothingIsHeardWithoutAuthorisation) {
  sim->setAuthorizationStatus(AuthorizationStatus::Denied);
  manager->startMonitoring(BeaconRegion::make(kUuid, "r"));
  manager->startRangingBeacons(BeaconRegion::make(kUuid, "r"));
  manager->startUpdatingLocation();
  radio->addAdvertiser(beacon(1, 1, 0.1, -60));
  sim->setLocation({.latitude = 1, .longitude = 2, .horizontalAccuracy = 5});
  scheduler->advanceBy(3);
  EXPECT_TRUE(listener->ranged.empty());
  EXPECT_TRUE(listener->fixes.empty());
  EXPECT_TRUE(manager->location().has_value());
}

TEST_F(LocationFixture, PositionsHonourTheDistanceFilter) {
  manager->setDistanceFilter(100);
  manager->startUpdatingLocation();
  sim->setLocation({.latitude = 51.5, .longitude = -0.1, .horizontalAccuracy = 5});
  sim->setLocation({.latitude = 51.5001, .longitude = -0.1, .horizontalAccuracy = 5});  // 11 m on
  sim->setLocation({.latitude = 51.502, .longitude = -0.1, .horizontalAccuracy = 5});   // 222 m on
  scheduler->runUntilIdle();
  ASSERT_EQ(listener->fixes.size(), 2u);
  EXPECT_EQ(listener->fixes[1].latitude, 51.502);
  manager->stopUpdatingLocation();
  sim->setLocation({.latitude = 52, .longitude = 0});
  scheduler->runUntilIdle();
  EXPECT_EQ(listener->fixes.size(), 2u);
}

}  // namespace
}  // namespace velmora::platform::sim
