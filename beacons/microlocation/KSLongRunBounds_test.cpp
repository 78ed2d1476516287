// A few hours of a car park through the whole SDK: thousands of passing beacons, each heard
// for a minute, beacons always present, an event a minute, a cloud that fails now and then
// and the app in the background for a while every hour. What the SDK keeps must follow what
// is around now, not everything seen since the start.

#include <gtest/gtest.h>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSSessionManager.h"
#include "testing/LongRunWorld.h"

namespace velmora::kestrine {
namespace {

using velmora::testing::LongRunWorld;

TEST(LongRunBounds, TablesFollowWhatIsAroundNowOverHoursOfPassingBeacons) {
  LongRunWorld::Plan plan;
  plan.hours = 4;
  plan.passingBeacons = 4000;  // one every 3.6 s
  plan.presentBeacons = 20;
  LongRunWorld run(plan);
  ASSERT_TRUE(run.start());
  EXPECT_EQ(run.hub()->cachedBeaconCount(), 20u);

  const double arrival = plan.hours * 3600 / plan.passingBeacons;
  // Passing beacons the cache may still hold: those heard within the quiet time, plus one
  // sweep interval and the time each is heard.
  const auto cacheBound = static_cast<std::size_t>(
      plan.presentBeacons + (KSBeaconManagerInternal::kQuietTimeBeforeEvictionInSeconds +
                             KSBeaconManagerInternal::kEvictionSweepIntervalInSeconds + plan.passingSeconds) /
                                arrival + 10);
  // Peripherals heard within the metadata's retention, plus a prune interval.
  const auto metadataBound = static_cast<std::size_t>(
      plan.presentBeacons +
      (KSCentralManagerClient::kMetadataRetentionInSeconds + KSCentralManagerClient::kMetadataPruneIntervalInSeconds +
       plan.passingSeconds) / arrival + 10);
  // Events handed over within the retention, and those the failing cloud still holds.
  const auto eventBound = static_cast<std::size_t>(KSEventManager::kHandedOverRetention / plan.eventEverySeconds) +
                          static_cast<std::size_t>(plan.failuresPerHour) + 10;

  std::vector<LongRunWorld::Sizes> hours;
  run.runUntil(plan.hours * 3600, [&](int) { hours.push_back(run.sizes()); });
  ASSERT_EQ(hours.size(), static_cast<std::size_t>(plan.hours));
  EXPECT_EQ(run.passingBeaconsSoFar(), plan.passingBeacons);
  for (std::size_t h = 0; h < hours.size(); ++h) {
    SCOPED_TRACE("hour " + std::to_string(h + 1));
    const auto& s = hours[h];
    EXPECT_LE(s.cachedBeacons, cacheBound);
    EXPECT_GE(s.cachedBeacons, static_cast<std::size_t>(plan.presentBeacons));
    EXPECT_LE(s.peripheralMetadata, metadataBound);
    EXPECT_LE(s.learntProximityUUIDs, KSCentralManagerClient::kMaximumLearntProximityUUIDs);
    EXPECT_LE(s.handedOverEvents, eventBound);
    EXPECT_LE(s.sessions, 2 * (h + 1) + 2);
  }
  // The always-present beacons stay synced through it all, and the cloud took events.
  for (int i = 0; i < plan.presentBeacons; ++i) {
    auto b = run.hub()->cachedBeaconWithBeaconID("p-" + std::to_string(i));
    ASSERT_TRUE(b) << i;
    EXPECT_EQ(b->syncStatus(), KSSyncStatusSynced) << i;
  }
  EXPECT_GT(run.eventPosts(), 0u);
}

}  // namespace
}  // namespace velmora::kestrine
