#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSStorePredicate.h"
#include "platform/core/Error.h"

namespace kestrine {

class KSBeacon;

// A row of the local store as the model sees it: something that can become a record.
class KSStoredRow {
 public:
  virtual ~KSStoredRow() = default;
  // A new beacon filled from the row; nullptr when the row is no beacon or does not convert.
  virtual std::shared_ptr<KSBeacon> toBeacon() const { return nullptr; }
};

// What the model's records ask of the local store. The store subsystem implements it and
// registers itself with setShared; with none registered, queries behave as with storage
// disabled (no rows, a count of 0).
class KSLocalStoragePort {
 public:
  using Rows = std::vector<std::shared_ptr<const KSStoredRow>>;
  using RowsHandler = std::function<void(Rows)>;
  using CountHandler = std::function<void(std::uint64_t)>;
  using FailureHandler = std::function<void(platform::Error)>;

  virtual ~KSLocalStoragePort() = default;

  // The rows of the entity that match, in the sort order; handlers may be empty and may be
  // called on the store's own queue.
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

}  // namespace kestrine
