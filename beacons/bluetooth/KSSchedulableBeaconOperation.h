#pragma once

#include <memory>

namespace velmora::kestrine {

// A beacon operation over Bluetooth as the central client takes it for its operation
// manager: one of the configuration layer's operations (the SDK's own, or one a host app
// makes itself, such as the Eddystone settings read) or a handle that the hub holds around
// one. The client and this layer only pass it on; the operation manager runs it.
class KSSchedulableBeaconOperation {
 public:
  virtual ~KSSchedulableBeaconOperation() = default;
  // The operation that runs when this one is scheduled: an operation answers itself, a
  // handle the operation it wraps. None: nothing to run, and scheduling it does nothing.
  virtual std::shared_ptr<KSSchedulableBeaconOperation> operationToSchedule() = 0;
};

}  // namespace velmora::kestrine
