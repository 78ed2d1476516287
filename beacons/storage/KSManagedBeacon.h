#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/store/StoreContext.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconRegion;
class KSCategory;
class KSCustomValue;

// Copies between beacon rows and beacon records. All of them run on the store's queue with
// its context; a row is named by its identity.
class KSManagedBeacon {
 public:
  KSManagedBeacon() = delete;

  // What a record puts into its row, read from it at once, with copies of its categories,
  // custom values and region: a write queued for the store's queue stores the record as it
  // was when it was handed over, whatever its owner changes meanwhile.
  struct Snapshot {
    std::optional<std::string> beaconID;
    std::optional<std::string> serialNumber;
    std::vector<platform::store::Field> fields;
    std::optional<std::vector<std::shared_ptr<KSCategory>>> categories;
    std::optional<std::vector<std::shared_ptr<KSCustomValue>>> customValues;
    std::shared_ptr<KSBeaconRegion> beaconRegion;
  };
  static Snapshot snapshotOf(const KSBeacon& beacon);

  // The record's values into the row. The plain fields are always copied (a missing value
  // clears the attribute), except that a missing beaconID never clears a stored one. The
  // optional groups (Eddystone, measured power, map point, network access) are written only
  // when the record has them. Categories are matched by categoryID and custom values by
  // customValueID: matches are updated, new ones added, and the row's others unlinked (they
  // stay in the store). Categories and values that lack a required field are skipped.
  static void setValuesWithBeacon(platform::store::StoreContext& ctx, platform::store::ObjectID row,
                                  const KSBeacon& beacon);
  static void setValuesWithBeacon(platform::store::StoreContext& ctx, platform::store::ObjectID row,
                                  const Snapshot& beacon);
  // A new beacon row with the record's values, its categories and custom values, written in
  // one insert per row; nullopt (logged) for a record without the beacon ID the row requires.
  static std::optional<platform::store::ObjectID> managedObjectFromBeacon(platform::store::StoreContext& ctx,
                                                                          const KSBeacon& beacon);
  static std::optional<platform::store::ObjectID> managedObjectFromBeacon(platform::store::StoreContext& ctx,
                                                                          const Snapshot& beacon);
  // A new record from the row, with sync status 3 (restored); nullptr when the row is gone or
  // its stored Eddystone UID does not split into namespace and instance.
  static std::shared_ptr<KSBeacon> toBeacon(platform::store::StoreContext& ctx, platform::store::ObjectID row);
};

// Category rows: one category as attached to one beacon.
class KSManagedBeaconCategory {
 public:
  KSManagedBeaconCategory() = delete;

  // A new category row for the beacon ID with a custom-value row per complete custom value;
  // nullopt (logged) when the category has no categoryID or there is no beacon ID.
  // The row is linked to `beacon` when one is given.
  static std::optional<platform::store::ObjectID> managedObjectFromCategory(
      platform::store::StoreContext& ctx, const KSCategory& category, const std::optional<std::string>& beaconID,
      std::optional<platform::store::ObjectID> beacon = std::nullopt);
  // Does nothing when the row's categoryID differs from the category's. Otherwise sets the
  // name and replaces the row's custom values (the old rows are deleted).
  static void updateByCategory(platform::store::StoreContext& ctx, platform::store::ObjectID row,
                               const KSCategory& category);
  // The same for a row already known to carry the category's categoryID.
  static void replaceMatchedCategory(platform::store::StoreContext& ctx, platform::store::ObjectID row,
                                     const KSCategory& category);
  static std::shared_ptr<KSCategory> toCategory(platform::store::StoreContext& ctx, platform::store::ObjectID row);
};

// Custom-value rows.
class KSManagedCustomValue {
 public:
  KSManagedCustomValue() = delete;

  // The three fields the row requires, all present.
  static bool isComplete(const KSCustomValue& value);
  // A new row with the value's key, value and customValueID, linked through `link` ("beacon",
  // "category" or "site") to `owner`; nullopt (logged) when the value is incomplete.
  static std::optional<platform::store::ObjectID> managedObjectFromCustomValue(platform::store::StoreContext& ctx,
                                                                               const KSCustomValue& value,
                                                                               std::string_view link,
                                                                               platform::store::ObjectID owner);
  static std::shared_ptr<KSCustomValue> toCustomValue(platform::store::StoreContext& ctx,
                                                      platform::store::ObjectID row);
  // Reconciles the owner's custom-value rows (on its to-many `toMany`, linked back through
  // `link`) with a record's list, matched by customValueID.
  static void reconcile(platform::store::StoreContext& ctx, platform::store::ObjectID owner, std::string_view toMany,
                        std::string_view link,
                        const std::optional<std::vector<std::shared_ptr<KSCustomValue>>>& values);
};

}  // namespace velmora::kestrine
