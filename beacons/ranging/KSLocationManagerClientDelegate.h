#pragma once

#include <memory>
#include <vector>

#include "platform/location/Beacon.h"

namespace velmora::kestrine {

class KSLocationManagerClient;
class KSBeaconRegion;

// What the location client tells its listeners about the cached beacon regions. Every
// method is optional. `state` is the platform's region state: 0 unknown, 1 inside, 2 outside.
class KSLocationManagerClientDelegate {
 public:
  virtual ~KSLocationManagerClientDelegate() = default;
  virtual void locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient*,
                                                         const std::shared_ptr<KSBeaconRegion>&) {}
  virtual void locationManagerClientDidExitBeaconRegion(KSLocationManagerClient*,
                                                        const std::shared_ptr<KSBeaconRegion>&) {}
  virtual void locationManagerClientDidDetermineStateForBeaconRegion(KSLocationManagerClient*, long /*state*/,
                                                                     const std::shared_ptr<KSBeaconRegion>&) {}
  virtual void locationManagerClientDidRangeBeaconsInBeaconRegion(KSLocationManagerClient*,
                                                                  const std::vector<platform::location::Beacon>&,
                                                                  const std::shared_ptr<KSBeaconRegion>&) {}
};

}  // namespace velmora::kestrine
