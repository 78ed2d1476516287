#include "beacons/model/KSLocalStoragePort.h"

#include "beacons/foundation/KSInstanceProvider.h"

namespace kestrine {

std::shared_ptr<KSLocalStoragePort> KSLocalStoragePort::shared() {
  // Made on first use by the maker the storage layer installs; without one there is no store.
  auto provider = KSInstanceProvider::sharedProvider();
  return provider ? provider->singleton<KSLocalStoragePort>(singletonName, nullptr) : nullptr;
}

namespace stored_records {

void count(std::string_view entityName, const platform::store::Predicate& predicate,
           KSLocalStoragePort::CountSuccess success, KSLocalStoragePort::Failure failure) {
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success(0);
    return;
  }
  store->countRecordsForEntitiesNamed(entityName, predicate, std::move(success), std::move(failure));
}

}  // namespace stored_records

}  // namespace kestrine
