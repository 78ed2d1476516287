#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/model/KSStorePredicate.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconVisit;
class KSBeaconRegionVisit;
class KSEvent;

// The entities whose rows the records query.
inline constexpr std::string_view KSBeaconEntityName = "KSBeacon";
inline constexpr std::string_view KSBeaconVisitEntityName = "KSBeaconVisit";
inline constexpr std::string_view KSBeaconRegionVisitEntityName = "KSBeaconRegionVisit";
inline constexpr std::string_view KSEventEntityName = "KSEvent";

// The error domain of the store's failures (code -1).
inline constexpr std::string_view KSLocalStorageManagerErrorDomain = "com.kestrine.KSLocalStorageManager";

// A row of the local store as the model sees it: attributes read and written by name, and
// conversions into records. Reads and writes belong inside the row's context:
// performBlockAndWait runs them synchronously on it, and also works when the caller is
// already on the context's queue (re-entrant).
class KSStoredRow : public std::enable_shared_from_this<KSStoredRow> {
 public:
  virtual ~KSStoredRow() = default;

  // The row's entity ("KSBeacon", "KSBeaconVisit", ...).
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

  // A new beacon filled from the row; nullptr when the row is no beacon or does not convert.
  // The store fills it, as only the store knows how its beacon rows are laid out.
  virtual std::shared_ptr<KSBeacon> toBeacon() const { return nullptr; }
  // A new visit, region visit or event read from this row, the visits bound to it so that
  // their changes write through; nullptr when the row is of another entity or is not held
  // by a shared_ptr.
  virtual std::shared_ptr<KSBeaconVisit> toBeaconVisit();
  virtual std::shared_ptr<KSBeaconRegionVisit> toBeaconRegionVisit();
  virtual std::shared_ptr<KSEvent> toEvent();
};

// What the model's records ask of the local store. The store subsystem implements it and
// registers itself with setShared; with none registered, queries behave as with storage
// disabled (no rows, a count of 0).
//
// fetch: with storage disabled (or no store context) calls success at once on the calling
// thread with no rows; otherwise fetches on the store context's queue and calls success
// there with the rows in fetch order, or failure with the store's error.
// count: the same, with 0 when disabled; the answer comes on the main queue.
// Either handler may be empty, and is then not called. No predicate matches every row; no
// sort descriptors leave the store's order.
class KSLocalStoragePort {
 public:
  using Rows = std::vector<std::shared_ptr<KSStoredRow>>;
  using RowsHandler = std::function<void(Rows)>;
  using CountHandler = std::function<void(std::uint64_t)>;
  using FailureHandler = std::function<void(platform::Error)>;

  virtual ~KSLocalStoragePort() = default;

  virtual void fetchRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                            const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
                                            RowsHandler success, FailureHandler failure) = 0;
  virtual void countRecordsForEntitiesNamed(const std::string& entity, const std::optional<KSStorePredicate>& predicate,
                                            CountHandler success, FailureHandler failure) = 0;

  // --- beacons of the ranging hub's cache. Each answers before it returns; the fetches skip
  // unauthorised rows and answer nullptr when no row matches.
  virtual std::shared_ptr<KSBeacon> fetchBeaconForIBeaconKey(const std::string& /*iBeaconKey*/) { return nullptr; }
  virtual std::shared_ptr<KSBeacon> fetchBeaconForBluetoothAddress(const std::string& /*address*/) { return nullptr; }
  virtual std::shared_ptr<KSBeacon> fetchBeaconForEddystoneUIDString(const std::string& /*uid*/) { return nullptr; }
  virtual void storeBeacon(const std::shared_ptr<KSBeacon>& /*beacon*/) {}
  virtual void saveContext() {}

  static void setShared(std::shared_ptr<KSLocalStoragePort> store);
  static std::shared_ptr<KSLocalStoragePort> shared();
};

// The record queries over the shared store: rows of one entity become records through the
// row conversion given, in fetch order (rows that do not convert are left out); handlers
// run only when given; without a store the answer is [] or 0 at once.
namespace stored_records {

template <class R>
void fetch(std::string_view entity, const std::optional<KSStorePredicate>& predicate,
           const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
           std::shared_ptr<R> (KSStoredRow::*convert)(),
           std::function<void(const std::vector<std::shared_ptr<R>>&)> success,
           KSLocalStoragePort::FailureHandler failure) {
  auto store = KSLocalStoragePort::shared();
  if (!store) {
    if (success) success({});
    return;
  }
  KSLocalStoragePort::RowsHandler onRows;
  if (success) {
    onRows = [convert, success = std::move(success)](KSLocalStoragePort::Rows rows) {
      std::vector<std::shared_ptr<R>> records;
      records.reserve(rows.size());
      for (const auto& row : rows) {
        if (!row) continue;
        if (auto record = ((*row).*convert)()) records.push_back(std::move(record));
      }
      success(records);
    };
  }
  store->fetchRecordsForEntitiesNamed(std::string(entity), predicate, sortDescriptors, std::move(onRows),
                                      std::move(failure));
}

void count(std::string_view entity, const std::optional<KSStorePredicate>& predicate,
           KSLocalStoragePort::CountHandler success, KSLocalStoragePort::FailureHandler failure);

}  // namespace stored_records

}  // namespace velmora::kestrine
