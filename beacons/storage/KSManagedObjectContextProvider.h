#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "beacons/model/KSLocalStoragePort.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/store/ObjectStore.h"
#include "platform/store/StoreModel.h"

namespace velmora::kestrine {

// The store file's name, directly in the app's documents folder.
inline constexpr std::string_view KSSqliteDBFileName = "KestrineSDKModel.sqlite";

// Entity names of the SDK's store (the model's port names the four its records query).
inline constexpr std::string_view KSBeaconCategoryEntityName = "KSBeaconCategory";
inline constexpr std::string_view KSCustomValueEntityName = "KSCustomValue";
inline constexpr std::string_view KSBeaconRegionEntityName = "KSBeaconRegion";
inline constexpr std::string_view KSEventSummaryEntityName = "KSEventSummary";
inline constexpr std::string_view KSSiteEntityName = "KSSite";

// Owns the SDK's store model and opens the store file. The model is built in code once.
// `store()` hands out the open store; while the file cannot be opened it answers nullptr
// (storage then behaves as switched off). A failed open is logged once and tried again
// only after a wait on the scheduler's clock (one minute, doubling with each failure up to
// an hour); calls in between answer nullptr at once. Thread-safe.
class KSManagedObjectContextProvider {
 public:
  // The documents folder is the app's (the app seam hands it over); the scheduler makes the
  // store's private queue (the shared one when none is given).
  explicit KSManagedObjectContextProvider(std::filesystem::path documentsDirectory,
                                          std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr);

  // The SDK's schema, built on first use and kept.
  static const platform::store::Model& managedObjectModel();

  // Schema builders, each returning a new description.
  static platform::store::Model createModel();
  static platform::store::Entity defineBeaconEntity();
  static platform::store::Entity defineBeaconCategoryEntity();
  static platform::store::Entity defineCustomValueEntity();
  static platform::store::Entity defineBeaconVisitEntity();
  static platform::store::Entity defineBeaconRegionEntity();
  static platform::store::Entity defineRegionVisitEntity();
  static platform::store::Entity defineEventEntity();
  static platform::store::Entity defineEventSummaryEntity();
  static platform::store::Entity defineSiteEntity();
  // Adds every relationship of the SDK's model to its entities (which must all be there).
  static void createRelationships(platform::store::Model& model);
  static platform::store::Attribute defaultAttributeWithName(std::string name, platform::store::AttributeType type);
  static platform::store::Attribute defaultIndexedAttributeWithName(std::string name,
                                                                    platform::store::AttributeType type);

  std::string applicationDocumentsDirectory() const { return documents_.string(); }
  std::filesystem::path storePath() const { return documents_ / KSSqliteDBFileName; }

  std::shared_ptr<platform::store::ObjectStore> store();

  static constexpr std::chrono::microseconds kFirstRetryWait = std::chrono::minutes(1);
  static constexpr std::chrono::microseconds kLongestRetryWait = std::chrono::hours(1);

 private:
  const std::filesystem::path documents_;
  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::mutex mutex_;
  std::shared_ptr<platform::store::ObjectStore> store_;
  int failures_ = 0;                         // failed opens in a row
  std::chrono::microseconds nextAttempt_{};  // on the clock's uptime
};

}  // namespace velmora::kestrine
