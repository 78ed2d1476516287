#include "beacons/model/KSModelServices.h"

#include "beacons/foundation/KSCacher.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSModelClock.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine::model_services {

bool hasCacheExpired(const std::optional<platform::Date>& cachedAt) {
  return cacher::hasCacheExpiredForObjectsCachedAt(cachedAt, *KSModelClock::clock());
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

std::shared_ptr<KSApiClientPort> apiClientOrFail(const std::function<void(const platform::Error&)>& failure) {
  auto client = KSApiClientPort::shared();
  if (client) return client;
  failForMissingApiClient(failure);
  return nullptr;
}

void failForMissingApiClient(const std::function<void(const platform::Error&)>& failure) {
  platform::Log::warning("model", "no cloud API client; the request is not sent");
  if (failure) {
    postToMainQueue([failure] {
      failure(platform::Error(std::string(kNoApiClientErrorDomain), -1, "No cloud API client is configured."));
    });
  }
}

}  // namespace velmora::kestrine::model_services
