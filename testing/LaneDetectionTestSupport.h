#pragma once

// Helpers of the lane-detection tests: a delegate that records what it hears as short
// texts, scripted parking lookups, car-park builders, and a fixture on virtual time.

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/DetailsResult.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/BeaconModel.h"
#include "parking/lane_detection/BeaconService.h"
#include "parking/lane_detection/BeaconServiceDelegate.h"
#include "parking/lane_detection/ParkingLookups.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/ConfigReset.h"
#include "testing/FakeBeaconSDK.h"

namespace velmora::lane_test {

inline std::string laneText(const std::shared_ptr<LaneModel>& lane) {
  if (!lane) return "nil";
  auto id = lane->laneId();
  return id ? std::to_string(*id) : "?";
}

// Records every delegate call as a short text:
//   N(name) I(id) B[b1,b2] L[101,102] LB[101 -70,102 -85] C(101) / C(nil)
// Beacon ids are shown through `label` (identity by default), so a test can name them.
class RecordingDelegate final : public BeaconServiceDelegate {
 public:
  std::function<std::string(const std::string&)> label = [](const std::string& id) { return id; };

  void carParkNameChanged(const std::string& name) override { add(fmt::format("N({})", name)); }
  void carParkIdChanged(std::int64_t id) override { add(fmt::format("I({})", id)); }
  void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) override {
    std::vector<std::string> names;
    for (const auto& b : beacons) names.push_back(label(b->beaconID()));
    add(fmt::format("B[{}]", fmt::join(names, ",")));
  }
  void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    std::vector<std::string> ids;
    for (const auto& l : lanes) ids.push_back(laneText(l));
    add(fmt::format("L[{}]", fmt::join(ids, ",")));
    std::lock_guard lock(mutex_);
    lastLanes_ = lanes;
  }
  void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) override {
    std::vector<std::string> items;
    for (const auto& l : lanes) items.push_back(fmt::format("{} {}", laneText(l), l->rssi()));
    add(fmt::format("LB[{}]", fmt::join(items, ",")));
  }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override {
    add(fmt::format("C({})", laneText(lane)));
    std::lock_guard lock(mutex_);
    closestObjects_.push_back(lane);
  }

  // The events since the last take, and forgets them.
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    auto out = std::move(events_);
    events_.clear();
    return out;
  }
  // The list of the last lanesChanged.
  std::vector<std::shared_ptr<LaneModel>> lastLanes() const {
    std::lock_guard lock(mutex_);
    return lastLanes_;
  }
  std::vector<std::shared_ptr<LaneModel>> closestObjects() const {
    std::lock_guard lock(mutex_);
    return closestObjects_;
  }

 private:
  void add(std::string e) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<std::shared_ptr<LaneModel>> closestObjects_;
  std::vector<std::shared_ptr<LaneModel>> lastLanes_;
};

// The four events of a reset.
inline std::vector<std::string> resetEvents() { return {"B[]", "L[]", "LB[]", "C(nil)"}; }

// Parking lookups answered from memory: a status and a car park per beacon id, with call
// counts. A detail may take virtual time (detailSeconds) before it answers.
class ScriptedLookups final : public ParkingLookups {
 public:
  StatusResult status(const StatusRequest&) override {
    std::lock_guard lock(mutex_);
    ++statusCalls;
    return statusReply;
  }
  DetailsResult detail(const DetailsRequest& request) override {
    double wait = 0;
    DetailsResult reply;
    {
      std::lock_guard lock(mutex_);
      ++detailCalls;
      detailIds.push_back(request.beaconID.value_or("<nil>"));
      wait = detailSeconds;
      auto it = carParks.find(request.beaconID.value_or(""));
      if (it == carParks.end()) {
        reply.result = "Failure";
        reply.message = "Http Status failed: 404";
      } else {
        reply = it->second;
      }
    }
    if (wait > 0) {
      // Blocks the pass for `wait` seconds of the shared scheduler's time.
      auto scheduler = platform::dispatch::Scheduler::shared();
      auto group = scheduler->makeGroup();
      group->enter();
      auto timer = scheduler->makeTimer(scheduler->globalQueue());
      timer->setEventHandler([group] { group->leave(); });
      timer->schedule(wait, 0);
      timer->resume();
      group->wait();
      timer->cancel();
    }
    return reply;
  }

  // Every beacon of every lane of the car park answers with it.
  void add(const DetailsResult& carPark) {
    std::lock_guard lock(mutex_);
    for (const auto& lane : carPark.lanes) {
      for (const auto& b : lane.laneBeacons) carParks[b.beaconId] = carPark;
    }
  }

  std::mutex mutex_;
  StatusResult statusReply = outOfCarPark();
  std::map<std::string, DetailsResult> carParks;
  double detailSeconds = 0;
  int statusCalls = 0;
  int detailCalls = 0;
  std::vector<std::string> detailIds;

  static StatusResult outOfCarPark() {
    StatusResult s;
    s.result = "Success";
    return s;
  }
  static StatusResult inCarPark(std::optional<std::int64_t> carParkId, bool nested = false) {
    StatusResult s = outOfCarPark();
    s.inCarPark = true;
    s.isNested = nested;
    s.carParkId = carParkId;
    return s;
  }
};

// One lane of a details reply.
struct LaneSpec {
  std::optional<std::int64_t> laneId;
  std::optional<std::int64_t> laneType;
  std::optional<std::int64_t> group;
  std::optional<std::int64_t> sortOrder;
  std::vector<std::string> beacons;
  std::optional<std::int64_t> minRSSI = -70;
  std::optional<std::int64_t> minSecs = 2;
  std::optional<std::int64_t> maxSecs = 6;
  std::optional<std::int64_t> retrySecs = 3;
};

inline DetailsResult carParkReply(std::int64_t id, std::string name, const std::vector<LaneSpec>& lanes) {
  DetailsResult r;
  r.result = "Success";
  r.carParkId = id;
  r.carParkName = std::move(name);
  for (const auto& spec : lanes) {
    LaneResult lane;
    lane.laneId = spec.laneId.value_or(0);
    lane.laneType = spec.laneType.value_or(0);
    lane.laneGroupId = spec.group;
    lane.sortOrder = spec.sortOrder.value_or(1);
    lane.minRSSI = spec.minRSSI.value_or(0);
    lane.minDetectionSecs = spec.minSecs.value_or(0);
    lane.maxDetectionSecs = spec.maxSecs.value_or(0);
    lane.retrySecs = spec.retrySecs;
    std::int64_t n = 0;
    for (const auto& b : spec.beacons) {
      LaneBeaconResult lb;
      lb.laneBeaconId = lane.laneId * 10 + n++;
      lb.beaconId = b;
      lane.laneBeacons.push_back(lb);
    }
    r.lanes.push_back(lane);
  }
  return r;
}

inline constexpr const char* kUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
inline std::string beaconId(int major, int minor) { return fmt::format("{}:{}:{}", kUuid, major, minor); }

// A service on virtual time from t = 0 with the fake SDK, scripted lookups and a recording
// delegate; user 42 signed in.
class VirtualServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::dispatch::Scheduler::setShared(scheduler);
    VelmoraSDKConfig::setUser(42, "token-42");
    service = BeaconService::create(sdk, lookups);
    service->setDelegate(recorder);
    service->initService();
  }
  void TearDown() override {
    service.reset();
    scheduler->runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }

  double now() const { return scheduler->manualClock()->now().timeIntervalSinceReferenceDate(); }
  // Moves virtual time to t (ticks due on the way fire), then runs what is posted.
  void at(double t) {
    if (t > now()) scheduler->advanceBy(t - now());
    scheduler->runUntilIdle();
  }
  // One ranging report at the current time, run to the end of its pass.
  void report(std::vector<RangedBeacon> beacons) {
    sdk->deliver(std::move(beacons));
    scheduler->runUntilIdle();
  }
  static RangedBeacon b(int minor, std::int64_t rssi, int major = 100) {
    return velmora::testing::iBeacon(kUuid, major, minor, rssi);
  }

  velmora::testing::ConfigReset config;
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<velmora::testing::FakeBeaconSDK> sdk = std::make_shared<velmora::testing::FakeBeaconSDK>();
  std::shared_ptr<ScriptedLookups> lookups = std::make_shared<ScriptedLookups>();
  std::shared_ptr<RecordingDelegate> recorder = std::make_shared<RecordingDelegate>();
  std::shared_ptr<BeaconService> service;
};

}  // namespace velmora::lane_test
