#pragma once

#include <memory>
#include <string_view>

namespace velmora::platform {
class NotificationCenter;
class UserDefaults;
namespace dispatch {
class Scheduler;
}
namespace bluetooth {
class CentralMaker;
}
namespace location {
class LocationServices;
}
namespace app {
class Application;
}
namespace net {
class ReachabilityBackend;
}
namespace sim {
class SimPlatform;
}
}  // namespace velmora::platform

namespace velmora::kestrine {

// What the singletons of the beacon layer are made on: the platform's services. The
// registry holds one bundle and hands it to every maker, so a test that installs a fresh
// registry over a virtual scheduler, a fresh notification centre, a temporary defaults
// file and the simulated radio, location, app and reachability gets singletons on exactly
// those.
//
// The advertising identity is the app's (Application::advertisingIdentity()): it is read
// anew at each use, since the user may switch tracking off while the SDK runs. Reachability
// is the backend, not one target: the reachability manager watches the internet at large
// and, on request, a host or an address, and makes each target from the backend.
struct KSPlatformBundle {
  std::shared_ptr<platform::dispatch::Scheduler> scheduler;
  std::shared_ptr<platform::NotificationCenter> notificationCenter;
  std::shared_ptr<platform::UserDefaults> defaults;
  std::shared_ptr<platform::bluetooth::CentralMaker> centralMaker;
  std::shared_ptr<platform::location::LocationServices> location;
  std::shared_ptr<platform::app::Application> app;
  std::shared_ptr<platform::net::ReachabilityBackend> reachability;

  // The user-defaults file's name in the app's documents folder.
  static constexpr std::string_view kDefaultsFileName = "UserDefaults.plist";

  // The process's own services: the shared scheduler, the default notification centre, the
  // host process's app, the user defaults in that app's documents folder, the network
  // interfaces' reachability, the host's Bluetooth (the BlueZ service on the system bus when
  // it is there, else a central that reports unsupported: platform/bluetooth/SystemCentral.h)
  // and location services switched off.
  static KSPlatformBundle system();

  // The simulated phone's services: its virtual scheduler, notification centre, radio,
  // location services, app and reachability, and its user defaults (or the ones given, as
  // after a restart: UserDefaults::open(phone.defaults->path())). The bundle shares the
  // phone's objects; the phone stays the one that drives them.
  static KSPlatformBundle simulated(const platform::sim::SimPlatform& phone,
                                    std::shared_ptr<platform::UserDefaults> defaults = nullptr);
};

}  // namespace velmora::kestrine
