#include "beacons/foundation/KSPlatformBundle.h"

#include "platform/app/Application.h"
#include "platform/bluetooth/Central.h"
#include "platform/bluetooth/SystemCentral.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/location/LocationManager.h"
#include "platform/net/Reachability.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimPlatform.h"

namespace velmora::kestrine {

KSPlatformBundle KSPlatformBundle::system() {
  KSPlatformBundle b;
  b.scheduler = platform::dispatch::Scheduler::shared();
  // The default centre lives for the whole process; the pointer does not own it.
  b.notificationCenter = std::shared_ptr<platform::NotificationCenter>(
      std::shared_ptr<void>(), &platform::NotificationCenter::defaultCenter());
  b.app = platform::app::Application::hostProcess();
  b.defaults = platform::UserDefaults::open(b.app->documentsDirectory() / kDefaultsFileName);
  b.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(platform::bluetooth::systemCentralMaker());
  b.location = platform::location::LocationServices::unavailable();
  b.reachability = platform::net::ReachabilityBackend::hostInterfaces();
  return b;
}

KSPlatformBundle KSPlatformBundle::simulated(const platform::sim::SimPlatform& phone,
                                             std::shared_ptr<platform::UserDefaults> defaults) {
  KSPlatformBundle b;
  b.scheduler = phone.scheduler;
  b.notificationCenter = phone.center;
  b.defaults = defaults ? std::move(defaults) : phone.defaults;
  b.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(phone.radio->centralMaker());
  b.location = phone.location;
  b.app = phone.app;
  b.reachability = phone.reachability;
  return b;
}

}  // namespace velmora::kestrine
