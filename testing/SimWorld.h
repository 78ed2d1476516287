#pragma once

#include <memory>

#include "beacons/foundation/KSPlatformBundle.h"
#include "platform/sim/SimPlatform.h"

namespace velmora::testing {

// The public simulated phone (platform/sim/SimPlatform.h) as the tests use it: every
// simulated backend on one virtual scheduler, a fresh notification centre and a temporary
// documents folder; the app is not yet launched. bundle() hands the whole simulated
// platform to a beacon-layer registry:
//
//   SimWorld world;
//   auto provider = kestrine::KSInstanceProvider::create(world.bundle());
struct SimWorld : platform::sim::SimPlatform {
  using platform::sim::SimPlatform::SimPlatform;

  // The simulated platform; the defaults are this world's own.
  kestrine::KSPlatformBundle bundle() const { return kestrine::KSPlatformBundle::simulated(*this); }
  // The same with other defaults (as after a restart: UserDefaults::open(defaults->path())).
  kestrine::KSPlatformBundle bundle(std::shared_ptr<platform::UserDefaults> userDefaults) const {
    return kestrine::KSPlatformBundle::simulated(*this, std::move(userDefaults));
  }
};

}  // namespace velmora::testing
