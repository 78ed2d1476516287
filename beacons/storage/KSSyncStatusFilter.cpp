#include "beacons/storage/KSSyncStatusFilter.h"

namespace velmora::kestrine::SyncStatusFilter {

using platform::store::Predicate;

Predicate withSyncStatus(const Predicate& predicate, std::int64_t status) {
  return predicate && Predicate::eq("syncStatus", status);
}

Predicate withoutSyncStatus(const Predicate& predicate, std::int64_t status) {
  return predicate && Predicate::ne("syncStatus", status);
}

}  // namespace velmora::kestrine::SyncStatusFilter
