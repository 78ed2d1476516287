#pragma once

#include <memory>
#include <string_view>
#include <vector>

namespace velmora::kestrine {

class KSBeaconRegion;

// The beacon-region manager's cache, as the public facade uses it. The region manager
// implements it and is found in the registry under kSingletonName.
class KSBeaconRegionCaching {
 public:
  static constexpr std::string_view kSingletonName = "KSBeaconRegionCaching";
  virtual ~KSBeaconRegionCaching() = default;
  // With true, listeners are told and the store is updated.
  virtual void cacheBeaconRegion(std::shared_ptr<KSBeaconRegion> region, bool multicastAndUpdateStore) = 0;
  virtual void removeCachedBeaconRegion(std::shared_ptr<KSBeaconRegion> region, bool multicastAndUpdateStore) = 0;
  virtual std::vector<std::shared_ptr<KSBeaconRegion>> allCachedBeaconRegions() = 0;
};

}  // namespace velmora::kestrine
