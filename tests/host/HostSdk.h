#pragma once

// What a host app does to run the SDK on the simulated phone, through the installed public
// headers only: the phone (platform/sim/SimPlatform.h) made ready, its virtual scheduler as
// the shared one, a beacon-layer registry over the phone as the shared registry, the model's
// clock the phone's, and the beacon cloud API and local storage off unless asked for. Then
// the test makes its objects in the order it wants and plays traffic on phone.radio.

#include <fmt/format.h>

#include <memory>
#include <string>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/foundation/KSPlatformBundle.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/ranging/KestrineSDK.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/sim/SimPlatform.h"

namespace hostsuite {

using velmora::platform::sim::SimPlatform;
namespace kestrine = velmora::kestrine;

inline constexpr const char* kProximityUuid = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
inline std::string beaconId(int major, int minor) { return fmt::format("{}:{}:{}", kProximityUuid, major, minor); }

class HostSdk {
 public:
  HostSdk() {
    velmora::platform::dispatch::Scheduler::setShared(phone.scheduler);
    provider = kestrine::KSInstanceProvider::create(kestrine::KSPlatformBundle::simulated(phone));
    kestrine::KSInstanceProvider::setSharedProvider(provider);
    kestrine::KSModelClock::setClock(phone.scheduler->clock());
    phone.makeReady();
  }
  ~HostSdk() {
    // Stop, drain, then let go of the registry before the scheduler it runs on.
    kestrine::KestrineSDK::stopRunning();
    phone.runUntilIdle();
    kestrine::KSModelClock::setClock(nullptr);
    kestrine::KSBeaconHubPort::setShared(nullptr);
    kestrine::KSInstanceProvider::setSharedProvider(nullptr);
    provider.reset();
    phone.runUntilIdle();
    velmora::platform::dispatch::Scheduler::setShared(nullptr);
    velmora::VelmoraSDKConfig::setServerName(std::string(velmora::VelmoraSDKConfig::kDefaultServerName));
    velmora::VelmoraSDKConfig::setUser(0, "");
  }
  HostSdk(const HostSdk&) = delete;
  HostSdk& operator=(const HostSdk&) = delete;

  // The beacon SDK's options as a host without the beacon cloud sets them.
  static void offlineOptions() {
    kestrine::KestrineSDK::setOptions({{std::string(kestrine::KSOptionUseApi), velmora::platform::Value(false)},
                                       {std::string(kestrine::KSOptionUseLocalStorage), velmora::platform::Value(false)}});
  }

  SimPlatform phone;
  std::shared_ptr<kestrine::KSInstanceProvider> provider;
};

}  // namespace hostsuite
