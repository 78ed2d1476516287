#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/core/Clock.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// Sync bookkeeping of the beacon cache, in memory only, with three expiry tests. Each test
// answers true when its date is unset, and otherwise exactly when the date lies more than
// the given seconds in the past; a date in the future never counts as expired for a
// non-negative interval. No locking of its own.
class KSCacheState {
 public:
  // "Now" comes from the clock (the system clock when none is given).
  explicit KSCacheState(std::shared_ptr<platform::Clock> clock = nullptr);

  std::optional<platform::Date> lastCompletedFullSync() const { return lastCompletedFullSync_; }
  void setLastCompletedFullSync(std::optional<platform::Date> d) { lastCompletedFullSync_ = d; }
  std::optional<platform::Date> lastCompletedRefresh() const { return lastCompletedRefresh_; }
  void setLastCompletedRefresh(std::optional<platform::Date> d) { lastCompletedRefresh_ = d; }
  std::optional<platform::Date> latestModifiedAt() const { return latestModifiedAt_; }
  void setLatestModifiedAt(std::optional<platform::Date> d) { latestModifiedAt_ = d; }
  std::optional<platform::Date> lastValidatedWithNoActionRequired() const { return lastValidatedWithNoActionRequired_; }
  void setLastValidatedWithNoActionRequired(std::optional<platform::Date> d) { lastValidatedWithNoActionRequired_ = d; }
  std::int64_t objectCountAfterLastSync() const { return objectCountAfterLastSync_; }
  void setObjectCountAfterLastSync(std::int64_t n) { objectCountAfterLastSync_ = n; }

  bool hasFullSyncExpiredForTimeInterval(double seconds) const;
  bool hasCacheRefreshExpiredForTimeInterval(double seconds) const;
  bool requiresValidationAfterTimeInterval(double seconds) const;

 private:
  bool expired(const std::optional<platform::Date>& date, double seconds) const;

  std::shared_ptr<platform::Clock> clock_;
  std::optional<platform::Date> lastCompletedFullSync_;
  std::optional<platform::Date> lastCompletedRefresh_;
  std::optional<platform::Date> latestModifiedAt_;
  std::optional<platform::Date> lastValidatedWithNoActionRequired_;
  std::int64_t objectCountAfterLastSync_ = 0;
};

}  // namespace velmora::kestrine
