#include "beacons/ranging/KSBeaconRegionManager.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconUtilities.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/core/Log.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using Regions = std::vector<std::shared_ptr<KSBeaconRegion>>;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr std::string_view kOtherUUID = "B9407F30-F5F8-466E-AFF9-25556B57FE6D";

class FakeApi : public KSApiOperationManaging {
 public:
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date>) override {}
  void syncBeaconsInSiteWithSiteID(const std::string&, std::optional<platform::Date>) override {}
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string&) override {}
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>&) override {}
  bool syncBeaconRegionsWithAppToken(const std::string& token) override {
    tokens.push_back(token);
    return accept;
  }
  std::vector<std::string> tokens;
  bool accept = true;
};

class Recorder : public KSBeaconRegionManagerDelegate {
 public:
  static std::vector<std::string> ids(const Regions& regions) {
    std::vector<std::string> out;
    for (const auto& r : regions) out.push_back(r->identifier().value_or(""));
    std::sort(out.begin(), out.end());
    return out;
  }
  void beaconRegionManagerDidCacheBeaconRegions(Manager, Regions r) override { log.push_back("cache " + join(ids(r))); }
  void beaconRegionManagerDidRemoveCachedBeaconRegions(Manager, Regions r) override {
    log.push_back("remove " + join(ids(r)));
  }
  void beaconRegionManagerDidChangeBeaconRegionCache(Manager) override { log.push_back("change"); }
  static std::string join(const std::vector<std::string>& v) {
    std::string s;
    for (const auto& x : v) s += (s.empty() ? "" : ",") + x;
    return s;
  }
  std::vector<std::string> log;
};

std::shared_ptr<KSBeaconRegion> region(std::string identifier, std::string_view uuid = kUUID) {
  auto r = std::make_shared<KSBeaconRegion>();
  r->setIdentifier(std::move(identifier));
  r->setProximityUUIDString(std::string(uuid));
  return r;
}

struct RegionManagerTest : ::testing::Test {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<FakeApi> api = std::make_shared<FakeApi>();
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<KSBeaconRegionManager> manager;
  int tokenStatus = 2;
  bool bluetooth = true;
  bool location = true;

  std::shared_ptr<KSBeaconRegionManager> make(bool defaultRegion = false,
                                              std::shared_ptr<platform::UserDefaults> defaults = nullptr) {
    provider = KSInstanceProvider::create(world.bundle(defaults ? defaults : world.defaults));
    configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions(
        {{std::string(KSOptionMonitorKestrineRegionOnStartup), Value(defaultRegion ? "YES" : "NO")}});
    configurator->setAppToken("T");
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    manager = KSBeaconRegionManager::create(
        provider, {[this] { return tokenStatus; }, [this] { return bluetooth; }, [this] { return location; },
                   [a = api] { return a; }});
    manager->addDelegate(recorder);
    return manager;
  }
  KSBeaconRegionSyncResult result(Regions regions, std::int64_t status = 200) { return {status, std::move(regions)}; }
  Regions stored() {
    Regions out;
    for (auto& [id, r] : KSUserDefaultsManager(platform::UserDefaults::open(world.defaults->path()))
                             .loadBeaconRegionForRegionIdentifier()) {
      out.push_back(r);
    }
    return out;
  }
};

TEST_F(RegionManagerTest, DueTestTable) {
  struct Case {
    int token;
    bool emptyCache, bluetooth, location;
    double secondsAfterAcceptedRequest;  // < 0: no request yet
    bool due;
  };
  const Case cases[] = {
      {2, true, false, false, -1, true},    // an empty cache syncs whatever the radios
      {1, true, true, true, -1, false},     // unverified
      {3, true, true, true, -1, false},     // invalid
      {0, true, true, true, -1, false},     // no token
      {2, false, true, true, -1, true},
      {2, false, false, true, -1, false},   // Bluetooth off
      {2, false, true, false, -1, false},   // location not authorised
      {2, true, true, true, 299, false},    // accepted request still in flight
      {2, true, true, true, 300, false},    // not yet later than the next attempt
      {2, true, true, true, 301, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.token << c.emptyCache << c.bluetooth << c.location << " "
                                      << c.secondsAfterAcceptedRequest);
    world.defaults->removeObjectForKey(KSUserDefaultsBeaconRegionsKey);
    make();
    if (!c.emptyCache) manager->cacheBeaconRegion(region("com.kestrine.a"), false);
    if (c.secondsAfterAcceptedRequest >= 0) {
      manager->cacheBeaconRegions();
      world.advanceBy(c.secondsAfterAcceptedRequest);
    }
    tokenStatus = c.token;
    bluetooth = c.bluetooth;
    location = c.location;
    EXPECT_EQ(manager->shouldRetryCacheRegion(), c.due);
    tokenStatus = 2;
    bluetooth = location = true;
  }
}

TEST_F(RegionManagerTest, RequestsFollowAcceptedRefusedAndAnsweredSyncs) {
  make();
  api->accept = false;
  manager->cacheBeaconRegions();
  manager->cacheBeaconRegions();  // a refused request records nothing: asked again
  EXPECT_EQ(api->tokens, (std::vector<std::string>{"T", "T"}));
  EXPECT_FALSE(manager->regionCacheNextAttempt());

  api->accept = true;
  manager->cacheBeaconRegions();
  world.advanceBy(299);
  manager->allCachedBeaconRegions();
  EXPECT_EQ(api->tokens.size(), 3u);
  world.advanceBy(2);
  manager->allCachedBeaconRegions();
  EXPECT_EQ(api->tokens.size(), 4u);

  manager->cacheBeaconRegionsFromSyncResult(result({region("com.kestrine.a")}));
  world.advanceBy(86399);
  manager->cacheBeaconRegions();
  EXPECT_EQ(api->tokens.size(), 4u);
  manager->forceSyncBeaconRegions();
  EXPECT_EQ(api->tokens.size(), 5u);
}

TEST_F(RegionManagerTest, SyncResultReplacesServerRegionsKeepsAppManagedAndSkipsInvalid) {
  make();
  auto mine = region("host.mine");
  mine->setAppManaged(true);
  manager->cacheBeaconRegion(mine, true);
  manager->cacheBeaconRegion(region("com.kestrine.old"), false);
  manager->cacheBeaconRegion(region("com.kestrine.same"), false);
  world.runUntilIdle();
  recorder->log.clear();
  std::vector<std::string> posted;
  auto token = world.center->addObserver("", nullptr, nullptr, [&](const platform::Notification& n) {
    if (n.name.find("BeaconRegion") == std::string::npos) return;
    posted.push_back(n.name + " " + *platform::Value(n.userInfo)[KSBeaconRegionManagerNotificationRegionIdentifierItem].string());
  });

  manager->cacheBeaconRegionsFromSyncResult(
      result({region("com.kestrine.same"), region("com.kestrine.bad", "not-a-uuid"), region("com.kestrine.new")}));
  world.runUntilIdle();
  world.center->removeObserver(token);
  EXPECT_EQ(recorder->log, (std::vector<std::string>{"cache com.kestrine.new,com.kestrine.same",
                                                     "remove com.kestrine.old", "change"}));
  // Every region the sync caches or removes is announced, as when one is cached or removed alone.
  EXPECT_EQ(posted, (std::vector<std::string>{
                        "KSBeaconRegionManagerNotificationDidCacheBeaconRegion com.kestrine.same",
                        "KSBeaconRegionManagerNotificationDidCacheBeaconRegion com.kestrine.new",
                        "KSBeaconRegionNotificationManagerDidRemoveCachedBeaconRegion com.kestrine.old"}));
  EXPECT_EQ(Recorder::ids(manager->allCachedBeaconRegions()),
            (std::vector<std::string>{"com.kestrine.new", "com.kestrine.same", "host.mine"}));
  EXPECT_EQ(Recorder::ids(stored()), Recorder::ids(manager->allCachedBeaconRegions()));

  // A failed sync changes nothing.
  manager->cacheBeaconRegionsFromSyncResult(result({}, 500));
  world.runUntilIdle();
  EXPECT_EQ(manager->allCachedBeaconRegions().size(), 3u);
}

TEST_F(RegionManagerTest, EmptyResultWithNothingToRemoveStillStoresAndWaitsADay) {
  make();
  auto mine = region("host.mine");
  mine->setAppManaged(true);
  manager->cacheBeaconRegion(mine, false);  // no store yet
  EXPECT_TRUE(stored().empty());
  world.runUntilIdle();
  recorder->log.clear();
  const auto at = world.scheduler->clock()->now();
  manager->cacheBeaconRegionsFromSyncResult(result({region("com.kestrine.bad", "nope")}));
  world.runUntilIdle();
  EXPECT_TRUE(recorder->log.empty());
  EXPECT_EQ(manager->regionCacheNextAttempt(), at.addingTimeInterval(86400.0));
  EXPECT_EQ(Recorder::ids(stored()), std::vector<std::string>{"host.mine"});
}

TEST_F(RegionManagerTest, NotificationsCacheAlwaysRemoveOnlyKnownRegions) {
  make();
  std::vector<std::string> posted;
  auto token = world.center->addObserver("", nullptr, nullptr, [&](const platform::Notification& n) {
    if (n.name.find("BeaconRegion") == std::string::npos) return;
    posted.push_back(n.name + " " + *platform::Value(n.userInfo)[KSBeaconRegionManagerNotificationRegionIdentifierItem].string());
  });
  manager->cacheBeaconRegion(region("com.kestrine.a"), false);
  manager->removeCachedBeaconRegion(region("com.kestrine.unknown"), true);
  manager->removeCachedBeaconRegion(region("com.kestrine.a"), false);
  EXPECT_EQ(posted, (std::vector<std::string>{
                        "KSBeaconRegionManagerNotificationDidCacheBeaconRegion com.kestrine.a",
                        "KSBeaconRegionNotificationManagerDidRemoveCachedBeaconRegion com.kestrine.a"}));
  world.center->removeObserver(token);

  platform::LogCapture errors;
  manager->cacheBeaconRegion(nullptr, true);
  manager->cacheBeaconRegion(region("com.kestrine.bad", "nope"), true);
  EXPECT_EQ(errors.count("Invalid parameter not satisfying: beaconRegion"), 1u);
  EXPECT_EQ(errors.count("Beacon Region Not Valid"), 1u);
  EXPECT_TRUE(manager->allCachedBeaconRegions().empty());
}

TEST_F(RegionManagerTest, CentralSeesASnapshotOfUUIDsAndNamespaces) {
  make(true);  // a fresh install holds the default region
  ASSERT_EQ(Recorder::ids(manager->allCachedBeaconRegions()), std::vector<std::string>{std::string(KSBeaconRegionIdentifier)});
  EXPECT_EQ(manager->cachedProximityUUIDStrings(), std::vector<std::string>{std::string(KSProximityUUIDString)});
  const auto before = manager->changeCount();
  auto eddystone = region("com.kestrine.e", kOtherUUID);
  eddystone->setNamespaceID("00112233445566778899");
  manager->cacheBeaconRegion(eddystone, false);
  EXPECT_GT(manager->changeCount(), before);
  EXPECT_EQ(manager->cachedNamespaceIDs(), std::vector<std::string>{"00112233445566778899"});
  EXPECT_EQ(manager->cachedProximityUUIDStrings().size(), 2u);
}

TEST_F(RegionManagerTest, RegionsSurviveANewRegistryAndABackgroundLaunchWaitsADayAfterTheLatestCache) {
  make(true);
  manager->cacheBeaconRegionsFromSyncResult(result({region("com.kestrine.a")}));
  world.advanceBy(100);
  manager->cacheBeaconRegion(region("com.kestrine.b"), true);
  const auto latest = world.scheduler->clock()->now();
  manager.reset();

  world.app->perform(platform::sim::SimApp::Step::LaunchBackground);
  world.runUntilIdle();
  auto again = make(true, platform::UserDefaults::open(world.defaults->path()));
  EXPECT_EQ(Recorder::ids(again->allCachedBeaconRegions()),
            (std::vector<std::string>{"com.kestrine.a", "com.kestrine.b"}));  // no default region added
  EXPECT_EQ(again->regionCacheNextAttempt(), latest.addingTimeInterval(86400.0));
  EXPECT_TRUE(api->tokens.empty());
}

TEST_F(RegionManagerTest, BecomingActiveRefreshesListenersAndAsksForASync) {
  make();
  world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  world.runUntilIdle();
  EXPECT_NE(std::find(recorder->log.begin(), recorder->log.end(), "change"), recorder->log.end());
  EXPECT_EQ(api->tokens.size(), 1u);
}

}  // namespace
}  // namespace velmora::kestrine
