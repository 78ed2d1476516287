#pragma once

#include <memory>

namespace platform {
class NotificationCenter;
class UserDefaults;
namespace dispatch {
class Scheduler;
}
// Seams of the phone platform that singletons are handed; their owners define them.
namespace bluetooth {
class CentralMaker;
}
namespace location {
class LocationServices;
}
namespace app {
class Application;
class AdvertisingIdentity;
}
namespace net {
class Reachability;
}
}  // namespace platform

namespace kestrine {

// What the singletons of the beacon layer are made on: the platform's services. The
// registry holds one bundle and hands it to every maker, so a test that installs a fresh
// registry over a virtual scheduler, a fresh notification centre and a temporary defaults
// file gets singletons on exactly those.
struct KSPlatformBundle {
  std::shared_ptr<platform::dispatch::Scheduler> scheduler;
  std::shared_ptr<platform::NotificationCenter> notificationCenter;
  std::shared_ptr<platform::UserDefaults> defaults;
  std::shared_ptr<platform::bluetooth::CentralMaker> centralMaker;
  std::shared_ptr<platform::location::LocationServices> location;
  std::shared_ptr<platform::app::Application> app;
  std::shared_ptr<platform::app::AdvertisingIdentity> advertisingIdentity;
  std::shared_ptr<platform::net::Reachability> reachability;

  // The process's own services: the shared scheduler, the default notification centre and
  // the user defaults in the SDK's data folder. The radio, location, app and reachability
  // slots stay empty until their backends are wired.
  static KSPlatformBundle system();
};

}  // namespace kestrine
