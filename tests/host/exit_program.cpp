// A host program that keeps the SDK's registry and a BeaconService in globals and returns
// from main with the beacon SDK running, as many apps end. Its exit status must be 0.
//
//   host_exit_program sim      on the simulated phone (also a global), ranging a beacon
//   host_exit_program system   on the process's own platform and threads
#include <unistd.h>

#include <cstring>
#include <memory>
#include <optional>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "parking/lane_detection/BeaconService.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/sim/SimPlatform.h"

namespace kestrine = velmora::kestrine;
using velmora::platform::sim::SimPlatform;

namespace {
std::optional<SimPlatform> gPhone;
std::shared_ptr<kestrine::KSInstanceProvider> gRegistry;
std::shared_ptr<velmora::BeaconService> gService;
std::shared_ptr<kestrine::KSBeaconManager> gRegions;
constexpr const char* kUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
}  // namespace

int main(int argc, char** argv) {
  // A hang (in the run or at exit) ends the program with SIGALRM instead of stalling the test.
  ::alarm(60);
  const bool sim = argc < 2 || std::strcmp(argv[1], "system") != 0;
  if (sim) {
    gPhone.emplace();
    velmora::platform::dispatch::Scheduler::setShared(gPhone->scheduler);
    gRegistry = kestrine::KSInstanceProvider::create(kestrine::KSPlatformBundle::simulated(*gPhone));
    kestrine::KSModelClock::setClock(gPhone->scheduler->clock());
    gPhone->makeReady();
  } else {
    gRegistry = kestrine::KSInstanceProvider::create(kestrine::KSPlatformBundle::system());
  }
  kestrine::KSInstanceProvider::setSharedProvider(gRegistry);
  kestrine::KestrineSDK::setOptions({{std::string(kestrine::KSOptionUseApi), velmora::platform::Value(false)},
                                     {std::string(kestrine::KSOptionUseLocalStorage), velmora::platform::Value(false)}});
  gService = velmora::BeaconService::create();
  gService->initService();
  gService->startService([](const velmora::BeaconServiceResult&) {});
  gRegions = kestrine::KSBeaconManager::create();
  auto region = std::make_shared<kestrine::KSBeaconRegion>();
  region->setIdentifier("host.exit");
  region->setProximityUUIDString(std::string(kUuid));
  gRegions->startMonitoringBeaconRegion(region);
  if (sim) {
    gPhone->radio->addAdvertiser(SimPlatform::iBeaconAdvertiser(kUuid, 100, 1, -59, -55));
    gPhone->advanceBy(12);
  }
  return 0;
}
