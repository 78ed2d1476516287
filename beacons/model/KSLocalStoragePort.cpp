#include "beacons/model/KSLocalStoragePort.h"

#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSEvent.h"

namespace velmora::kestrine {

// The registry slot itself (setShared/shared) lives with the hub's in KSModelPorts.cpp.

std::shared_ptr<KSBeaconVisit> KSStoredRow::toBeaconVisit() {
  auto self = weak_from_this().lock();
  if (!self || entityName() != KSBeaconVisitEntityName) return nullptr;
  return KSBeaconVisit::initWithManagedBeaconVisit(std::move(self));
}

std::shared_ptr<KSBeaconRegionVisit> KSStoredRow::toBeaconRegionVisit() {
  auto self = weak_from_this().lock();
  if (!self || entityName() != KSBeaconRegionVisitEntityName) return nullptr;
  return KSBeaconRegionVisit::initWithManagedBeaconRegionVisit(std::move(self));
}

std::shared_ptr<KSEvent> KSStoredRow::toEvent() {
  auto self = weak_from_this().lock();
  if (!self || entityName() != KSEventEntityName) return nullptr;
  return KSEvent::toEvent(self);
}

namespace stored_records {

void count(std::string_view entity, const std::optional<KSStorePredicate>& predicate,
           KSLocalStoragePort::CountHandler success, KSLocalStoragePort::FailureHandler failure) {
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success(0);
    return;
  }
  store->countRecordsForEntitiesNamed(std::string(entity), predicate, std::move(success), std::move(failure));
}

}  // namespace stored_records

}  // namespace velmora::kestrine
