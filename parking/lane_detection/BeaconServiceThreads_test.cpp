// BeaconService on real threads: reports from the beacon SDK's queue and from host threads,
// ticks driven by a clock that another thread moves, getters and setters from further
// threads, and the service destroyed while work is still in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "testing/LaneDetectionTestSupport.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/ParkingServiceFake.h"

namespace velmora::lane_test {
namespace {

using platform::dispatch::Scheduler;
using platform::dispatch::ThreadScheduler;

DetailsResult harbour() {
  return carParkReply(7, "Harbour",
                      {{.laneId = 101, .laneType = 1, .group = 1, .sortOrder = 1, .beacons = {beaconId(100, 1), beaconId(100, 2)}},
                       {.laneId = 102, .laneType = 1, .group = 1, .sortOrder = 2, .beacons = {beaconId(100, 3)}},
                       {.laneId = 201, .laneType = 2, .group = 2, .sortOrder = 1, .beacons = {beaconId(100, 4)}}});
}

std::vector<RangedBeacon> reportFor(int i) {
  std::vector<RangedBeacon> r;
  for (int minor = 1; minor <= 4; ++minor) {
    if ((i + minor) % 3 != 0) r.push_back(velmora::testing::iBeacon(kUuid, 100, minor, -50 - (i * 7 + minor * 11) % 40));
  }
  return r;
}

// The default parking lookups that fulfil a promise when the service that owns them lets them go.
class FarewellLookups final : public ParkingLookups {
 public:
  explicit FarewellLookups(std::promise<void> gone) : gone_(std::move(gone)) {}
  ~FarewellLookups() override { gone_.set_value(); }
  StatusResult status(const StatusRequest& request) override { return inner_->status(request); }
  DetailsResult detail(const DetailsRequest& request) override { return inner_->detail(request); }

 private:
  std::shared_ptr<ParkingLookups> inner_ = ParkingLookups::makeDefault();
  std::promise<void> gone_;
};

class BeaconServiceThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Scheduler::setShared(scheduler);
    VelmoraSDKConfig::setUser(42, "token-42");
  }
  void TearDown() override { Scheduler::setShared(nullptr); }

  velmora::testing::ConfigReset config;
  std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
  std::shared_ptr<ThreadScheduler> scheduler = std::make_shared<ThreadScheduler>(clock);
  std::shared_ptr<velmora::testing::FakeBeaconSDK> sdk = std::make_shared<velmora::testing::FakeBeaconSDK>();
};

TEST_F(BeaconServiceThreadsTest, ReportsTicksGettersAndSettersFromManyThreads) {
  auto lookups = std::make_shared<ScriptedLookups>();
  lookups->add(harbour());
  auto recorder = std::make_shared<RecordingDelegate>();
  auto service = BeaconService::create(sdk, lookups);
  service->setDelegate(recorder);
  service->initService();

  constexpr int kRounds = 300;
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the beacon SDK's ranging
    for (int i = 0; i < kRounds; ++i) sdk->deliver(reportFor(i));
  });
  threads.emplace_back([&] {  // a host feeding snapshots itself
    for (int i = 0; i < kRounds; ++i) {
      std::vector<std::shared_ptr<BeaconModel>> models;
      for (const auto& b : reportFor(i + 1)) models.push_back(BeaconModel::toModel(b));
      service->updateRangedBeacons(std::move(models));
    }
  });
  threads.emplace_back([&] {  // time passes: the tick fires on the timer thread
    for (int i = 0; i < 60; ++i) clock->advance(1.0);
  });
  threads.emplace_back([&] {  // host setters
    for (int i = 0; i < kRounds / 3; ++i) {
      service->setUserStatus(i % 2 ? ScriptedLookups::inCarPark(7) : ScriptedLookups::outOfCarPark());
      service->setTimerEnabled(i % 5 != 0);
      if (i % 7 == 0) service->reset(false);
      if (i % 11 == 0) service->onBackground();
      if (i % 11 == 5) service->onForeground();
    }
  });
  std::thread getters([&] {  // host getters, never waiting for a pass
    while (!done.load()) {
      auto lane = service->getClosestLane();
      if (lane) (void)lane->laneId();
      (void)service->getCarParkName();
      (void)service->getCarParkId();
      (void)service->getAcceptableLaneTypes();
    }
  });
  for (auto& t : threads) t.join();
  done = true;
  getters.join();

  // Let what was queued run out: reports on the delivery queue, then passes on the work queue.
  sdk->deliveryQueue()->sync([] {});
  service->workQueue()->sync([] {});
  service->onForeground();
  service->workQueue()->sync([] {});
  EXPECT_EQ(service->getClosestLane(), nullptr);  // the foreground reset was the last word
  EXPECT_EQ(service->getCarParkId(), 7);
  EXPECT_FALSE(recorder->take().empty());
}

TEST_F(BeaconServiceThreadsTest, DestroyedWhileReportsArriveAndAPassWaitsForTheNetwork) {
  velmora::testing::ParkingServiceFake fake;
  ASSERT_TRUE(fake.addCarPark(*encodeRecordJSON(harbour())));
  VelmoraSDKConfig::setServerName(fake.baseUrl());
  // The detail reply takes a while, so the pass is still waiting when the host lets go.
  velmora::testing::LoopbackHttpServer::Reply delayed;
  delayed.status = 404;
  delayed.delay = std::chrono::milliseconds(200);
  fake.server().setHandler("/v4.0/carpark/detail",
                           [delayed](const velmora::testing::LoopbackHttpServer::RecordedRequest&) { return delayed; });

  std::promise<void> gone;
  auto goneFuture = gone.get_future();
  auto service = BeaconService::create(sdk, std::make_shared<FarewellLookups>(std::move(gone)));
  auto recorder = std::make_shared<RecordingDelegate>();
  service->setDelegate(recorder);
  service->initService();
  std::weak_ptr<BeaconService> weak = service;

  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    int i = 0;
    while (!stop.load()) sdk->deliver(reportFor(i++));
  });
  ASSERT_TRUE(fake.server().waitForRequests(2, std::chrono::seconds(20)));  // status, then a detail
  service.reset();  // the running pass keeps the service until it ends
  goneFuture.wait();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(sdk->hasListener());
  stop = true;
  feeder.join();
  sdk->deliveryQueue()->sync([] {});  // reports still queued find no listener
}

}  // namespace
}  // namespace velmora::lane_test
