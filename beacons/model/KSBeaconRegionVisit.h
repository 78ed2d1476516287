#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// One stay of the device inside a monitored beacon region. Bound to a stored row (made from
// one), its begin, end, id and foreground flag are written through into the row at once;
// the region identifier is read from the row's region ("beaconRegion.identifier") and a
// change of it stays in the record, never renaming the linked region. Fields sit behind
// the record's lock; none is held while the row is written.
class KSBeaconRegionVisit : public KSJSONRecord<KSBeaconRegionVisit> {
 public:
  static const KSJSONModelClass& jsonClass();

  KSBeaconRegionVisit() = default;
  // A region visit bound to the row, its fields read from it; nullptr gives a plain one.
  static std::shared_ptr<KSBeaconRegionVisit> initWithManagedBeaconRegionVisit(std::shared_ptr<KSStoredRow> row);

  bool appInForeground() const;
  void setAppInForeground(bool v);
  std::optional<std::string> beaconRegionIdentifier() const;
  void setBeaconRegionIdentifier(std::optional<std::string> v);
  std::optional<platform::Date> beganAt() const;
  void setBeganAt(std::optional<platform::Date> v);
  std::optional<platform::Date> endedAt() const;
  void setEndedAt(std::optional<platform::Date> v);
  std::optional<std::string> beaconRegionVisitID() const;
  void setBeaconRegionVisitID(std::optional<std::string> v);
  std::shared_ptr<KSStoredRow> managedBeaconRegionVisit() const;
  void setManagedBeaconRegionVisit(std::shared_ptr<KSStoredRow> row);

  // Writes the value under the key into the bound row, inside its context; does nothing
  // when unbound or when the row has lost its context.
  void safeSetValue(platform::Value value, std::string_view key) const;

  // An unbound copy of the begin, end, id and region identifier.
  std::shared_ptr<KSBeaconRegionVisit> copy() const;

  // The stored region visits of entity "KSBeaconRegionVisit", bound to their rows; or their
  // count. Handlers run only when given; with storage disabled [] or 0 at once.
  static void storedVisitsWithPredicate(
      const std::optional<KSStorePredicate>& predicate, const std::optional<std::vector<KSSortDescriptor>>& sortDescriptors,
      std::function<void(const std::vector<std::shared_ptr<KSBeaconRegionVisit>>&)> success,
      KSLocalStoragePort::FailureHandler failure);
  static void numberOfVisitsWithPredicate(const std::optional<KSStorePredicate>& predicate,
                                          KSLocalStoragePort::CountHandler success, KSLocalStoragePort::FailureHandler failure);

 private:
  mutable std::mutex mutex_;
  bool appInForeground_ = false;
  std::optional<std::string> beaconRegionIdentifier_;
  std::optional<platform::Date> beganAt_, endedAt_;
  std::optional<std::string> beaconRegionVisitID_;
  std::shared_ptr<KSStoredRow> row_;
};

}  // namespace velmora::kestrine
