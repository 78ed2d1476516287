#include "beacons/ranging/KSSiteSingletonMakers.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/ranging/KestrineSDK.h"
#include "testing/SimWorld.h"

namespace kestrine {
namespace {

// The SDK's wiring makes the site layer's singletons on the registry's platform, each once,
// and the local-notification manager listens to the registry's site manager.
TEST(SiteSingletonMakers, TheSdkWiringMakesTheSiteLayer) {
  velmora::testing::SimWorld world;
  auto provider = KSInstanceProvider::create(world.bundle());
  KestrineSDK::installSingletons(*provider);

  auto sites = KSSiteManagerInternal::sharedInternal(*provider);
  ASSERT_NE(sites, nullptr);
  EXPECT_EQ(sites->delegateQueue()->label(), KSSiteManagerInternal::kDelegateQueueLabel);
  auto tracker = KSVisitTracker::sharedTracker(*provider);
  ASSERT_NE(tracker, nullptr);
  EXPECT_EQ(KSVisitTracker::sharedTracker(*provider), tracker);
  EXPECT_TRUE(tracker->isBeaconVisitTrackingEnabled());

  const auto before = sites->delegateCount();
  auto notifications = KSLocalNotificationManager::sharedManager(*provider);
  ASSERT_NE(notifications, nullptr);
  EXPECT_EQ(sites->delegateCount(), before + 1);
  world.runUntilIdle();
}

}  // namespace
}  // namespace kestrine
