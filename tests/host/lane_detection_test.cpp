// Lane detection as a host app drives it: BeaconService made first (before anything else of
// the beacon SDK), then initService and startService, then a beacon region of its own and
// iBeacon traffic on the simulated radio; the car-park lookups go to a loopback parking
// service. And the host's setters called from inside each of the service's callbacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <optional>
#include <string>
#include <vector>

#include "HostParkingService.h"
#include "HostSdk.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/lane_detection/BeaconModel.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/BeaconServiceDelegate.h"

namespace hostsuite {
namespace {

using velmora::BeaconModel;
using velmora::BeaconService;
using velmora::BeaconServiceDelegate;
using velmora::LaneModel;

class LaneRecorder : public BeaconServiceDelegate {
 public:
  void carParkNameChanged(const std::string& name) override { names.push_back(name); }
  void carParkIdChanged(std::int64_t id) override { carParkIds.push_back(id); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) override {
    if (!beacons.empty()) ++beaconReports;
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    if (lane && lane->laneId()) closestLanes.push_back(*lane->laneId());
  }

  std::vector<std::string> names;
  std::vector<std::int64_t> carParkIds;
  int beaconReports = 0;
  std::vector<std::int64_t> closestLanes;
};

// The host's steps, with one lane beacon on the air from then on. ServiceFirst is the order
// the lane-detection guide gives (the service, then the beacon SDK's options);
// OptionsFirst configures the beacon SDK before the service exists.
enum class Order { ServiceFirst, OptionsFirst };

void PrintTo(Order order, std::ostream* os) { *os << (order == Order::ServiceFirst ? "ServiceFirst" : "OptionsFirst"); }

struct LaneDrive {
  explicit LaneDrive(std::shared_ptr<BeaconServiceDelegate> delegate, Order order = Order::ServiceFirst) {
    parking.signIn();
    if (order == Order::OptionsFirst) HostSdk::offlineOptions();
    service = BeaconService::create();
    service->setDelegate(std::move(delegate));
    if (order == Order::ServiceFirst) HostSdk::offlineOptions();
    service->initService();
    service->startService([this](const velmora::BeaconServiceResult& r) { started = r.success; });
    host.phone.runUntilIdle();

    regions = kestrine::KSBeaconManager::create();
    auto region = std::make_shared<kestrine::KSBeaconRegion>();
    region->setIdentifier("host.lanes");
    region->setProximityUUIDString(std::string(kProximityUuid));
    regions->startMonitoringBeaconRegion(region);
    host.phone.radio->addAdvertiser(SimPlatform::iBeaconAdvertiser(kProximityUuid, 100, 1, -59, -55));
    host.phone.runUntilIdle();
  }
  ~LaneDrive() {
    service->stopService([](const velmora::BeaconServiceResult&) {});
    service.reset();
    regions.reset();
    host.phone.runUntilIdle();
  }

  // Virtual seconds of traffic; the lookups are real loopback requests, so each second
  // also waits for the replies in flight.
  void drive(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      host.phone.advanceBy(1);
      host.phone.runUntilSettled();
    }
  }

  HostSdk host;
  HostParkingService parking;
  std::shared_ptr<BeaconService> service;
  std::shared_ptr<kestrine::KSBeaconManager> regions;
  std::optional<bool> started;
};

class HostLaneOrder : public ::testing::TestWithParam<Order> {};

TEST_P(HostLaneOrder, OneBeaconOnTheAirReachesTheLaneDecision) {
  auto recorder = std::make_shared<LaneRecorder>();
  LaneDrive drive(recorder, GetParam());
  ASSERT_EQ(drive.started, std::optional<bool>(true));
  drive.drive(15);

  EXPECT_GT(recorder->beaconReports, 0) << "no ranging pass reached the service";
  EXPECT_EQ(drive.parking.server.count("/v4.0/carpark/detail"), 1u);
  EXPECT_EQ(recorder->carParkIds, (std::vector<std::int64_t>{HostParkingService::kCarParkId}));
  EXPECT_EQ(recorder->names, (std::vector<std::string>{"Harbour"}));
  ASSERT_FALSE(recorder->closestLanes.empty());
  EXPECT_EQ(recorder->closestLanes.front(), HostParkingService::kEntryLaneId);
  EXPECT_EQ(drive.service->getCarParkId(), HostParkingService::kCarParkId);
}

INSTANTIATE_TEST_SUITE_P(BothOrders, HostLaneOrder, ::testing::Values(Order::ServiceFirst, Order::OptionsFirst),
                         [](const ::testing::TestParamInfo<Order>& info) {
                           return std::string(info.param == Order::ServiceFirst ? "ServiceFirst" : "OptionsFirst");
                         });

// --- setters from inside the callbacks

enum class Callback { CarParkName, CarParkId, Beacons, Lanes, LaneBeacons, ClosestLane };
enum class Setter { SetUserStatus, Reset, SetTimerEnabled, OnBackground };

// Calls the setter from inside the callback (each time it comes, up to a few times, so the
// pass that called keeps running over what the setter changed).
class ReentrantHost : public BeaconServiceDelegate {
 public:
  ReentrantHost(Callback callback, Setter setter) : callback_(callback), setter_(setter) {}
  std::weak_ptr<BeaconService> service;
  int calls = 0;

  void carParkNameChanged(const std::string&) override { hit(Callback::CarParkName); }
  void carParkIdChanged(std::int64_t) override { hit(Callback::CarParkId); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& b) override {
    if (!b.empty()) hit(Callback::Beacons);
  }
  void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& l) override {
    if (!l.empty()) hit(Callback::Lanes);
  }
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& l) override {
    if (!l.empty()) hit(Callback::LaneBeacons);
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    if (lane) hit(Callback::ClosestLane);
  }

 private:
  void hit(Callback which) {
    if (which != callback_ || calls >= 3) return;
    ++calls;
    auto s = service.lock();
    if (!s) return;
    switch (setter_) {
      case Setter::SetUserStatus: {
        velmora::StatusResult status;
        status.result = "Success";
        status.inCarPark = false;
        s->setUserStatus(status);
        break;
      }
      case Setter::Reset:
        s->reset(false);
        break;
      case Setter::SetTimerEnabled:
        s->setTimerEnabled(false);
        s->setTimerEnabled(true);
        break;
      case Setter::OnBackground:
        s->onBackground();
        s->onForeground();
        break;
    }
  }
  const Callback callback_;
  const Setter setter_;
};

struct ReentrancyCase {
  const char* name;
  Callback callback;
  Setter setter;
};

void PrintTo(const ReentrancyCase& c, std::ostream* os) { *os << c.name; }

class HostSetterInsideCallback : public ::testing::TestWithParam<ReentrancyCase> {};

// Each case runs in a child process: a use-after-free there is reported by the sanitizer
// (or crashes) without taking the other cases with it. The child exits 0 when the drive
// ended and the callback did call the setter.
// The drive with the re-entrant host; 0 when it ended and the callback did call the setter.
int driveReentrant(ReentrancyCase c) {
  auto host = std::make_shared<ReentrantHost>(c.callback, c.setter);
  int calls = 0;
  {
    // Options first, so that these cases do not depend on how the service is made.
    LaneDrive drive(host, Order::OptionsFirst);
    host->service = drive.service;
    drive.drive(20);
    calls = host->calls;
  }
  std::fprintf(stderr, "setter calls from the callback: %d\n", calls);
  return calls > 0 ? 0 : 3;
}

TEST_P(HostSetterInsideCallback, TakesEffectWithoutHarmingThePass) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(driveReentrant(GetParam())), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryCallback, HostSetterInsideCallback,
    ::testing::Values(ReentrancyCase{"NameThenStatus", Callback::CarParkName, Setter::SetUserStatus},
                      ReentrancyCase{"NameThenReset", Callback::CarParkName, Setter::Reset},
                      ReentrancyCase{"IdThenStatus", Callback::CarParkId, Setter::SetUserStatus},
                      ReentrancyCase{"IdThenReset", Callback::CarParkId, Setter::Reset},
                      ReentrancyCase{"BeaconsThenReset", Callback::Beacons, Setter::Reset},
                      ReentrancyCase{"BeaconsThenBackground", Callback::Beacons, Setter::OnBackground},
                      ReentrancyCase{"LanesThenStatus", Callback::Lanes, Setter::SetUserStatus},
                      ReentrancyCase{"LaneBeaconsThenReset", Callback::LaneBeacons, Setter::Reset},
                      ReentrancyCase{"ClosestThenReset", Callback::ClosestLane, Setter::Reset},
                      ReentrancyCase{"ClosestThenTimer", Callback::ClosestLane, Setter::SetTimerEnabled}),
    [](const ::testing::TestParamInfo<ReentrancyCase>& info) { return std::string(info.param.name); });

// A host's own ranging report may carry a null entry; the service skips it.
int reportWithNullEntries() {
  HostSdk host;
  HostParkingService parking;
  parking.signIn();
  auto service = BeaconService::create();
  auto beacon = BeaconModel::create();
  beacon->setBeaconID(beaconId(100, 1));
  beacon->setRssi(-60);
  service->updateRangedBeacons({nullptr, beacon, nullptr});
  host.phone.runUntilSettled();
  service.reset();
  host.phone.runUntilIdle();
  return 0;
}

TEST(HostLaneDetection, NullEntryInAHostReportIsSkipped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(reportWithNullEntries()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostsuite
