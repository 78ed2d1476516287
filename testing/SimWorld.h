#pragma once

#include <memory>

#include "beacons/foundation/KSPlatformBundle.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimLocation.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimReachability.h"
#include "testing/TempDir.h"

namespace velmora::testing {

// Every simulated backend on one virtual scheduler, with a fresh notification centre and a
// temporary documents folder: radio, location services hearing the radio's iBeacon
// frames, the app (not yet launched), reachability (WiFi) and the user defaults in the
// documents folder. advanceBy() plays them all in time order; bundle() hands the whole
// simulated platform to a beacon-layer registry:
//
//   SimWorld world;
//   auto provider = kestrine::KSInstanceProvider::create(world.bundle());
struct SimWorld {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  TempDir documents;
  std::shared_ptr<platform::sim::SimRadio> radio = platform::sim::SimRadio::create(scheduler);
  std::shared_ptr<platform::sim::SimLocation> location = platform::sim::SimLocation::create(scheduler, radio);
  std::shared_ptr<platform::sim::SimApp> app = platform::sim::SimApp::create(scheduler, *center, documents.path());
  std::shared_ptr<platform::sim::SimReachability> reachability = platform::sim::SimReachability::create(scheduler);
  std::shared_ptr<platform::UserDefaults> defaults =
      platform::UserDefaults::open(documents.path() / kestrine::KSPlatformBundle::kDefaultsFileName);

  // The simulated platform; the defaults are this world's own.
  kestrine::KSPlatformBundle bundle() const { return bundle(defaults); }
  // The same with other defaults (as after a restart: UserDefaults::open(defaults->path())).
  kestrine::KSPlatformBundle bundle(std::shared_ptr<platform::UserDefaults> userDefaults) const {
    kestrine::KSPlatformBundle b;
    b.scheduler = scheduler;
    b.notificationCenter = center;
    b.defaults = std::move(userDefaults);
    b.centralMaker = std::make_shared<platform::bluetooth::CentralMaker>(radio->centralMaker());
    b.location = location;
    b.app = app;
    b.reachability = reachability;
    return b;
  }

  void advanceBy(double seconds) { scheduler->advanceBy(seconds); }
  void runUntilIdle() { scheduler->runUntilIdle(); }
  // Also waits for the requests in flight on the loopback network and what their replies
  // set going: virtual time races ahead of real I/O, so a scenario reads what the cloud was
  // sent only after this.
  void runUntilSettled() { scheduler->runUntilSettled(); }
};

}  // namespace velmora::testing
