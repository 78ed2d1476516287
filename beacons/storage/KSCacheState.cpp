#include "beacons/storage/KSCacheState.h"

namespace velmora::kestrine {

KSCacheState::KSCacheState(std::shared_ptr<platform::Clock> clock)
    : clock_(clock ? std::move(clock) : platform::Clock::system()) {}

bool KSCacheState::expired(const std::optional<platform::Date>& date, double seconds) const {
  if (!date) return true;
  // The date's offset from now is negative for past dates: expired once it is below -seconds.
  return -seconds > date->timeIntervalSince(clock_->now());
}

bool KSCacheState::hasFullSyncExpiredForTimeInterval(double seconds) const {
  return expired(lastCompletedFullSync_, seconds);
}

bool KSCacheState::hasCacheRefreshExpiredForTimeInterval(double seconds) const {
  return expired(lastCompletedRefresh_, seconds);
}

bool KSCacheState::requiresValidationAfterTimeInterval(double seconds) const {
  return expired(lastValidatedWithNoActionRequired_, seconds);
}

}  // namespace velmora::kestrine
