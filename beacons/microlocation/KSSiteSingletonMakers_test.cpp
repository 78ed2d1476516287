#include "beacons/ranging/KSSiteSingletonMakers.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSEvent.h"
#include "beacons/ranging/KSRangingServicePorts.h"
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

// The SDK entry's events reach the registry's event manager; a logger a host or test installed
// first is kept.
TEST(SiteSingletonMakers, TheSdkEntrysEventsGoToTheEventManager) {
  velmora::testing::SimWorld world;
  auto provider = KSInstanceProvider::create(world.bundle());
  KestrineSDK::installSingletons(*provider);
  auto logger = provider->singleton<KSEventLogging>(KSEventLogging::kSingletonName, nullptr);
  ASSERT_NE(logger, nullptr);
  EXPECT_TRUE(provider->hasSingleton(KSEventManager::kSingletonName));
  auto event = std::make_shared<KSEvent>();
  event->setEventIdentifier(std::string("e"));
  logger->logEvent(event, 0);
  world.runUntilIdle();

  struct Own final : KSEventLogging {
    void logEvent(const std::shared_ptr<KSEvent>&, int) override {}
  };
  auto own = std::make_shared<Own>();
  auto second = KSInstanceProvider::create(world.bundle());
  second->installMaker<KSEventLogging>(std::string(KSEventLogging::kSingletonName),
                                       [own](KSInstanceProvider&) { return own; });
  KestrineSDK::installSingletons(*second);
  EXPECT_EQ(second->singleton<KSEventLogging>(KSEventLogging::kSingletonName, nullptr), own);
}

}  // namespace
}  // namespace kestrine
