#pragma once

// The whole road of lane detection on the simulated platform: a SimWorld made ready (location
// always authorised, Bluetooth on, the app launched and active) whose registry is the beacon
// layer's shared one, the cloud API and local storage switched off, and the shared scheduler
// the world's virtual one. A test, the demo and the benchmark then make a BeaconService
// with the default beacon SDK binding and play iBeacon traffic on world.radio.

#include <memory>
#include <string>
#include <string_view>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KSBeaconManager.h"
#include "beacons/ranging/KestrineSDK.h"
#include "platform/dispatch/Scheduler.h"
#include "testing/SimWorld.h"

namespace velmora::testing {

// The manufacturer data of an iBeacon frame as hex (see SimPlatform::iBeaconFrameHex).
inline std::string iBeaconFrameHex(std::string_view uuid, int major, int minor, int measuredPower) {
  return platform::sim::SimPlatform::iBeaconFrameHex(uuid, major, minor, measuredPower);
}

class LaneStackWorld {
 public:
  // Whether the world sets the SDK's options before anything else is made (as most scenarios
  // want), or leaves every call into the beacon layer to the test, in the host's own order.
  enum class Options { SetFirst, LeftToTheHost };

  explicit LaneStackWorld(Options options = Options::SetFirst) {
    platform::dispatch::Scheduler::setShared(world.scheduler);
    provider = kestrine::KSInstanceProvider::create(world.bundle());
    kestrine::KSInstanceProvider::setSharedProvider(provider);
    kestrine::KSModelClock::setClock(world.scheduler->clock());
    if (options == Options::SetFirst) setSDKOptions();
    world.makeReady();
  }
  // The cloud API and the local store off.
  static void setSDKOptions() {
    kestrine::KestrineSDK::setOptions({{std::string(kestrine::KSOptionUseApi), platform::Value(false)},
                                       {std::string(kestrine::KSOptionUseLocalStorage), platform::Value(false)}});
  }
  ~LaneStackWorld() {
    // Work still queued holds what holds the scheduler: stop and drain before letting go.
    kestrine::KestrineSDK::stopRunning();
    world.runUntilIdle();
    regions_.reset();
    world.runUntilIdle();
    kestrine::KSModelClock::setClock(nullptr);
    kestrine::KSBeaconHubPort::setShared(nullptr);
    kestrine::KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    world.runUntilIdle();
    platform::dispatch::Scheduler::setShared(nullptr);
  }
  LaneStackWorld(const LaneStackWorld&) = delete;
  LaneStackWorld& operator=(const LaneStackWorld&) = delete;

  // Asks the SDK, as the host app does through a beacon manager of its own, to monitor and
  // range the beacons of one proximity UUID.
  void monitorProximityUUID(const std::string& uuid) {
    if (!regions_) regions_ = kestrine::KSBeaconManager::create();
    auto region = std::make_shared<kestrine::KSBeaconRegion>();
    region->setIdentifier("velmora.lanes." + uuid);
    region->setProximityUUIDString(uuid);
    regions_->startMonitoringBeaconRegion(region);
    world.runUntilIdle();
  }

  double now() const { return world.elapsed(); }
  // Moves virtual time to t seconds since the world was made.
  void at(double t) { world.advanceTo(t); }

  SimWorld world;
  std::shared_ptr<kestrine::KSInstanceProvider> provider;

 private:
  std::shared_ptr<kestrine::KSBeaconManager> regions_;
};

}  // namespace velmora::testing
