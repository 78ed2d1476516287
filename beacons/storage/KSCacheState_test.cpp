#include "beacons/storage/KSCacheState.h"

#include <gtest/gtest.h>

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::ManualClock;

TEST(KSCacheStateTest, ExpiryTestsAnswerByTheAgeOfTheirDate) {
  auto clock = std::make_shared<ManualClock>(Date::fromReferenceSeconds(800'000'000));
  const Date now = clock->now();
  KSCacheState fresh(clock);
  EXPECT_TRUE(fresh.hasFullSyncExpiredForTimeInterval(3600));
  EXPECT_TRUE(fresh.hasCacheRefreshExpiredForTimeInterval(3600));
  EXPECT_TRUE(fresh.requiresValidationAfterTimeInterval(3600));
  EXPECT_EQ(fresh.objectCountAfterLastSync(), 0);
  EXPECT_FALSE(fresh.latestModifiedAt());

  struct Case {
    double ago;
    double interval;
    bool expired;
  } cases[] = {
      {600, 3600, false},   // ten minutes ago
      {7200, 3600, true},   // two hours ago
      {3600, 3600, false},  // exactly the interval: not more than it
      {3600.000001, 3600, true},
      {-60, 0, false},      // in the future
      {0, 0, false},
  };
  for (const auto& k : cases) {
    KSCacheState s(clock);
    const Date d = now.addingTimeInterval(-k.ago);
    s.setLastCompletedFullSync(d);
    s.setLastCompletedRefresh(d);
    s.setLastValidatedWithNoActionRequired(d);
    EXPECT_EQ(s.hasFullSyncExpiredForTimeInterval(k.interval), k.expired) << k.ago;
    EXPECT_EQ(s.hasCacheRefreshExpiredForTimeInterval(k.interval), k.expired) << k.ago;
    EXPECT_EQ(s.requiresValidationAfterTimeInterval(k.interval), k.expired) << k.ago;
  }

  KSCacheState s(clock);
  s.setLastCompletedFullSync(now);
  EXPECT_FALSE(s.hasFullSyncExpiredForTimeInterval(3600));
  clock->advance(3601.0);
  EXPECT_TRUE(s.hasFullSyncExpiredForTimeInterval(3600));
  EXPECT_TRUE(s.hasCacheRefreshExpiredForTimeInterval(3600));  // its own date is still unset
}

}  // namespace
}  // namespace velmora::kestrine
