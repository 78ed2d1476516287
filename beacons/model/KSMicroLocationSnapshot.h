#pragma once

#include <memory>

namespace velmora::kestrine {

// What an event trigger's filters left of the ranged sites and beacons at one moment. The
// micro-location layer implements it; a triggered event keeps its own clone.
class KSMicroLocationSnapshot {
 public:
  virtual ~KSMicroLocationSnapshot() = default;
  virtual std::shared_ptr<KSMicroLocationSnapshot> clone() const = 0;
};

}  // namespace velmora::kestrine
