#pragma once

#include <memory>
#include <string>
#include <utility>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "platform/dispatch/Scheduler.h"

namespace kestrine::testing {

// Installs a fresh shared registry for one test, holding the store and the API client
// given (none for nullptr) over the scheduler given (the system's otherwise); the next
// shared registry is made anew afterwards.
class ScopedModelRegistry {
 public:
  struct Parts {
    std::shared_ptr<KSLocalStoragePort> store;
    std::shared_ptr<KSApiClientPort> apiClient;
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;
  };

  explicit ScopedModelRegistry(Parts parts) {
    KSPlatformBundle bundle = KSPlatformBundle::system();
    if (parts.scheduler) bundle.scheduler = std::move(parts.scheduler);
    auto provider = KSInstanceProvider::create(std::move(bundle));
    if (auto store = parts.store) {
      provider->installMaker<KSLocalStoragePort>(std::string(KSLocalStoragePort::singletonName),
                                                 [store](KSInstanceProvider&) { return store; });
    }
    if (auto client = parts.apiClient) {
      provider->installMaker<KSApiClientPort>(std::string(KSApiClientPort::singletonName),
                                              [client](KSInstanceProvider&) { return client; });
    }
    KSInstanceProvider::setSharedProvider(provider);
  }
  ~ScopedModelRegistry() { KSInstanceProvider::setSharedProvider(nullptr); }
  ScopedModelRegistry(const ScopedModelRegistry&) = delete;
  ScopedModelRegistry& operator=(const ScopedModelRegistry&) = delete;
};

}  // namespace kestrine::testing
