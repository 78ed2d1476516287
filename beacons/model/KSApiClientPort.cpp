#include "beacons/model/KSApiClientPort.h"

#include "beacons/foundation/KSInstanceProvider.h"

namespace kestrine {

std::shared_ptr<KSApiClientPort> KSApiClientPort::shared() {
  auto provider = KSInstanceProvider::sharedProvider();
  return provider ? provider->singleton<KSApiClientPort>(singletonName, nullptr) : nullptr;
}

}  // namespace kestrine
