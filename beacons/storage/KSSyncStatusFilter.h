#pragma once

#include <cstdint>

#include "platform/store/Predicate.h"

namespace velmora::kestrine {

// Narrows a store predicate by sync status. Both tests are null-safe: a row without a sync
// status counts as having none of the statuses, so `withoutSyncStatus` keeps it. On no
// predicate, each is the status test alone.
namespace SyncStatusFilter {
platform::store::Predicate withSyncStatus(const platform::store::Predicate& predicate, std::int64_t status);
platform::store::Predicate withoutSyncStatus(const platform::store::Predicate& predicate, std::int64_t status);
}  // namespace SyncStatusFilter

}  // namespace velmora::kestrine
