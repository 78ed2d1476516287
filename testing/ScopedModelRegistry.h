#pragma once

#include <memory>
#include <utility>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/model/KSModelClock.h"
#include "platform/bluetooth/Central.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine::testing {

// For one test: registers the store and the API client given (none for nullptr), makes a
// fresh shared registry over the scheduler given (the system's otherwise) and runs the model
// clock on that scheduler's clock. Everything goes back to empty afterwards.
class ScopedModelRegistry {
 public:
  struct Parts {
    std::shared_ptr<KSLocalStoragePort> store;
    std::shared_ptr<KSApiClientPort> apiClient;
    std::shared_ptr<platform::dispatch::Scheduler> scheduler;
  };

  explicit ScopedModelRegistry(Parts parts) {
    KSPlatformBundle bundle = KSPlatformBundle::system();
    // Tests never reach the host's own Bluetooth.
    bundle.centralMaker =
        std::make_shared<platform::bluetooth::CentralMaker>(platform::bluetooth::unsupportedCentralMaker());
    if (parts.scheduler) {
      KSModelClock::setClock(parts.scheduler->clock());
      bundle.scheduler = std::move(parts.scheduler);
    }
    KSInstanceProvider::setSharedProvider(KSInstanceProvider::create(std::move(bundle)));
    KSLocalStoragePort::setShared(std::move(parts.store));
    KSApiClientPort::setShared(std::move(parts.apiClient));
  }
  ~ScopedModelRegistry() {
    KSApiClientPort::setShared(nullptr);
    KSLocalStoragePort::setShared(nullptr);
    KSInstanceProvider::setSharedProvider(nullptr);
    KSModelClock::setClock(nullptr);
  }
  ScopedModelRegistry(const ScopedModelRegistry&) = delete;
  ScopedModelRegistry& operator=(const ScopedModelRegistry&) = delete;
};

}  // namespace velmora::kestrine::testing
