// A host that keeps the beacon layer's registry, a beacon manager and its lane-detection
// service in globals, starts the SDK on the simulated platform, hears beacons for a while and
// returns from main with all of it still running. The exit status is the verdict: nothing
// may throw, abort or read a destroyed static while the globals go at exit.
//
//   exit_with_sdk_running shared  the host's registry is also the installed shared one
//   exit_with_sdk_running own     the host uninstalls it before returning, so its global is
//                                 the last owner and the whole SDK is torn down at exit
#include <fmt/format.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/BeaconService.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/sim/SimTrace.h"
#include "testing/LaneStackWorld.h"
#include "testing/ParkingServiceFake.h"
#include "testing/SimWorld.h"

namespace {

using namespace velmora;

// Hears the service and keeps what it says, as a host's view model does.
class HostDelegate final : public BeaconServiceDelegate {
 public:
  void carParkIdChanged(std::int64_t id) override { carParkId = id; }
  void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) override { closest = lane; }
  std::int64_t carParkId = 0;
  std::shared_ptr<LaneModel> closest;
};

// The host's globals, in the order a host declares them: the platform first.
std::unique_ptr<testing::SimWorld> gWorld;
std::shared_ptr<kestrine::KSInstanceProvider> gRegistry;
std::shared_ptr<kestrine::KSBeaconManager> gBeaconManager;
std::shared_ptr<HostDelegate> gDelegate;
std::shared_ptr<BeaconService> gService;

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "shared";
  if (mode != "shared" && mode != "own") {
    std::fprintf(stderr, "usage: %s shared|own\n", argv[0]);
    return 2;
  }

  // The simulated platform and the registry over it, kept by the host.
  gWorld = std::make_unique<testing::SimWorld>();
  platform::dispatch::Scheduler::setShared(gWorld->scheduler);
  gWorld->location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
  gRegistry = kestrine::KSInstanceProvider::create(gWorld->bundle());
  kestrine::KSInstanceProvider::setSharedProvider(gRegistry);
  kestrine::KSModelClock::setClock(gWorld->scheduler->clock());
  // The cloud API off (there is no beacon cloud here); the local store on, in the documents
  // folder, so that it too is open at exit.
  kestrine::KestrineSDK::setOptions({{std::string(kestrine::KSOptionUseApi), platform::Value(false)}});
  gWorld->app->perform(platform::sim::SimApp::Step::LaunchForeground);
  gWorld->runUntilIdle();

  testing::ParkingServiceFake parking;
  VelmoraSDKConfig::setServerName(parking.baseUrl());
  VelmoraSDKConfig::setUser(testing::ParkingServiceFake::kUserId,
                            std::string(testing::ParkingServiceFake::kUserToken));

  const std::string uuid(testing::ParkingServiceFake::kBeaconUuid);
  gBeaconManager = kestrine::KSBeaconManager::create();
  auto region = std::make_shared<kestrine::KSBeaconRegion>();
  region->setIdentifier("host.lanes");
  region->setProximityUUIDString(uuid);
  gBeaconManager->startMonitoringBeaconRegion(region);

  gDelegate = std::make_shared<HostDelegate>();
  gService = BeaconService::create();
  gService->setDelegate(gDelegate);
  gService->initService();
  bool started = false;
  gService->startService([&](const BeaconServiceResult& r) { started = r.success; });
  gWorld->runUntilIdle();
  if (!started) {
    std::fprintf(stderr, "the service did not start\n");
    return 3;
  }

  // The entry beacon ("UUID:major:minor"), ten frames a second for eight seconds.
  const std::string entry = testing::ParkingServiceFake::entryBeaconId();
  const auto minorAt = entry.rfind(':');
  const auto majorAt = entry.rfind(':', minorAt - 1);
  const int major = std::stoi(entry.substr(majorAt + 1, minorAt - majorAt - 1));
  const int minor = std::stoi(entry.substr(minorAt + 1));
  std::string text;
  for (int i = 0; i < 80; ++i) {
    text += fmt::format("{:.3f} adv B1 -60 mfr={}\n", i * 0.1, testing::iBeaconFrameHex(uuid, major, minor, -59));
  }
  auto trace = platform::sim::SimTrace::parse(text);
  if (!trace) return 4;
  gWorld->radio->play(*trace);
  for (int second = 1; second <= 10; ++second) {
    gWorld->advanceBy(1);
    gWorld->runUntilSettled();
  }
  if (gDelegate->carParkId != testing::ParkingServiceFake::kCarParkId) {
    std::fprintf(stderr, "no car park heard (%lld)\n", static_cast<long long>(gDelegate->carParkId));
    return 5;
  }

  if (mode == "own") kestrine::KSInstanceProvider::setSharedProvider(nullptr);
  // Returns with the SDK running, the service ticking and the beacon still on the air.
  return 0;
}
