#include "beacons/foundation/KSCacher.h"

namespace velmora::kestrine::cacher {

bool hasCacheExpiredForObjectsCachedAt(std::optional<platform::Date> cachedAt, const platform::Clock& clock) {
  if (!cachedAt) return true;
  return clock.now().timeIntervalSince(*cachedAt) > kCacheLifetimeSeconds;
}

}  // namespace velmora::kestrine::cacher
