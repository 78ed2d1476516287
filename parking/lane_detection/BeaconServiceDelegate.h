#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class BeaconModel;
class LaneModel;

// What BeaconService tells the host app. Every call comes on the service's work queue; the
// lists and models are the service's own (not copies) and the lists are valid for the call.
// Every operation has an empty default, so a host implements only what it needs.
//
// The service holds its delegate weakly: the host keeps it alive. A setter of the service
// called from inside one of these calls takes effect once the pass (or reset) that made the
// call has ended, before the next pass; see BeaconService.
class BeaconServiceDelegate {
 public:
  virtual ~BeaconServiceDelegate() = default;

  // On a car-park switch: the new name, then the new id.
  virtual void carParkNameChanged(const std::string& name) { (void)name; }
  virtual void carParkIdChanged(std::int64_t carParkId) { (void)carParkId; }
  // After a ranging pass that added or changed a snapshot (the whole list); at reset, empty.
  virtual void beaconsChanged(const std::vector<std::shared_ptr<BeaconModel>>& beacons) { (void)beacons; }
  // The lanes of interest: at reset and on a switch (empty), and when the lane step publishes.
  virtual void lanesChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) { (void)lanes; }
  // The lanes of interest ordered by signal strength, strongest first.
  virtual void laneBeaconsChanged(const std::vector<std::shared_ptr<LaneModel>>& lanes) { (void)lanes; }
  // The closest lane, or nullptr.
  virtual void closestLaneChanged(const std::shared_ptr<LaneModel>& lane) { (void)lane; }
};

}  // namespace velmora
