#include "beacons/model/KSModelServices.h"

#include "beacons/foundation/KSCacher.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
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

void postToMainQueue(std::function<void()> work) {
  auto provider = KSInstanceProvider::sharedProvider();
  if (provider && provider->platform().scheduler) {
    if (auto queue = provider->platform().scheduler->mainQueue()) {
      queue->async(std::move(work));
      return;
    }
  }
  work();
}

void logSkippedItem(std::string_view what, const platform::Error& error) {
  platform::Log::warning("model", "skipped a {} that does not import: {}", what, error.localizedDescription);
}

}  // namespace kestrine::model_services
