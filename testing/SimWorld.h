#pragma once

#include <memory>

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
// frames, the app (not yet launched) and reachability (WiFi). advanceBy() plays them all
// in time order.
struct SimWorld {
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>();
  std::unique_ptr<platform::NotificationCenter> center = std::make_unique<platform::NotificationCenter>();
  TempDir documents;
  std::shared_ptr<platform::sim::SimRadio> radio = platform::sim::SimRadio::create(scheduler);
  std::shared_ptr<platform::sim::SimLocation> location = platform::sim::SimLocation::create(scheduler, radio);
  std::shared_ptr<platform::sim::SimApp> app = platform::sim::SimApp::create(scheduler, *center, documents.path());
  std::shared_ptr<platform::sim::SimReachability> reachability = platform::sim::SimReachability::create(scheduler);
  // The user-defaults file in the documents folder joins here once user defaults exist.

  void advanceBy(double seconds) { scheduler->advanceBy(seconds); }
  void runUntilIdle() { scheduler->runUntilIdle(); }
};

}  // namespace velmora::testing
