#include "beacons/ranging/KSSiteSingletonMakers.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventManager.h"
#include "beacons/microlocation/KSLocalNotificationManager.h"
#include "beacons/microlocation/KSSiteManagerInternal.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSEvent.h"
#include "beacons/storage/KSEventSummary.h"
#include "beacons/storage/KSLocalStorageManager.h"
#include "platform/store/StoreContext.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/ranging/KestrineSDK.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
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

// The API operation manager caches its site syncs in the registry's site manager, found only
// once the SDK has made it (a sync result arriving earlier makes neither it nor the hub).
TEST(SiteSingletonMakers, TheOperationManagersSiteCacheIsTheSiteManagerOnceMade) {
  velmora::testing::SimWorld world;
  auto provider = KSInstanceProvider::create(world.bundle());
  KestrineSDK::installSingletons(*provider);
  auto ports = KSApiOperationManagerPortsForRegistry(provider);
  EXPECT_EQ(ports.siteCache(), nullptr);
  EXPECT_FALSE(provider->hasSingleton(KSSiteManagerInternal::kSingletonName));
  EXPECT_FALSE(provider->hasSingleton(KSBeaconManagerInternal::kSingletonName));

  auto sites = KSSiteManagerInternal::sharedInternal(*provider);
  ASSERT_NE(sites, nullptr);
  EXPECT_EQ(ports.siteCache(), std::static_pointer_cast<KSApiSiteCachePort>(sites));
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

// The registry's event manager keeps what it is given in the registry's store, and making it
// makes neither the operation manager nor the site manager: it reaches them only once the SDK
// has made them.
TEST(SiteSingletonMakers, TheRegistrysEventManagerStoresEventsAndSummaries) {
  velmora::testing::SimWorld world;
  auto provider = KSInstanceProvider::create(world.bundle());
  KestrineSDK::installSingletons(*provider);
  auto manager = KSEventManager::sharedManager(*provider);
  ASSERT_NE(manager, nullptr);
  EXPECT_FALSE(provider->hasSingleton(KSApiOperationManager::kSingletonName));
  EXPECT_FALSE(provider->hasSingleton(KSSiteManagerInternal::kSingletonName));

  manager->logEventWithIdentifier("opened", std::string("v1"), std::nullopt, std::nullopt);
  KSEventSummary summary;
  summary.setEventIdentifier(std::string("t-1"));
  summary.setTriggeredCount(3);
  manager->saveEventSummary(summary);
  world.runUntilIdle();
  EXPECT_FALSE(provider->hasSingleton(KSApiOperationManager::kSingletonName)) << "posting made no operation manager";

  auto storage = KSLocalStorageManager::sharedManager(*provider);
  ASSERT_NE(storage, nullptr);
  auto stored = storage->eventSummaryForIdentifier("t-1");
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->triggeredCount(), 3);
  auto context = storage->mainContext();
  ASSERT_NE(context, nullptr);
  std::int64_t events = -1;
  context->performAndWait([&](platform::store::StoreContext& c) {
    events = c.count(std::string(KSEventEntityName), platform::store::Predicate::eq("eventIdentifier", platform::Value("opened")))
                 .value_or(-1);
  });
  EXPECT_EQ(events, 1);
  KSLocalStoragePort::setShared(nullptr);
  KSBeaconHubPort::setShared(nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
