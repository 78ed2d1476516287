#include "beacons/model/KSModelServices.h"

#include "beacons/foundation/KSCacher.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/dispatch/Scheduler.h"

namespace kestrine::model_services {

std::shared_ptr<platform::Clock> clock() {
  if (auto provider = KSInstanceProvider::sharedProvider(); provider && provider->platform().scheduler) {
    if (auto c = provider->platform().scheduler->clock()) return c;
  }
  return platform::Clock::system();
}

bool hasCacheExpired(const std::optional<platform::Date>& cachedAt) {
  return cacher::hasCacheExpiredForObjectsCachedAt(cachedAt, *clock());
}

}  // namespace kestrine::model_services
