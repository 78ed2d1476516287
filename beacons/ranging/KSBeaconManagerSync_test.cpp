#include <gtest/gtest.h>

#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/foundation/KSOptionKeys.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSLocalStoragePort.h"
#include "beacons/ranging/KSBeaconManagerInternal.h"
#include "beacons/ranging/KSBeaconSyncRequesting.h"
#include "testing/BeaconFixtures.h"
#include "testing/CentralTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

constexpr std::string_view kUUID = "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0";
constexpr std::string_view kAddress = "C4:7C:8D:6A:11:22";
constexpr std::string_view kUID = "00112233445566778899AABBCCDDEEFF";

// One log for the store and the listener, so their order shows.
struct EventLog {
  std::vector<std::string> events;
};

class FakeSync : public KSBeaconSyncRequesting {
 public:
  void syncAllBeaconsForAppModifiedAfter(std::optional<platform::Date> after) override {
    calls.push_back(after ? "app refresh" : "app full");
  }
  void syncBeaconsInSiteWithSiteID(const std::string& site, std::optional<platform::Date> after) override {
    calls.push_back("site " + site + (after ? " refresh" : " full"));
  }
  void syncBeaconsNearbyBeaconWithBluetoothAddress(const std::string& a) override { calls.push_back("near address " + a); }
  void syncBeaconsNearbyBeaconWithIBeaconKey(const std::string& k) override { calls.push_back("near key " + k); }
  void syncBeaconsNearbyBeaconWithEddystoneUIDString(const std::string& u) override { calls.push_back("near uid " + u); }
  std::vector<std::string> calls;
};

class FakeStore : public KSLocalStoragePort {
 public:
  explicit FakeStore(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
  void fetchRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&,
                                    const std::optional<std::vector<KSSortDescriptor>>&, RowsHandler success,
                                    FailureHandler) override {
    if (success) success({});
  }
  void countRecordsForEntitiesNamed(const std::string&, const std::optional<KSStorePredicate>&, CountHandler success,
                                    FailureHandler) override {
    if (success) success(0);
  }
  void storeBeacon(const std::shared_ptr<KSBeacon>& b) override { stored.push_back(b); }
  void saveContext() override { log_->events.push_back("save"); }
  Beacons stored;

 private:
  std::shared_ptr<EventLog> log_;
};

class Listener : public KSBeaconManagerInternalDelegate {
 public:
  explicit Listener(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
  void beaconManagerInternalDidCacheBeacons(Hub, Beacons b) override {
    cached.push_back(b);
    log_->events.push_back("didCache");
  }
  void beaconManagerInternalDidSyncBeacons(Hub, Beacons b) override {
    synced.push_back(b);
    log_->events.push_back("didSync");
  }
  void beaconManagerInternalDidRemoveBeacons(Hub, Beacons b) override { removed.push_back(b); }
  std::vector<Beacons> cached, synced, removed;

 private:
  std::shared_ptr<EventLog> log_;
};

struct SyncWorld {
  explicit SyncWorld(platform::Dict options = {}) {
    provider = KSInstanceProvider::create(world.bundle());
    configurator = KSConfigurator::create(provider, {});
    configurator->setUserOptions(options);
    provider->installMaker<KSConfigurator>(std::string(KSConfigurator::kSingletonName),
                                           [c = configurator](KSInstanceProvider&) { return c; });
    hub = KSBeaconManagerInternal::create(provider, {store, sync, session});
    hub->addDelegate(listener);
    world.runUntilIdle();
  }
  ~SyncWorld() { world.runUntilIdle(); }  // deliveries still queued hold the hub
  platform::Date ago(double seconds) const { return world.scheduler->clock()->now().addingTimeInterval(-seconds); }
  std::shared_ptr<KSBeacon> beacon(std::string id, std::int64_t status, std::optional<double> syncedAgo,
                                   std::int64_t ownership = 1) {
    auto b = std::make_shared<KSBeacon>();
    b->setBeaconID(id);
    b->setSerialNumber("SN-" + id);
    b->setProximityUUIDString(std::string(kUUID));
    b->setMajor(Value(1));
    b->setMinor(Value(static_cast<int>(std::hash<std::string>{}(id) % 60000)));
    testsupport::setOwnership(*b, ownership);
    // After the beacon ID, which stamps both.
    b->setSyncStatus(status);
    b->setSyncedAt(syncedAgo ? std::optional(ago(*syncedAgo)) : std::nullopt);
    return b;
  }
  // Puts the beacon in the cache with its status and syncedAt as given.
  std::shared_ptr<KSBeacon> cached(std::shared_ptr<KSBeacon> b) {
    const auto status = b->syncStatus();
    const auto at = b->syncedAt();
    hub->cacheBeacon(b, true, false);
    b->setSyncStatus(status);
    b->setSyncedAt(at);
    return b;
  }

  velmora::testing::SimWorld world;
  std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
  std::shared_ptr<KSInstanceProvider> provider;
  std::shared_ptr<KSConfigurator> configurator;
  std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>(log);
  std::shared_ptr<FakeSync> sync = std::make_shared<FakeSync>();
  std::shared_ptr<testsupport::FakeSession> session = std::make_shared<testsupport::FakeSession>();
  std::shared_ptr<KSBeaconManagerInternal> hub;
  std::shared_ptr<Listener> listener = std::make_shared<Listener>(log);
};

platform::Dict caching(bool app, bool site) {
  return {{std::string(KSOptionCacheAllBeaconsForApp), Value(app ? "YES" : "NO")},
          {std::string(KSOptionCacheAllBeaconsForSite), Value(site ? "YES" : "NO")}};
}

TEST(HubSyncDecisions, NineDecisionsOnTheirDates) {
  // Ages in seconds of the app's and the site's last full sync and refresh (none: unset);
  // the configured refresh interval is the default 3600 s.
  struct Case {
    const char* name;
    bool app, site;
    std::optional<double> appFull, appRefresh, siteFull, siteRefresh;
    bool canFullApp, shouldFullApp, refreshApp, canFullSite, shouldFullSite, canRefreshSite, shouldRefreshSite;
  };
  const Case cases[] = {
      {"all off", false, false, {}, {}, {}, {}, false, false, false, false, false, false, false},
      {"never synced", true, true, {}, {}, {}, {}, true, true, true, true, true, true, true},
      {"synced just now", true, true, 10, 10, 10, 10, false, false, false, false, false, false, false},
      {"a day and a bit", true, true, 86401, 3601, 86401, 301, true, false, true, true, false, true, false},
      {"a week and a bit", true, true, 604801, 3599, 604801, 3601, true, true, false, true, true, true, true},
      {"exactly at the limits", true, true, 86400, 3600, 86400, 300, false, false, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyncWorld w(caching(c.app, c.site));
    auto app = w.hub->cacheStateForApp();
    auto site = w.hub->cacheStateForSiteID("s1");
    auto set = [&](auto& state, std::optional<double> full, std::optional<double> refresh) {
      if (full) state->setLastCompletedFullSync(w.ago(*full));
      if (refresh) state->setLastCompletedRefresh(w.ago(*refresh));
    };
    set(app, c.appFull, c.appRefresh);
    set(site, c.siteFull, c.siteRefresh);
    EXPECT_EQ(w.hub->isCacheFullSyncEnabledForApp(), c.app);
    EXPECT_EQ(w.hub->isCacheFullSyncEnabledForSite(), c.site);
    EXPECT_EQ(w.hub->canCacheFullSyncForApp(), c.canFullApp);
    EXPECT_EQ(w.hub->shouldCacheFullSyncForApp(), c.shouldFullApp);
    EXPECT_EQ(w.hub->canCacheRefreshForApp(), c.refreshApp);
    EXPECT_EQ(w.hub->shouldCacheRefreshForApp(), c.refreshApp);
    EXPECT_EQ(w.hub->canCacheFullSyncForSiteID("s1"), c.canFullSite);
    EXPECT_EQ(w.hub->shouldCacheFullSyncForSiteID("s1"), c.shouldFullSite);
    EXPECT_EQ(w.hub->canCacheRefreshForSiteID("s1"), c.canRefreshSite);
    EXPECT_EQ(w.hub->shouldCacheRefreshForSiteID("s1"), c.shouldRefreshSite);
  }
}

TEST(HubSyncDecisions, AppAndSiteSyncsPreferTheRefresh) {
  SyncWorld w(caching(true, true));
  w.hub->cacheStateForApp()->setLatestModifiedAt(w.ago(5000));
  w.hub->cacheStateForSiteID("s1")->setLatestModifiedAt(w.ago(5000));
  EXPECT_TRUE(w.hub->syncCachedBeaconsForApp());
  w.hub->cacheStateForApp()->setLastCompletedRefresh(w.ago(10));
  EXPECT_TRUE(w.hub->syncCachedBeaconsForApp());  // the refresh is fresh, the full sync due
  w.hub->cacheStateForApp()->setLastCompletedFullSync(w.ago(10));
  EXPECT_FALSE(w.hub->syncCachedBeaconsForApp());
  EXPECT_FALSE(w.hub->syncCachedBeaconsForSiteID(""));
  EXPECT_TRUE(w.hub->syncCachedBeaconsForSiteID("s1"));
  EXPECT_EQ(w.sync->calls, (std::vector<std::string>{"app refresh", "app full", "site s1 refresh"}));
}

TEST(HubSyncAgeing, StatusByOwnership) {
  struct Case {
    const char* name;
    std::int64_t ownership;  // -1: no access record
    std::int64_t status;
    std::optional<double> syncedAgo;
    std::optional<double> maxSeconds;
    std::optional<double> endsAgo;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"no access", -1, 2, 10, {}, {}, 0},
      {"owned never ages", 1, 2, 1e7, {}, {}, 2},
      {"shared within its own limit", 2, 2, 99, 100, {}, 2},
      {"shared past its own limit", 2, 2, 101, 100, {}, 4},
      {"shared default limit kept", 2, 3, 259199, 0, {}, 3},
      {"shared default limit passed", 2, 3, 259201, 0, {}, 4},
      {"shared with a past end", 2, 2, 1, {}, 5, 4},
      {"public kept", 3, 2, 259199, {}, {}, 2},
      {"public expired", 3, 2, 259201, {}, {}, 4},
      {"public never synced", 3, 3, {}, {}, {}, 3},
      {"unknown with syncedAt", 0, 2, 10, {}, {}, 1},
      {"unknown without syncedAt", 0, 3, {}, {}, {}, 0},
      {"another ownership", 9, 2, 1e7, {}, {}, 2},
      {"not synced is not aged", -1, 0, {}, {}, {}, 0},
      {"expired is not aged", 3, 4, 1e7, {}, {}, 4},
  };
  SyncWorld w;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto b = w.beacon("b", c.status, c.syncedAgo, c.ownership < 0 ? 1 : c.ownership);
    if (c.ownership < 0) b->setNetworkAccess(nullptr);
    if (c.maxSeconds) b->networkAccess()->setMaxSecondsBeforeRevalidation(c.maxSeconds);
    if (c.endsAgo) b->networkAccess()->setEndsAt(w.ago(*c.endsAgo));
    w.hub->validateSyncStatusForBeacon(b);
    EXPECT_EQ(b->syncStatus(), c.expected);
  }
}

TEST(HubSyncNeighbourhood, AsksByAddressElseKeyElseUID) {
  SyncWorld w;
  auto b = std::make_shared<KSBeacon>();
  auto eddystone = std::make_shared<KSEddystone>();
  eddystone->setUIDString(std::string(kUID));
  b->setEddystone(eddystone);
  EXPECT_TRUE(w.hub->syncCachedBeacon(b));
  b->setProximityUUIDString(std::string(kUUID));
  b->setMajor(Value(1));
  b->setMinor(Value(22));
  EXPECT_TRUE(w.hub->syncCachedBeacon(b));
  b->setBluetoothAddress(std::string(kAddress));
  EXPECT_TRUE(w.hub->syncCachedBeacon(b));
  EXPECT_EQ(w.sync->calls, (std::vector<std::string>{"near uid " + std::string(kUID),
                                                     "near key " + std::string(kUUID) + ":1:22",
                                                     "near address " + std::string(kAddress)}));
  // Synced recently: settled, nothing asked.
  auto settled = w.beacon("s", 2, 10);
  EXPECT_FALSE(w.hub->syncCachedBeacon(settled));
  // Synced over an hour ago and no app or site sync covers it: stale.
  EXPECT_TRUE(w.hub->syncCachedBeacon(w.beacon("t", 2, 3601)));
  EXPECT_EQ(w.sync->calls.size(), 4u);
}

TEST(HubSyncNeighbourhood, WithTheOptionOffAnUnsettledBeaconBecomesUnauthorized) {
  SyncWorld w({{std::string(KSOptionDiscoverBeaconsNearby), Value("NO")}});
  auto b = w.beacon("b", 0, {});
  EXPECT_FALSE(w.hub->syncCachedBeacon(b));
  EXPECT_EQ(b->syncStatus(), KSSyncStatusUnauthorized);
  EXPECT_TRUE(b->syncedAt());
  EXPECT_TRUE(w.sync->calls.empty());
}

TEST(HubSyncValidation, AgainWithinFiveMinutesDoesNothingAndUnauthorizedWaitsADay) {
  SyncWorld w;
  auto b = w.cached(w.beacon("b", 2, 10));
  w.hub->validateAndSyncBeacon(b);  // settled: nothing to do, remembered
  w.world.advanceBy(3600);
  w.hub->validateAndSyncBeacon(b);  // over an hour since its sync and the last look: stale
  ASSERT_EQ(w.sync->calls.size(), 1u);
  w.hub->validateAndSyncBeacon(b);
  w.world.advanceBy(299);
  w.hub->validateAndSyncBeacon(b);
  EXPECT_EQ(w.sync->calls.size(), 3u);  // a request that started leaves the beacon due

  auto u = w.cached(w.beacon("u", 1, 86399));
  u->setBeaconID(std::nullopt);  // no cache state: only the unauthorised rule holds it back
  w.hub->validateAndSyncBeacon(u);
  EXPECT_EQ(w.sync->calls.size(), 3u);
  w.world.advanceBy(2);
  w.hub->validateAndSyncBeacon(u);
  ASSERT_EQ(w.sync->calls.size(), 4u);
  EXPECT_EQ(w.sync->calls.back().rfind("near key", 0), 0u);
}

TEST(HubSyncValidation, NothingToDoIsRememberedForFiveMinutes) {
  SyncWorld w;
  auto b = w.cached(w.beacon("b", 2, 10));
  w.hub->validateAndSyncBeacon(b);
  b->setSyncedAt(w.ago(7200));  // would be stale, but the last look found nothing to do
  w.world.advanceBy(299);
  w.hub->validateAndSyncBeacon(b);
  EXPECT_TRUE(w.sync->calls.empty());
  w.world.advanceBy(2);
  w.hub->validateAndSyncBeacon(b);
  EXPECT_EQ(w.sync->calls.size(), 1u);
}

TEST(HubSyncMerge, CachedInstancesReachListenersAndTheStoreIsSavedFirst) {
  SyncWorld w;
  auto mine = w.cached(w.beacon("b1", 0, {}));
  auto incoming = mine->copy();
  incoming->setSyncStatus(KSSyncStatusSynced);
  incoming->setName("from the cloud");
  auto fresh = w.beacon("b2", 2, {});
  KSBeaconSyncResult result;
  result.httpStatusCode = 200;
  result.beacons = {incoming, fresh};
  w.hub->cacheBeaconsFromSyncResult(result);
  w.world.runUntilIdle();
  ASSERT_EQ(w.listener->synced.size(), 1u);
  EXPECT_EQ(w.listener->synced[0], (Beacons{mine, fresh}));
  ASSERT_EQ(w.listener->cached.size(), 1u);
  EXPECT_EQ(w.listener->cached[0], Beacons{fresh});
  EXPECT_EQ(mine->name(), "from the cloud");
  EXPECT_EQ(mine->syncStatus(), KSSyncStatusSynced);
  EXPECT_EQ(w.log->events, (std::vector<std::string>{"save", "didCache", "didSync"}));
}

TEST(HubSyncMerge, FullAppSyncRevokesWhatItDidNotConfirmARefreshNever) {
  SyncWorld w;
  auto old = w.cached(w.beacon("old", 2, 86401));
  auto publicOld = w.cached(w.beacon("pub", 2, 86401, 3));
  auto recent = w.cached(w.beacon("recent", 2, 100));
  recent->setSiteID("s1");
  recent->setModifiedAt(w.ago(500));

  KSBeaconSyncResult refresh;
  refresh.httpStatusCode = 200;
  refresh.includeLatestForApp = true;
  refresh.modifiedAfter = w.ago(1000);
  w.hub->cacheBeaconsFromSyncResult(refresh);
  EXPECT_EQ(old->syncStatus(), KSSyncStatusSynced);
  auto app = w.hub->cacheStateForApp();
  EXPECT_EQ(app->lastCompletedRefresh(), w.ago(0));
  EXPECT_FALSE(app->lastCompletedFullSync());

  auto confirmed = w.beacon("new", 2, {});
  confirmed->setModifiedAt(w.ago(50));
  KSBeaconSyncResult full;
  full.httpStatusCode = 200;
  full.includeLatestForApp = true;
  full.beacons = {confirmed};
  w.hub->cacheBeaconsFromSyncResult(full);
  EXPECT_EQ(old->syncStatus(), KSSyncStatusUnauthorized);
  EXPECT_EQ(publicOld->syncStatus(), KSSyncStatusSynced);  // public beacons are not the app's to confirm
  EXPECT_EQ(recent->syncStatus(), KSSyncStatusSynced);
  EXPECT_EQ(app->lastCompletedFullSync(), w.ago(0));
  EXPECT_EQ(app->latestModifiedAt(), w.ago(50));
  EXPECT_EQ(app->objectCountAfterLastSync(), 2);  // recent and new
  auto site = w.hub->cacheStateForSiteID("s1");
  EXPECT_EQ(site->objectCountAfterLastSync(), 1);
  EXPECT_EQ(site->latestModifiedAt(), w.ago(500));
  EXPECT_EQ(site->lastCompletedFullSync(), w.ago(0));
}

TEST(HubSyncMerge, FailuresMarkTheBeaconsAskedAboutByIdentifierType) {
  struct Case {
    const char* name;
    std::int64_t code;
    std::int64_t type;
    std::string identifier;
    std::optional<std::string> siteID;
    bool byAddressRevoked, inSiteRevoked;
  };
  const Case cases[] = {
      {"404 by address", 404, KSBeaconIdentifierTypeBluetoothAddress, std::string(kAddress), {}, true, false},
      {"403 by serial number", 403, KSBeaconIdentifierTypeSerialNumber, "SN-site", {}, false, true},
      {"500 for a site", 500, 0, "", std::string("s1"), false, true},
      {"400 by key of nobody", 400, KSBeaconIdentifierTypeIBeaconKey, "X:1:2", {}, false, false},
      {"429 changes nothing", 429, KSBeaconIdentifierTypeBluetoothAddress, std::string(kAddress), {}, false, false},
      {"401 by beacon ID: not looked up", 401, KSBeaconIdentifierTypeBeaconID, "site", {}, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SyncWorld w;
    auto byAddress = w.beacon("addr", 2, 10);
    byAddress->setBluetoothAddress(std::string(kAddress));
    w.cached(byAddress);
    auto inSite = w.cached(w.beacon("site", 2, 10));
    inSite->setSiteID("s1");
    KSBeaconSyncResult result;
    result.httpStatusCode = c.code;
    result.beaconIdentifierType = c.type;
    result.beaconIdentifierString = c.identifier;
    result.siteID = c.siteID;
    bool completed = false;
    w.hub->cacheBeaconsFromSyncResult(result, [&] { completed = true; });
    w.world.runUntilIdle();
    EXPECT_TRUE(completed);
    EXPECT_EQ(byAddress->syncStatus(), c.byAddressRevoked ? KSSyncStatusUnauthorized : KSSyncStatusSynced);
    EXPECT_EQ(inSite->syncStatus(), c.inSiteRevoked ? KSSyncStatusUnauthorized : KSSyncStatusSynced);
  }
}

TEST(HubSyncMerge, TheBlockingMergeReturnsWhenCalledOnTheWorkQueue) {
  SyncWorld w;
  KSBeaconSyncResult result;
  result.httpStatusCode = 200;
  result.beacons = {w.beacon("b", 2, {})};
  bool returned = false;
  w.hub->workQueue()->async([&] {
    w.hub->cacheBeaconsFromSyncResult(result);
    returned = true;
  });
  w.world.runUntilIdle();
  EXPECT_TRUE(returned);
  EXPECT_EQ(w.hub->allCachedBeacons().size(), 1u);
}

TEST(HubSyncSites, CachedSiteSyncsItsBeaconsRemovedSiteDropsThem) {
  SyncWorld w(caching(false, true));
  auto inSite = w.cached(w.beacon("a", 2, 10));
  inSite->setSiteID("s1");
  auto other = w.cached(w.beacon("b", 2, 10));
  w.hub->cacheStateForSiteID("s1")->setLatestModifiedAt(w.ago(5000));
  platform::Dict info{{std::string(KSSiteManagerNotificationSiteIDItem), Value("s1")}};
  w.world.center->post(std::string(KSSiteManagerNotificationDidCacheSite), nullptr, info);
  EXPECT_EQ(w.sync->calls, std::vector<std::string>{"site s1 refresh"});
  w.world.center->post(std::string(KSSiteManagerNotificationDidRemoveCachedSite), nullptr, info);
  w.world.runUntilIdle();
  EXPECT_EQ(w.hub->allCachedBeacons(), Beacons{other});
  ASSERT_EQ(w.listener->removed.size(), 1u);
  EXPECT_EQ(w.listener->removed[0], Beacons{inSite});
}

TEST(HubSyncSites, DiscoveryStartsWithAFullAppSyncWhenDue) {
  SyncWorld w(caching(true, false));
  w.world.location->setAuthorizationStatus(platform::location::AuthorizationStatus::AuthorizedAlways);
  w.world.runUntilIdle();
  w.hub->startDiscoveringBeacons();
  EXPECT_EQ(w.sync->calls, std::vector<std::string>{"app full"});
}

}  // namespace
}  // namespace velmora::kestrine
