#include "beacons/storage/KSUserDefaultsManager.h"

#include "beacons/model/KSApp.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSBeaconRegion.h"
#include "platform/core/Log.h"
#include "platform/defaults/UserDefaults.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

class KSUserDefaultsManagerTest : public ::testing::Test {
 protected:
  velmora::testing::TempDir dir;
  std::filesystem::path file = dir.path() / "defaults.plist";

  // A manager as after a restart: new defaults read from the same file.
  std::shared_ptr<KSUserDefaultsManager> reopen() {
    return std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(file));
  }
};

TEST_F(KSUserDefaultsManagerTest, KeysAreTheSdksPersistedNames) {
  const std::pair<std::string_view, std::string_view> keys[] = {
      {KSUserDefaultsKestrineIdentifierKey, "com.kestrine.userDefaults.kestrineIdentifier"},
      {KSUserDefaultsDeviceIdentifierKey, "com.kestrine.userDefaults.deviceIdentifier"},
      {KSUserDefaultsSessionsKey, "com.kestrine.userDefaults.sessions"},
      {KSUserDefaultsBeaconRegionsKey, "com.kestrine.userDefaults.beaconRegions"},
      {KSUserDefaultsResumedZoneMonitoringAtKey, "com.kestrine.userDefaults.resumedZoneMonitoringAt"},
      {KSUserDefaultsSuspendedZoneMonitoringAtKey, "com.kestrine.userDefaults.suspendedZoneMonitoringAt"},
      {KSUserDefaultsSDKRemoteConfigurationsKey, "com.kestrine.userDefaults.KSUserDefaultsSDKRemoteConfigurationsKey"},
      {KSUserDefaultsAPIRetryAfterKey, "com.kestrine.userDefaults.KSUserDefaultsAPIRetryAfterKey"},
  };
  for (const auto& [constant, text] : keys) EXPECT_EQ(constant, text);
}

TEST_F(KSUserDefaultsManagerTest, ValuesSurviveARestartAndNothingRemovesThem) {
  auto fresh = reopen();
  EXPECT_FALSE(fresh->loadKestrineIdentifier());
  EXPECT_FALSE(fresh->loadDeviceIdentifier());
  EXPECT_FALSE(fresh->loadResumedZoneMonitoringAt());
  EXPECT_FALSE(fresh->loadSuspendedZoneMonitoringAt());
  EXPECT_FALSE(fresh->apiRetryAfter());

  const Date resumed = Date::fromUnixSeconds(1'700'000'000.0);
  const Date suspended = Date::fromUnixSeconds(1'700'000'100.0);
  fresh->storeKestrineIdentifier("ks:6F1C3E2A-9B7D-4C0E-8A55-3D2B1F0E9C77");
  fresh->storeDeviceIdentifier("custom-device");
  fresh->storeResumedZoneMonitoringAt(resumed);
  fresh->storeSuspendedZoneMonitoringAt(suspended);
  fresh->setApiRetryAfter(resumed);

  auto again = reopen();  // no explicit flush: every store wrote the file
  EXPECT_EQ(again->loadKestrineIdentifier(), "ks:6F1C3E2A-9B7D-4C0E-8A55-3D2B1F0E9C77");
  EXPECT_EQ(again->loadDeviceIdentifier(), "custom-device");
  EXPECT_EQ(again->loadResumedZoneMonitoringAt(), resumed);
  EXPECT_EQ(again->loadSuspendedZoneMonitoringAt(), suspended);
  EXPECT_EQ(again->apiRetryAfter(), resumed);

  again->storeDeviceIdentifier(std::nullopt);
  again->storeResumedZoneMonitoringAt(std::nullopt);
  again->storeSuspendedZoneMonitoringAt(std::nullopt);
  again->setApiRetryAfter(std::nullopt);
  auto last = reopen();
  EXPECT_FALSE(last->loadDeviceIdentifier());
  EXPECT_FALSE(last->loadResumedZoneMonitoringAt());
  EXPECT_FALSE(last->loadSuspendedZoneMonitoringAt());
  EXPECT_FALSE(last->apiRetryAfter());
  const auto stored = last->userDefaults()->dictionaryRepresentation();
  EXPECT_EQ(stored.size(), 1u) << "only the installation identifier is left";
}

TEST_F(KSUserDefaultsManagerTest, LoadsAreTyped) {
  auto defaults = platform::UserDefaults::open(file);
  defaults->setObject(KSUserDefaultsKestrineIdentifierKey, 12345);
  defaults->setObject(KSUserDefaultsDeviceIdentifierKey, platform::Value::makeArray({"x"}));
  defaults->setObject(KSUserDefaultsResumedZoneMonitoringAtKey, "2024-01-01");
  defaults->setObject(KSUserDefaultsSuspendedZoneMonitoringAtKey, 1.7e9);
  defaults->setObject(KSUserDefaultsAPIRetryAfterKey, true);
  KSUserDefaultsManager manager(defaults);
  EXPECT_FALSE(manager.loadKestrineIdentifier());
  EXPECT_FALSE(manager.loadDeviceIdentifier());
  EXPECT_FALSE(manager.loadResumedZoneMonitoringAt());
  EXPECT_FALSE(manager.loadSuspendedZoneMonitoringAt());
  EXPECT_FALSE(manager.apiRetryAfter());

  defaults->setObject(KSUserDefaultsKestrineIdentifierKey, "");
  EXPECT_FALSE(manager.loadKestrineIdentifier()) << "an empty identifier counts as none";
}

TEST_F(KSUserDefaultsManagerTest, RetryAfterIsReadOnceThenCached) {
  auto defaults = platform::UserDefaults::open(file);
  const Date first = Date::fromUnixSeconds(1'800'000'000.0);
  const Date second = Date::fromUnixSeconds(1'800'000'500.0);
  KSUserDefaultsManager manager(defaults);
  manager.setApiRetryAfter(first);

  // Another value under the key, through the same defaults and through the file.
  defaults->setObject(KSUserDefaultsAPIRetryAfterKey, second);
  defaults->synchronize();
  EXPECT_EQ(manager.apiRetryAfter(), first);
  EXPECT_EQ(reopen()->apiRetryAfter(), second);

  // A manager that has not read the key yet takes what lies under it, then keeps it.
  KSUserDefaultsManager late(defaults);
  EXPECT_EQ(late.apiRetryAfter(), second);
  defaults->setObject(KSUserDefaultsAPIRetryAfterKey, first);
  EXPECT_EQ(late.apiRetryAfter(), second);
}

TEST_F(KSUserDefaultsManagerTest, RetryAfterFromManyThreads) {
  auto manager = reopen();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        manager->setApiRetryAfter(Date::fromUnixSeconds(1e9 + t * 100 + i));
        (void)manager->apiRetryAfter();
      }
    });
  }
  for (auto& th : threads) th.join();
  // Whichever write came last is both the cached and the stored value.
  EXPECT_EQ(reopen()->apiRetryAfter(), manager->apiRetryAfter());
}

TEST_F(KSUserDefaultsManagerTest, SharedManagerIsTheRegistrysOnTheRegistrysDefaults) {
  KSPlatformBundle bundle;
  bundle.defaults = platform::UserDefaults::open(file);
  auto provider = KSInstanceProvider::create(bundle);
  KSUserDefaultsManager::installMaker(*provider);
  KSInstanceProvider::setSharedProvider(provider);
  auto byName = provider->singletonNamed(KSUserDefaultsManager::kSingletonName);
  auto shared = KSUserDefaultsManager::sharedManager();
  EXPECT_EQ(std::static_pointer_cast<void>(shared), byName);
  EXPECT_EQ(KSUserDefaultsManager::sharedManager(), shared);
  EXPECT_EQ(shared->userDefaults(), bundle.defaults);
  KSInstanceProvider::setSharedProvider(nullptr);

  platform::LogCapture log;
  KSUserDefaultsManager none(nullptr);
  none.storeDeviceIdentifier("x");
  EXPECT_FALSE(none.loadDeviceIdentifier());
  EXPECT_EQ(log.count("no user defaults"), 1u);
}

TEST_F(KSUserDefaultsManagerTest, TheCachedAppSurvivesARestartAndStoringNothingRemovesIt) {
  auto app = KSApp::initWithDictionary(platform::Value::makeDict({{"id", "app-1"}, {"name", "Lot"}}));
  ASSERT_TRUE(app);
  app->setVerificationCode(std::string(64, 'a'));
  app->setVerifiedAt(platform::Date::fromReferenceSeconds(736'000'000));
  reopen()->storeApp(app);
  auto loaded = reopen()->loadCachedApp();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->appID(), "app-1");
  EXPECT_EQ(loaded->verificationCode(), std::string(64, 'a'));
  EXPECT_EQ(loaded->verifiedAt(), app->verifiedAt());
  reopen()->storeApp(nullptr);
  EXPECT_EQ(reopen()->loadCachedApp(), nullptr);
}

}  // namespace
}  // namespace velmora::kestrine

namespace velmora::kestrine {
namespace {

std::shared_ptr<KSBeaconRegion> regionNamed(std::string identifier, std::string uuid) {
  auto r = std::make_shared<KSBeaconRegion>();
  r->setIdentifier(std::move(identifier));
  r->setProximityUUIDString(std::move(uuid));
  return r;
}

TEST_F(KSUserDefaultsManagerTest, BeaconRegionsRoundTripAndBadListsLoadEmpty) {
  EXPECT_TRUE(reopen()->loadBeaconRegionForRegionIdentifier().empty());

  auto app = regionNamed("app.region", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
  app->setAppManaged(true);
  app->setMajor(7);
  reopen()->storeBeaconRegionForRegionIdentifier(
      {{"app.region", app}, {"com.kestrine.r", regionNamed("com.kestrine.r", "B9407F30-F5F8-466E-AFF9-25556B57FE6D")}});
  auto loaded = reopen()->loadBeaconRegionForRegionIdentifier();
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_TRUE(loaded.at("app.region")->isAppManaged());
  EXPECT_EQ(loaded.at("app.region")->major(), 7);
  EXPECT_EQ(loaded.at("com.kestrine.r")->proximityUUIDString(), "B9407F30-F5F8-466E-AFF9-25556B57FE6D");

  // Two records with one identifier: the later one is kept.
  auto defaults = platform::UserDefaults::open(file);
  platform::Array twice{platform::Value(regionNamed("dup", "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0")->toDictionary()),
                        platform::Value(regionNamed("dup", "B9407F30-F5F8-466E-AFF9-25556B57FE6D")->toDictionary())};
  defaults->setObject(KSUserDefaultsBeaconRegionsKey, platform::Value(twice));
  defaults->synchronize();
  loaded = reopen()->loadBeaconRegionForRegionIdentifier();
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded.at("dup")->proximityUUIDString(), "B9407F30-F5F8-466E-AFF9-25556B57FE6D");

  // A list with an element that is no region record loads as nothing at all.
  twice.push_back(platform::Value("not a region"));
  defaults->setObject(KSUserDefaultsBeaconRegionsKey, platform::Value(twice));
  defaults->synchronize();
  EXPECT_TRUE(reopen()->loadBeaconRegionForRegionIdentifier().empty());
}

}  // namespace
}  // namespace velmora::kestrine
