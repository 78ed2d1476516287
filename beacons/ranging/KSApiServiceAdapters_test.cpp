#include "beacons/ranging/KSApiServiceAdapters.h"

#include <gtest/gtest.h>

#include "beacons/api/KSAccountManager.h"
#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiOperationManager.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KestrineSDK.h"
#include "testing/FakeAccountManager.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

struct WiredRegistry {
  WiredRegistry() { provider = KSInstanceProvider::create(world.bundle()); }
  ~WiredRegistry() {
    world.runUntilIdle();
    KSBeaconHubPort::setShared(nullptr);
    KSLocalStoragePort::setShared(nullptr);
    KSApiClientPort::setShared(nullptr);
  }
  template <class T>
  std::shared_ptr<T> get(std::string_view name) {
    return provider->singleton<T>(name, nullptr);
  }
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
};

TEST(KSApiServiceWiring, RangingsServicesAreTheRegistrysOwnApiAndStore) {
  WiredRegistry w;
  KestrineSDK::installSingletons(*w.provider);
  auto configurator = w.get<KSConfigurator>(KSConfigurator::kSingletonName);
  configurator->setUserOptions({{std::string(KSOptionApiBaseURL), platform::Value("http://127.0.0.1:9/api/")}});

  auto client = w.get<KSApiClient>(KSApiClient::kSingletonName);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->baseURL(), "http://127.0.0.1:9/api/");
  // The configurator's headers go to that same client.
  EXPECT_EQ(dynamic_cast<KSApiClient*>(w.get<KSApiHeaders>(KSApiHeadersSingletonName).get()), client.get());

  auto api = std::dynamic_pointer_cast<KSApiOperationManagerAdapter>(
      w.get<KSApiOperationManaging>(KSApiOperationManaging::kSingletonName));
  ASSERT_TRUE(api);
  EXPECT_EQ(api->manager(), w.get<KSApiOperationManager>(KSApiOperationManager::kSingletonName));
  // The configure step makes the operation manager by name.
  EXPECT_TRUE(w.provider->singletonNamed(KSApiOperationManager::kSingletonName));

  auto account = std::dynamic_pointer_cast<KSAccountManagerAdapter>(
      w.get<KSAccountManaging>(KSAccountManaging::kSingletonName));
  ASSERT_TRUE(account);
  EXPECT_EQ(account->manager(), w.get<KSAccountManager>(KSAccountManager::kSingletonName));
  EXPECT_TRUE(std::dynamic_pointer_cast<KSBeaconRegionStoreAdapter>(
      w.get<KSBeaconRegionStoring>(KSBeaconRegionStoring::kSingletonName)));
}

TEST(KSApiServiceWiring, AMakerInstalledBeforeTheWiringIsKept) {
  WiredRegistry w;
  auto fake = std::make_shared<testsupport::FakeAccountManager>(w.world.scheduler->clock());
  w.provider->installMaker<KSAccountManaging>(std::string(KSAccountManaging::kSingletonName),
                                              [fake](KSInstanceProvider&) { return fake; });
  KestrineSDK::installSingletons(*w.provider);
  EXPECT_EQ(w.get<KSAccountManaging>(KSAccountManaging::kSingletonName), fake);
  EXPECT_FALSE(w.provider->hasSingleton(KSAccountManager::kSingletonName));
}

TEST(KSApiServiceWiring, TheOperationManagersConsumersAreFoundOnlyOnceMade) {
  WiredRegistry w;
  KestrineSDK::installSingletons(*w.provider);
  auto ports = KSApiOperationManagerPortsForRegistry(w.provider);
  // A sync result arriving before the hub exists makes no hub.
  EXPECT_FALSE(ports.beaconCache());
  EXPECT_FALSE(ports.regionCache());
  EXPECT_FALSE(ports.siteCache());
  EXPECT_FALSE(w.provider->hasSingleton(KSBeaconManagerInternal::kSingletonName));

  auto hub = KSBeaconManagerInternal::sharedInternal(*w.provider);
  ASSERT_TRUE(ports.beaconCache());
  auto beacon = std::make_shared<KSBeacon>();
  beacon->setBeaconID("b-1");
  beacon->setSerialNumber("SN-1");
  hub->cacheBeacon(beacon, true, false);
  EXPECT_EQ(ports.beaconCache()->cachedBeaconWithSerialNumber("SN-1"), beacon);

  // The SDK port answers for this registry's configurator.
  auto sdk = ports.sdk();
  EXPECT_TRUE(sdk->isUsingApi());
  w.get<KSConfigurator>(KSConfigurator::kSingletonName)
      ->setUserOptions({{std::string(KSOptionUseApi), platform::Value(false)}});
  EXPECT_FALSE(sdk->isUsingApi());
  EXPECT_EQ(sdk->appTokenVerificationStatus(), 0);

  // A site cache is whatever its owner registers under the shared name.
  struct Sites : KSApiSiteCachePort {
    void cacheSitesFromSyncResult(const KSSiteSyncResult&) override {}
    std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string&) override { return nullptr; }
    bool hasCacheExpiredForSiteWithID(const std::string&) override { return true; }
    bool hasCacheExpiredForSitesForApp() override { return true; }
  };
  auto sites = std::make_shared<Sites>();
  w.provider->installMaker<KSApiSiteCachePort>(std::string(KSApiSiteCacheSingletonName),
                                               [sites](KSInstanceProvider&) { return sites; });
  EXPECT_EQ(ports.siteCache(), sites);
}

}  // namespace
}  // namespace velmora::kestrine
