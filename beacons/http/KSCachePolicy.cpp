#include "beacons/http/KSCachePolicy.h"

#include "platform/net/URLCache.h"

namespace velmora::kestrine {

std::shared_ptr<platform::net::URLCache> KSCachePolicy::makeURLCache(std::optional<std::filesystem::path> directory,
                                                                     std::shared_ptr<platform::Clock> clock) {
  if (!clock) clock = platform::Clock::system();
  if (!directory) return std::make_shared<platform::net::URLCache>(kMemoryCapacity, std::move(clock));
  return std::make_shared<platform::net::URLCache>(kMemoryCapacity, kDiskCapacity, std::move(*directory),
                                                   std::move(clock));
}

std::shared_ptr<platform::net::URLCache> KSCachePolicy::sharedURLCache() {
  static const auto& cache = *new auto(makeURLCache(platform::net::URLCache::defaultDiskDirectory()));
  return cache;
}

}  // namespace velmora::kestrine
