#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Value.h"
#include "platform/store/Predicate.h"

namespace kestrine {

// One stored row of the local store, read and written by attribute name. Reads and writes
// belong inside the row's context: performBlockAndWait runs them synchronously on it, and
// also works when the caller is already on the context's queue.
class KSStoredRow {
 public:
  virtual ~KSStoredRow() = default;

  // The row's entity ("KSBeaconVisit", "KSEvent", ...).
  virtual std::string entityName() const = 0;
  // False once the row was deleted or its context is gone; writes to it are then skipped.
  virtual bool hasContext() const = 0;
  virtual void performBlockAndWait(const std::function<void()>& work) = 0;
  // The attribute under a key, or under a dotted key path through a to-one relationship
  // ("beaconRegion.identifier"); Absent when unset or when the path leads nowhere.
  virtual platform::Value valueForKey(std::string_view keyPath) const = 0;
  // Sets the attribute under a key or key path; Absent clears it. Nothing is saved here:
  // saving is the store's business.
  virtual void setValueForKey(platform::Value value, std::string_view keyPath) = 0;
};

// The entities whose rows the visit and event records query.
inline constexpr std::string_view KSBeaconVisitEntityName = "KSBeaconVisit";
inline constexpr std::string_view KSBeaconRegionVisitEntityName = "KSBeaconRegionVisit";
inline constexpr std::string_view KSEventEntityName = "KSEvent";

// The error domain of the store's failures (code -1).
inline constexpr std::string_view KSLocalStorageManagerErrorDomain = "com.kestrine.KSLocalStorageManager";

// What the records ask of the local store manager, which implements it one level up and is
// kept by the instance provider under "KSLocalStorageManager".
//
// fetch: with storage disabled (or no store context) calls success at once on the calling
// thread with no rows; otherwise fetches on the store context's queue and calls success
// there with the rows in fetch order, or failure with the store's error.
// count: the same, with 0 when disabled; the answer comes on the main queue.
// Either handler may be empty, and is then not called. A "none" predicate matches every
// row; no sort descriptors leave the store's order.
class KSLocalStoragePort {
 public:
  using Rows = std::vector<std::shared_ptr<KSStoredRow>>;
  using FetchSuccess = std::function<void(const Rows&)>;
  using CountSuccess = std::function<void(std::uint64_t)>;
  using Failure = std::function<void(const platform::Error&)>;

  static constexpr std::string_view singletonName = "KSLocalStorageManager";

  virtual ~KSLocalStoragePort() = default;

  virtual void fetchRecordsForEntitiesNamed(std::string_view entityName, const platform::store::Predicate& predicate,
                                            const std::vector<platform::store::SortDescriptor>& sortDescriptors,
                                            FetchSuccess success, Failure failure) = 0;
  virtual void countRecordsForEntitiesNamed(std::string_view entityName, const platform::store::Predicate& predicate,
                                            CountSuccess success, Failure failure) = 0;

  // The shared provider's store manager; nullptr when none is installed, which the record
  // queries treat as storage disabled.
  static std::shared_ptr<KSLocalStoragePort> shared();
};

// The record queries over the shared store: rows of one entity become records through
// `convert`, in fetch order; handlers run only when given; without a store manager the
// answer is [] or 0 at once.
namespace stored_records {

template <class R>
void fetch(std::string_view entityName, const platform::store::Predicate& predicate,
           const std::vector<platform::store::SortDescriptor>& sortDescriptors,
           std::function<std::shared_ptr<R>(const std::shared_ptr<KSStoredRow>&)> convert,
           std::function<void(const std::vector<std::shared_ptr<R>>&)> success, KSLocalStoragePort::Failure failure) {
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success({});
    return;
  }
  KSLocalStoragePort::FetchSuccess onRows;
  if (success) {
    onRows = [convert = std::move(convert), success = std::move(success)](const KSLocalStoragePort::Rows& rows) {
      std::vector<std::shared_ptr<R>> records;
      records.reserve(rows.size());
      for (const auto& row : rows) {
        if (auto record = convert(row)) records.push_back(std::move(record));
      }
      success(records);
    };
  }
  store->fetchRecordsForEntitiesNamed(entityName, predicate, sortDescriptors, std::move(onRows), std::move(failure));
}

void count(std::string_view entityName, const platform::store::Predicate& predicate,
           KSLocalStoragePort::CountSuccess success, KSLocalStoragePort::Failure failure);

}  // namespace stored_records

}  // namespace kestrine
