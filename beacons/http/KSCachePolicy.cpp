#include "beacons/http/KSCachePolicy.h"

#include "platform/net/URLCache.h"

namespace velmora::kestrine {

std::shared_ptr<platform::net::URLCache> KSCachePolicy::sharedURLCache() {
  static const auto& cache = *new auto(std::make_shared<platform::net::URLCache>(kMemoryCapacity));
  return cache;
}

}  // namespace velmora::kestrine
