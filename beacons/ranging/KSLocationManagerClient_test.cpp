#include "beacons/ranging/KSLocationManagerClient.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSRangingServicePorts.h"
#include "testing/SimWorld.h"

namespace velmora::kestrine {
namespace {

using platform::location::AuthorizationStatus;
using platform::location::BeaconRegion;

constexpr std::string_view kUUIDText = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
const platform::Uuid kUUID = *platform::Uuid::parse(kUUIDText);

class Recorder : public KSLocationManagerClientDelegate {
 public:
  void locationManagerClientDidEnterBeaconRegion(KSLocationManagerClient*,
                                                 const std::shared_ptr<KSBeaconRegion>& r) override {
    log.push_back("enter " + r->identifier().value_or(""));
  }
  void locationManagerClientDidExitBeaconRegion(KSLocationManagerClient*,
                                                const std::shared_ptr<KSBeaconRegion>& r) override {
    log.push_back("exit " + r->identifier().value_or(""));
  }
  void locationManagerClientDidDetermineStateForBeaconRegion(KSLocationManagerClient*, long state,
                                                             const std::shared_ptr<KSBeaconRegion>& r) override {
    log.push_back("state" + std::to_string(state) + " " + r->identifier().value_or(""));
  }
  void locationManagerClientDidRangeBeaconsInBeaconRegion(KSLocationManagerClient*,
                                                          const std::vector<platform::location::Beacon>& beacons,
                                                          const std::shared_ptr<KSBeaconRegion>& r) override {
    if (!beacons.empty()) ++rangedWithBeacons[r->identifier().value_or("")];
  }
  std::vector<std::string> log;
  std::map<std::string, int> rangedWithBeacons;
};

class FakeApi : public KSApiOperationManaging {
 public:
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date>) override {}
  void syncBeaconsInSiteWithSiteID(const std::string&, std::optional<platform::Date>) override {}
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string&) override {}
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string&) override {}
  bool syncBeaconRegionsWithAppToken(const std::string&) override { return false; }
  void syncSitesNearbyLocation(const std::optional<platform::location::Location>& l) override {
    locations.push_back(l);
  }
  std::vector<std::optional<platform::location::Location>> locations;
};

std::shared_ptr<KSBeaconRegion> sdkRegion(std::string identifier, std::optional<std::uint16_t> major = std::nullopt) {
  auto r = std::make_shared<KSBeaconRegion>();
  r->setIdentifier(std::move(identifier));
  r->setProximityUUIDString(std::string(kUUIDText));
  r->setMajor(major);
  return r;
}

struct LocationClientTest : ::testing::Test {
  velmora::testing::SimWorld world;
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<FakeApi> api = std::make_shared<FakeApi>();
  std::shared_ptr<KSBeaconRegionManager> regions;
  std::shared_ptr<KSLocationManagerClient> client;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

  void make(platform::Dict options = {}) {
    world.location->setAuthorizationStatus(AuthorizationStatus::AuthorizedAlways);
    provider = KSInstanceProvider::create(world.bundle());
    configurator = KSConfigurator::create(provider, {});
    // No default region: each test caches the regions it needs.
    options.insert_or_assign(std::string(KSOptionMonitorKestrineRegionOnStartup), platform::Value("NO"));
    configurator->setUserOptions(options);
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    KSBeaconRegionManager::installMaker(*provider, {[] { return 1; }, [] { return true; }, [] { return true; },
                                                    [] { return nullptr; }});
    regions = KSBeaconRegionManager::sharedManager(*provider);
    client = KSLocationManagerClient::create(provider, {nullptr, [a = api] { return a; }});
    client->addDelegate(recorder);
    world.runUntilIdle();
  }
  void hearFor(double seconds, std::uint16_t major = 1, std::uint16_t minor = 22) {
    for (int i = 0; i < static_cast<int>(seconds); ++i) {
      world.location->hear(kUUID, major, minor, -59, -60);
      world.advanceBy(1);
    }
  }
};

TEST_F(LocationClientTest, CacheChangesLeaveForeignRegionsButSwitchingOffStopsEverything) {
  make();
  regions->cacheBeaconRegion(sdkRegion("com.kestrine.a"), false);
  client->setBeaconRegionMonitoringEnabled(true);
  client->startMonitoringBeaconRegion(BeaconRegion::make(kUUID, "host.region"));
  world.runUntilIdle();
  EXPECT_TRUE(client->isMonitoringBeaconRegionWithIdentifier("com.kestrine.a"));
  EXPECT_TRUE(client->isMonitoringBeaconRegionWithIdentifier("host.region"));

  // The SDK's region is replaced; the host's region is none of its business.
  regions->removeCachedBeaconRegion(sdkRegion("com.kestrine.a"), false);
  regions->cacheBeaconRegion(sdkRegion("COM.KESTRINE.b"), true);
  world.runUntilIdle();
  EXPECT_FALSE(client->isMonitoringBeaconRegionWithIdentifier("com.kestrine.a"));
  EXPECT_TRUE(client->isMonitoringBeaconRegionWithIdentifier("COM.KESTRINE.b"));
  EXPECT_TRUE(client->isMonitoringBeaconRegionWithIdentifier("host.region"));

  client->setBeaconRegionMonitoringEnabled(false);
  EXPECT_FALSE(client->isMonitoringBeaconRegionWithIdentifier("COM.KESTRINE.b"));
  EXPECT_FALSE(client->isMonitoringBeaconRegionWithIdentifier("host.region"));
}

TEST_F(LocationClientTest, EntriesOfUncachedRegionsRangeButReportNothing) {
  make();
  client->startMonitoringBeaconRegion(BeaconRegion::make(kUUID, "com.kestrine.uncached"));
  world.runUntilIdle();
  hearFor(3);
  EXPECT_TRUE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.uncached"));
  EXPECT_TRUE(recorder->log.empty());
  EXPECT_TRUE(recorder->rangedWithBeacons.empty());
}

TEST_F(LocationClientTest, CachedRegionReportsEntryStateRangingAndExit) {
  make();
  regions->cacheBeaconRegion(sdkRegion("com.kestrine.a"), false);
  client->setBeaconRegionMonitoringEnabled(true);
  world.runUntilIdle();
  hearFor(3);
  EXPECT_TRUE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
  EXPECT_GT(recorder->rangedWithBeacons["com.kestrine.a"], 0);
  world.advanceBy(15);  // nothing heard: the device leaves the region
  EXPECT_FALSE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
  ASSERT_FALSE(recorder->log.empty());
  EXPECT_EQ(recorder->log.front(), "state2 com.kestrine.a");
  EXPECT_NE(std::find(recorder->log.begin(), recorder->log.end(), "enter com.kestrine.a"), recorder->log.end());
  EXPECT_EQ(recorder->log.back(), "state2 com.kestrine.a");
  EXPECT_NE(std::find(recorder->log.begin(), recorder->log.end(), "exit com.kestrine.a"), recorder->log.end());
}

TEST_F(LocationClientTest, InsideStateOfARangedRegionReportsOnlyTheState) {
  make();
  regions->cacheBeaconRegion(sdkRegion("com.kestrine.a"), false);
  client->setBeaconRegionMonitoringEnabled(true);
  world.runUntilIdle();
  hearFor(2);
  ASSERT_TRUE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
  recorder->log.clear();
  client->didDetermineState(platform::location::RegionState::Inside, BeaconRegion::make(kUUID, "com.kestrine.a"));
  world.runUntilIdle();
  EXPECT_EQ(recorder->log, std::vector<std::string>{"state1 com.kestrine.a"});
}

TEST_F(LocationClientTest, RangingStartsOnlyForMonitoredRegions) {
  make();
  EXPECT_FALSE(client->startRangingBeaconsInRegion(BeaconRegion::make(kUUID, "com.kestrine.a")));
  EXPECT_FALSE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
  client->didEnterRegion(BeaconRegion::make(kUUID, "com.kestrine.a"));
  EXPECT_FALSE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
}

TEST_F(LocationClientTest, SameRegionNeedsTheSameMajorPresenceAndValue) {
  make();
  client->startMonitoringBeaconRegion(BeaconRegion::make(kUUID, "com.kestrine.a"));
  client->startMonitoringBeaconRegion(BeaconRegion::make(kUUID, 5, "com.kestrine.five"));
  world.runUntilIdle();
  EXPECT_TRUE(client->isMonitoringBeaconRegion(BeaconRegion::make(kUUID, "com.kestrine.a")));
  EXPECT_FALSE(client->isMonitoringBeaconRegion(BeaconRegion::make(kUUID, 5, "com.kestrine.a")));
  EXPECT_FALSE(client->isMonitoringBeaconRegion(BeaconRegion::make(kUUID, "com.kestrine.five")));
  EXPECT_TRUE(client->isMonitoringBeaconRegion(BeaconRegion::make(kUUID, 5, "com.kestrine.five")));
  EXPECT_FALSE(client->isMonitoringBeaconRegion(BeaconRegion::make(kUUID, 6, "com.kestrine.five")));
}

TEST_F(LocationClientTest, UpdatesFollowAuthorisationWithoutAnotherCall) {
  make({{std::string(KSOptionCacheSitesNearbyByLocation), platform::Value("YES")}});
  int authorisationPosts = 0;
  auto token = world.center->addObserver(std::string(KSNotificationLocationAuthorizationStatusDidChange), nullptr,
                                         nullptr, [&](const auto&) { ++authorisationPosts; });
  client->startUpdatingLocation();
  EXPECT_TRUE(client->isLocationUpdatingEnabled());
  world.location->setLocation({52.37, 4.89, 10, 0, -1, world.scheduler->clock()->now()});
  world.runUntilIdle();
  EXPECT_EQ(api->locations.size(), 1u);

  world.location->setAuthorizationStatus(AuthorizationStatus::Denied);
  world.runUntilIdle();
  EXPECT_FALSE(client->isLocationUpdatingEnabled());
  EXPECT_TRUE(client->enableLocationUpdatingWhenAuthorized());
  world.location->setAuthorizationStatus(AuthorizationStatus::AuthorizedWhenInUse);
  world.runUntilIdle();
  EXPECT_TRUE(client->isLocationUpdatingEnabled());
  EXPECT_EQ(authorisationPosts, 2);
  world.center->removeObserver(token);
}

TEST_F(LocationClientTest, UpdatesWaitWithoutNearbySitesOrWithoutAuthorisation) {
  make();  // nearby sites off by default
  client->startUpdatingLocation();
  EXPECT_FALSE(client->isLocationUpdatingEnabled());
  EXPECT_TRUE(client->enableLocationUpdatingWhenAuthorized());
  client->stopUpdatingLocation();
  EXPECT_FALSE(client->enableLocationUpdatingWhenAuthorized());

  configurator->setUserOptions({{std::string(KSOptionRunWithoutLocationServicesAuthorization), platform::Value("YES")}});
  client->startUpdatingLocation();
  EXPECT_FALSE(client->enableLocationUpdatingWhenAuthorized());
  client->startMonitoringBeaconRegion(BeaconRegion::make(kUUID, "com.kestrine.a"));
  EXPECT_FALSE(client->isMonitoringBeaconRegionWithIdentifier("com.kestrine.a"));
}

TEST_F(LocationClientTest, RangingFailureOnlyPostsItsNotification) {
  make();
  regions->cacheBeaconRegion(sdkRegion("com.kestrine.a"), false);
  client->setBeaconRegionMonitoringEnabled(true);
  world.runUntilIdle();
  hearFor(2);
  int failures = 0;
  auto token = world.center->addObserver(std::string(KSLocationManagerClientDidFailToRangeBeaconsInRegion), nullptr,
                                         nullptr, [&](const auto&) { ++failures; });
  world.location->failRanging("com.kestrine.a", platform::Error("sim", 1, "ranging failed"));
  world.runUntilIdle();
  EXPECT_GE(failures, 1);
  EXPECT_TRUE(client->isRangingBeaconRegionWithIdentifier("com.kestrine.a"));
  world.center->removeObserver(token);
}

}  // namespace
}  // namespace velmora::kestrine
