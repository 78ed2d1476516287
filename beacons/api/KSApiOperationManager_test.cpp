#include "beacons/api/KSApiOperationManager.h"

#include <gtest/gtest.h>

#include <map>

#include "beacons/api/KSPaginator.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "beacons/http/KSNetworkReachabilityManager.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/net/URLError.h"
#include "platform/sim/SimReachability.h"
#include "testing/ApiTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::ApiTestWorld;
using velmora::testing::BeaconCloudFake;
using Fault = BeaconCloudFake::Fault;

struct FakeHub : KSApiBeaconCachePort {
  std::vector<KSBeaconSyncResult> results;
  bool refreshForApp = true, fullSyncForApp = true, refreshForSite = true, fullSyncForSite = true;
  std::map<std::string, std::shared_ptr<KSBeacon>> byAddress;
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& r) override { results.push_back(r); }
  bool canCacheRefreshForApp() override { return refreshForApp; }
  bool canCacheFullSyncForApp() override { return fullSyncForApp; }
  bool canCacheRefreshForSiteID(const std::string&) override { return refreshForSite; }
  bool canCacheFullSyncForSiteID(const std::string&) override { return fullSyncForSite; }
  std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string& a) override {
    auto it = byAddress.find(a);
    return it == byAddress.end() ? nullptr : it->second;
  }
  std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string&) override { return nullptr; }
};

struct FakeSites : KSApiSiteCachePort {
  std::vector<KSSiteSyncResult> results;
  std::map<std::string, std::shared_ptr<KSSite>> cached;
  bool siteExpired = true, appSitesExpired = true;
  void cacheSitesFromSyncResult(const KSSiteSyncResult& r) override { results.push_back(r); }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string& id) override {
    auto it = cached.find(id);
    return it == cached.end() ? nullptr : it->second;
  }
  bool hasCacheExpiredForSiteWithID(const std::string&) override { return siteExpired; }
  bool hasCacheExpiredForSitesForApp() override { return appSitesExpired; }
};

struct FakeRegions : KSApiRegionCachePort {
  std::vector<KSBeaconRegionSyncResult> results;
  void cacheBeaconRegionsFromSyncResult(const KSBeaconRegionSyncResult& r) override { results.push_back(r); }
};

struct FakeSDK : KSApiSDKPort {
  int tokenStatus = 2;
  bool usingApi = true;
  int stops = 0;
  int appTokenVerificationStatus() override { return tokenStatus; }
  bool isUsingApi() override { return usingApi; }
  void stopRunning() override { ++stops; }
};

struct FakeStore : KSApiStorePort {
  int saves = 0;
  std::vector<std::string> postedEvents;
  void saveContext() override { ++saves; }
  void updateEventPostedAt(const std::string& id, platform::Date) override { postedEvents.push_back(id); }
};

struct FakeRecord : KSApiPostable {
  int n;
  bool isEvent;
  std::optional<platform::Date> lastPostedAt;
  FakeRecord(int n, bool isEvent) : n(n), isEvent(isEvent) {}
  Value toDictionary() const override { return Value::makeDict({{"n", n}}); }
  void setLastPostedAt(platform::Date at) override { lastPostedAt = at; }
  std::optional<std::string> eventID() const override {
    return isEvent ? std::optional<std::string>("E" + std::to_string(n)) : std::nullopt;
  }
};

Value beaconItem(int i, const char* siteID = "S1") {
  return Value::makeDict({{"id", "B" + std::to_string(i)}, {"siteID", siteID}});
}
platform::Array beaconItems(int n) {
  platform::Array out;
  for (int i = 0; i < n; ++i) out.push_back(beaconItem(i));
  return out;
}

class KSApiOperationManagerTest : public ::testing::Test {
 protected:
  ApiTestWorld world{2};
  velmora::testing::TempDir dir;
  std::filesystem::path defaultsFile = dir.path() / "defaults.plist";
  std::shared_ptr<KSUserDefaultsManager> defaults =
      std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(defaultsFile));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<platform::sim::SimReachability> sim = platform::sim::SimReachability::create(world.scheduler);
  std::shared_ptr<KSNetworkReachabilityManager> reachability =
      KSNetworkReachabilityManager::initWithReachability(sim->forInternet(), world.scheduler, center);
  std::shared_ptr<FakeHub> hub = std::make_shared<FakeHub>();
  std::shared_ptr<FakeSites> sites = std::make_shared<FakeSites>();
  std::shared_ptr<FakeRegions> regions = std::make_shared<FakeRegions>();
  std::shared_ptr<FakeSDK> sdk = std::make_shared<FakeSDK>();
  std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>();
  std::shared_ptr<KSApiOperationManager> manager;

  void SetUp() override {
    reachability->startMonitoring();
    world.drain();
    manager = makeManager(defaults);
  }
  void TearDown() override {
    manager.reset();
    world.drain();
  }

  std::shared_ptr<KSApiOperationManager> makeManager(std::shared_ptr<KSUserDefaultsManager> d) {
    KSApiOperationManagerPorts ports;
    ports.beaconCache = [h = hub] { return h; };
    ports.siteCache = [s = sites] { return s; };
    ports.regionCache = [r = regions] { return r; };
    ports.sdk = [s = sdk] { return s; };
    ports.store = [s = store] { return s; };
    return KSApiOperationManager::create(world.client, std::move(d), std::move(ports), reachability, center);
  }

  std::size_t queued() const {
    std::size_t n = 0;
    for (auto q : {manager->beaconApiOperationQueue(), manager->siteApiOperationQueue(),
                   manager->beaconRegionApiOperationQueue(), manager->beaconVisitApiOperationQueue(),
                   manager->eventApiOperationQueue()}) {
      n += q->operationCount();
    }
    return n;
  }
  // Runs posted work and waits for the loopback replies until every queue stays empty.
  bool settle() {
    for (int round = 0; round < 100; ++round) {
      world.drain();
      if (!world.drainUntil([&] { return queued() == 0; })) return false;
      world.drain();
      if (queued() == 0) return true;
    }
    return false;
  }
  std::optional<double> throttleSeconds() {
    auto until = std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(defaultsFile))->apiRetryAfter();
    if (!until) return std::nullopt;
    return until->timeIntervalSince(world.now());
  }
};

TEST_F(KSApiOperationManagerTest, TheGateNeedsReachabilityTheApiAVerifiedTokenAndNoPendingRetry) {
  struct Row {
    const char* name;
    std::uint32_t flags;
    bool usingApi;
    int tokenStatus;
    std::optional<double> retryAfterFromNow;
    bool opens;
  };
  const std::vector<Row> rows = {
      {"all hold", platform::net::kReachabilityReachable, true, 2, std::nullopt, true},
      {"retry time passed", platform::net::kReachabilityReachable, true, 2, -1.0, true},
      {"not reachable", 0, true, 2, std::nullopt, false},
      {"API off", platform::net::kReachabilityReachable, false, 2, std::nullopt, false},
      {"token unverified", platform::net::kReachabilityReachable, true, 1, std::nullopt, false},
      {"token invalid", platform::net::kReachabilityReachable, true, 3, std::nullopt, false},
      {"retry pending", platform::net::kReachabilityReachable, true, 2, 5.0, false},
      {"retry time now", platform::net::kReachabilityReachable, true, 2, 0.0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim->setFlags(row.flags);
    world.drain();
    sdk->usingApi = row.usingApi;
    sdk->tokenStatus = row.tokenStatus;
    defaults->setApiRetryAfter(row.retryAfterFromNow
                                   ? std::optional(world.now().addingTimeInterval(*row.retryAfterFromNow))
                                   : std::nullopt);
    EXPECT_EQ(manager->shouldRunOperations(), row.opens);
    manager->syncSiteWithSiteID("S1");
    manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
    EXPECT_EQ(queued(), row.opens ? 2u : 0u);
    manager->cancelAllOperations();
    settle();
  }
}

TEST_F(KSApiOperationManagerTest, AddTestsDropTwinsOfLiveOperations) {
  manager->syncSiteWithSiteID("S1");
  manager->syncSiteWithSiteID("S1");
  manager->syncSiteWithSiteID("S2");
  manager->syncSiteWithSiteID("");
  EXPECT_EQ(manager->siteApiOperationQueue()->operationCount(), 2u);

  manager->syncBeaconsInSiteWithSiteID("S1", std::nullopt);
  manager->syncBeaconsNearbyBeaconWithBluetoothAddress("AA:BB");  // a site's beacons are syncing
  EXPECT_EQ(manager->beaconApiOperationQueue()->operationCount(), 1u);

  EXPECT_TRUE(manager->syncBeaconRegionsWithAppToken("tok"));
  EXPECT_FALSE(manager->syncBeaconRegionsWithAppToken("tok"));
  manager->cancelAllOperations();
  settle();

  manager->syncBeaconWithBluetoothAddress("AA:01");
  manager->syncBeaconWithBluetoothAddress("AA:01");
  manager->syncBeaconWithSerialNumber("AA:01");  // same text, another identifier type
  for (int i = 0; i < 6; ++i) manager->syncBeaconsNearbyBeaconWithBluetoothAddress("CC:" + std::to_string(i));
  // Two GETs, then nearby syncs until the queue holds more than five.
  EXPECT_EQ(manager->beaconApiOperationQueue()->operationCount(), 6u);
  manager->cancelAllOperations();
  settle();
}

TEST_F(KSApiOperationManagerTest, StartTestsSkipCallsTheCachesDoNotNeed) {
  auto synced = std::make_shared<KSBeacon>();
  synced->setSyncStatus(KSSyncStatusSynced);
  hub->byAddress["AA:01"] = synced;
  hub->fullSyncForApp = false;
  manager->syncBeaconWithBluetoothAddress("AA:01");   // already synced
  manager->syncSiteWithSiteID("never-cached");         // a site the cache never held
  manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);  // no full sync due
  sites->appSitesExpired = false;
  manager->syncAllSitesForAppModifiedAfter(std::nullopt);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(world.cloud.log().empty());
  EXPECT_TRUE(hub->results.empty());

  // A synced beacon's neighbourhood is asked for again only after 300 s.
  synced->setSyncedAt(world.now().addingTimeInterval(-299));
  manager->syncBeaconsNearbyBeaconWithBluetoothAddress("AA:01");
  ASSERT_TRUE(settle());
  EXPECT_TRUE(world.cloud.log().empty());
  synced->setSyncedAt(world.now().addingTimeInterval(-300));
  world.cloud.putList("beacons/AA:01/nearby", "beacons", beaconItems(2));
  manager->syncBeaconsNearbyBeaconWithBluetoothAddress("AA:01");
  ASSERT_TRUE(settle());
  EXPECT_EQ(world.cloud.hits("GET", "beacons/AA:01/nearby"), 1u);
  ASSERT_EQ(hub->results.size(), 1u);
  EXPECT_EQ(hub->results[0].siteID, "S1");

  // Nearby sites only after moving the distance filter.
  world.cloud.putList("sites/nearby", "sites", {Value::makeDict({{"id", "S9"}})});
  const platform::location::Location here{.latitude = 52.0, .longitude = 13.0};
  manager->syncSitesNearbyLocation(here);
  ASSERT_TRUE(settle());
  manager->syncSitesNearbyLocation(platform::location::Location{.latitude = 52.01, .longitude = 13.0});  // ~1.1 km
  ASSERT_TRUE(settle());
  manager->syncSitesNearbyLocation(platform::location::Location{.latitude = 52.02, .longitude = 13.0});  // ~2.2 km
  ASSERT_TRUE(settle());
  EXPECT_EQ(world.cloud.hits("GET", "sites/nearby"), 2u);
  EXPECT_EQ(sites->results.size(), 2u);
}

TEST_F(KSApiOperationManagerTest, APagedSyncDeliversOneResultPerPageAndMarksTheLast) {
  world.cloud.putList("beacons", "beacons", beaconItems(250));
  world.cloud.putList("sites/S1/beacons", "beacons", beaconItems(250));
  const auto since = world.now().addingTimeInterval(-3600);
  manager->syncAllBeaconsForAppModifiedAfter(since);
  ASSERT_TRUE(settle());
  manager->syncBeaconsInSiteWithSiteID("S1", std::nullopt);
  ASSERT_TRUE(settle());
  ASSERT_EQ(hub->results.size(), 6u);
  for (int i = 0; i < 3; ++i) {
    const auto& app = hub->results[i];
    EXPECT_EQ(app.httpStatusCode, 200);
    EXPECT_EQ(app.beacons.size(), i < 2 ? 100u : 50u);
    EXPECT_EQ(app.includeLatestForApp, i == 2);
    EXPECT_EQ(app.modifiedAfter, since);
    EXPECT_EQ(app.siteID, std::nullopt);
    const auto& site = hub->results[3 + i];
    EXPECT_FALSE(site.includeLatestForApp);
    EXPECT_EQ(site.siteID, i == 2 ? std::optional<std::string>("S1") : std::nullopt);
  }
}

TEST_F(KSApiOperationManagerTest, AMalformedRecordIsSkippedAndTheRestOfItsPageDelivered) {
  world.cloud.putList("beacons", "beacons", beaconItems(100));
  world.cloud.setFault("GET", "beacons", Fault{.kind = Fault::Kind::BadItem});
  manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
  ASSERT_TRUE(settle());
  ASSERT_EQ(hub->results.size(), 1u);
  EXPECT_EQ(hub->results[0].beacons.size(), 99u);
  EXPECT_TRUE(hub->results[0].includeLatestForApp);
}

TEST_F(KSApiOperationManagerTest, VisitsPostTenAtATimeEachBatchAfterThePreviousSucceeded) {
  std::vector<std::shared_ptr<FakeRecord>> visits;
  for (int i = 0; i < 25; ++i) {
    visits.push_back(std::make_shared<FakeRecord>(i, false));
    manager->postBeaconVisit(visits.back());
  }
  EXPECT_EQ(manager->beaconVisitApiOperationQueue()->operationCount(), 1u);
  ASSERT_TRUE(settle());
  auto log = world.cloud.log();
  ASSERT_EQ(log.size(), 3u);
  std::vector<std::size_t> sizes;
  for (const auto& r : log) {
    EXPECT_EQ(r.path, "/api/beaconvisits");
    sizes.push_back(r.json["beaconVisits"].size());
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 5}));
  EXPECT_EQ(log[1].json["beaconVisits"][0]["n"], Value(10));
  EXPECT_EQ(manager->pendingBeaconVisitCount(), 0u);
  EXPECT_EQ(store->saves, 3);
  for (const auto& v : visits) EXPECT_EQ(v->lastPostedAt, world.now());

  for (int i = 0; i < 3; ++i) manager->postEvent(std::make_shared<FakeRecord>(i, true));
  ASSERT_TRUE(settle());
  EXPECT_EQ(world.cloud.log().back().json["events"].size(), 3u);
  EXPECT_EQ(store->postedEvents, (std::vector<std::string>{"E0", "E1", "E2"}));
}

TEST_F(KSApiOperationManagerTest, ReachabilityPostsThePendingBacklogButStartsNoSync) {
  sim->setFlags(0);
  world.drain();
  for (int i = 0; i < 3; ++i) manager->postEvent(std::make_shared<FakeRecord>(i, true));
  manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
  EXPECT_EQ(queued(), 0u);
  sdk->tokenStatus = 1;
  sim->setFlags(platform::net::kReachabilityReachable);
  ASSERT_TRUE(settle());
  EXPECT_TRUE(world.cloud.log().empty());  // token unverified: nothing
  sdk->tokenStatus = 2;
  sim->setFlags(0);
  world.drain();
  sim->setFlags(platform::net::kReachabilityReachable);
  ASSERT_TRUE(settle());
  ASSERT_EQ(world.cloud.log().size(), 1u);
  EXPECT_EQ(world.cloud.log()[0].path, "/api/events");
}

TEST_F(KSApiOperationManagerTest, RetryAfterClosesEveryQueueAlsoForANewManagerOverTheSameDefaults) {
  world.cloud.putRecord("sites/S1", "site", Value::makeDict({{"id", "S1"}}));
  sites->cached["S1"] = std::make_shared<KSSite>();
  sites->cached["S1"]->setSiteID("S1");
  world.cloud.setFault("GET", "sites/S1", Fault{.status = 503, .retryAfter = "30", .times = 1});
  manager->syncSiteWithSiteID("S1");
  ASSERT_TRUE(settle());
  EXPECT_EQ(throttleSeconds(), 30.0);
  ASSERT_EQ(sites->results.size(), 1u);
  EXPECT_EQ(sites->results[0].httpStatusCode, 503);
  EXPECT_EQ(sites->results[0].siteID, "S1");

  auto restarted = makeManager(std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(defaultsFile)));
  EXPECT_FALSE(restarted->shouldRunOperations());
  for (auto* m : {manager.get(), restarted.get()}) {
    m->syncSiteWithSiteID("S1");
    m->syncAllBeaconsForAppModifiedAfter(std::nullopt);
    m->postEvent(std::make_shared<FakeRecord>(1, true));
    EXPECT_TRUE(m->syncBeaconRegionsWithAppToken("tok") == false);
  }
  EXPECT_EQ(queued(), 0u);
  world.scheduler->advanceBy(30.5);
  EXPECT_TRUE(restarted->shouldRunOperations());
  manager->syncSiteWithSiteID("S1");
  ASSERT_TRUE(settle());
  EXPECT_EQ(sites->results.back().httpStatusCode, 200);
}

// The "Retry-After" text is a decimal number of seconds; a delay beyond a day (or beyond
// every date) closes the gate for a day, a time the defaults can hold and that does pass.
TEST_F(KSApiOperationManagerTest, RetryAfterIsDecimalAndBounded) {
  constexpr double kDay = KSApiOperationManager::kLongestRetryAfterInSeconds;
  const std::pair<const char*, double> rows[] = {
      {"120", 120.0},
      {"1.5", 1.5},
      {" 45", 45.0},
      {"0x10", 10.0},  // "0" and then text: no delay given, the default
      {"-30", 10.0},
      {"inf", 10.0},
      {"1e300", kDay},
      {"1e400", kDay},
      {"9300000000000", kDay},
      {"90000", kDay},
  };
  world.cloud.putRecord("sites/S1", "site", Value::makeDict({{"id", "S1"}}));
  sites->cached["S1"] = std::make_shared<KSSite>();
  sites->cached["S1"]->setSiteID("S1");
  for (const auto& [text, seconds] : rows) {
    SCOPED_TRACE(text);
    defaults->setApiRetryAfter(std::nullopt);
    world.cloud.setFault("GET", "sites/S1", Fault{.status = 503, .retryAfter = text, .times = 1});
    manager->syncSiteWithSiteID("S1");
    ASSERT_TRUE(settle());
    EXPECT_EQ(throttleSeconds(), seconds);
    EXPECT_FALSE(manager->shouldRunOperations());
    world.scheduler->advanceBy(seconds - 0.5);
    EXPECT_FALSE(manager->shouldRunOperations());
    world.scheduler->advanceBy(1.0);
    EXPECT_TRUE(manager->shouldRunOperations());
  }
}

// One failure per row, for a single-record sync (type 2): what the hub hears, the throttle
// and, for a post of two visits, whether the batch stays.
TEST_F(KSApiOperationManagerTest, FaultMatrix) {
  struct Row {
    const char* name;
    int status;
    const char* retryAfter;
    Fault::Kind kind;
    bool reachable;
    std::optional<std::int64_t> reportedStatus;
    std::optional<double> throttle;
    bool batchKept;
  };
  const std::vector<Row> rows = {
      {"timeout", 0, nullptr, Fault::Kind::Stall, true, std::nullopt, 10.0, true},
      {"reset", 0, nullptr, Fault::Kind::Reset, true, std::nullopt, 10.0, true},
      {"truncated", 0, nullptr, Fault::Kind::Truncate, true, std::nullopt, 10.0, true},
      {"closed", 0, nullptr, Fault::Kind::Close, true, std::nullopt, 10.0, true},
      {"429 with Retry-After 30", 429, "30", Fault::Kind::None, true, 429, 30.0, false},
      {"503 with a date", 503, "Wed, 21 Oct 2026 07:28:00 GMT", Fault::Kind::None, true, 503, 10.0, false},
      {"500", 500, nullptr, Fault::Kind::None, true, 500, 10.0, false},
      {"404", 404, nullptr, Fault::Kind::None, true, 404, std::nullopt, false},
      {"garbage on a 200", 0, nullptr, Fault::Kind::Garbage, true, 200, std::nullopt, true},
      {"HTML on a 200", 0, nullptr, Fault::Kind::WrongContentType, true, 200, std::nullopt, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    defaults->setApiRetryAfter(std::nullopt);
    hub->results.clear();
    world.cloud.clearLog();
    Fault fault;
    fault.status = row.status;
    if (row.retryAfter) fault.retryAfter = row.retryAfter;
    fault.kind = row.kind;
    world.cloud.setFault("GET", "beacons/AA:01", fault);
    world.cloud.setFault("POST", "beaconvisits", fault);

    manager->syncBeaconWithBluetoothAddress("AA:01");
    ASSERT_TRUE(settle());
    ASSERT_EQ(hub->results.size(), 1u);
    EXPECT_EQ(hub->results[0].httpStatusCode, row.reportedStatus);
    EXPECT_EQ(hub->results[0].beaconIdentifierType, KSBeaconIdentifierTypeBluetoothAddress);
    EXPECT_EQ(hub->results[0].beaconIdentifierString, "AA:01");
    EXPECT_TRUE(hub->results[0].beacons.empty());
    EXPECT_EQ(throttleSeconds(), row.throttle);
    // No retry of our own. (The URL session resends a request once when a reused connection
    // dies before any reply byte, so a reset or close may reach the server twice.)
    const std::size_t resendable = row.kind == Fault::Kind::Reset || row.kind == Fault::Kind::Close ? 2u : 1u;
    EXPECT_GE(world.cloud.hits("GET", "beacons/AA:01"), 1u);
    EXPECT_LE(world.cloud.hits("GET", "beacons/AA:01"), resendable);

    defaults->setApiRetryAfter(std::nullopt);
    manager->postBeaconVisit(std::make_shared<FakeRecord>(1, false));
    manager->postBeaconVisit(std::make_shared<FakeRecord>(2, false));
    ASSERT_TRUE(settle());
    // A failed post queues nothing more.
    const std::size_t posts = world.cloud.hits("POST", "beaconvisits");
    EXPECT_GE(posts, 1u);
    EXPECT_LE(posts, resendable);
    EXPECT_EQ(manager->pendingBeaconVisitCount(), row.batchKept ? 2u : 0u);
    world.cloud.clearFaults();
    defaults->setApiRetryAfter(std::nullopt);
    manager->queueNextBeaconVisitRequestOperation();
    ASSERT_TRUE(settle());
    EXPECT_EQ(manager->pendingBeaconVisitCount(), 0u);
  }
}

// A walk whose second page fails: the first page stays delivered, no failure result goes to
// the hub (full syncs report none), and the throttle follows the failure's rule.
TEST_F(KSApiOperationManagerTest, FaultMatrixOfAPagedWalk) {
  struct Row {
    const char* name;
    int status;
    const char* retryAfter;
    Fault::Kind kind;
    std::optional<double> throttle;
  };
  const std::vector<Row> rows = {
      {"reset", 0, nullptr, Fault::Kind::Reset, 10.0},
      {"timeout", 0, nullptr, Fault::Kind::Stall, 10.0},
      {"429 with Retry-After 30", 429, "30", Fault::Kind::None, 30.0},
      {"500", 500, nullptr, Fault::Kind::None, 10.0},
      {"garbage on a 200", 0, nullptr, Fault::Kind::Garbage, std::nullopt},
  };
  world.cloud.putList("beacons", "beacons", beaconItems(150));
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    defaults->setApiRetryAfter(std::nullopt);
    hub->results.clear();
    world.cloud.clearLog();
    Fault fault;
    fault.status = row.status;
    if (row.retryAfter) fault.retryAfter = row.retryAfter;
    fault.kind = row.kind;
    fault.page = 2;
    world.cloud.setFault("GET", "beacons", fault);
    manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
    ASSERT_TRUE(settle());
    ASSERT_EQ(hub->results.size(), 1u);
    EXPECT_EQ(hub->results[0].beacons.size(), 100u);
    EXPECT_FALSE(hub->results[0].includeLatestForApp);
    EXPECT_EQ(throttleSeconds(), row.throttle);
    EXPECT_GE(world.cloud.hits("GET", "beacons"), 2u);
  }
}

TEST_F(KSApiOperationManagerTest, AFailureWithoutResponseWhileUnreachableDoesNotThrottle) {
  world.cloud.setFault("GET", "beacons/AA:01", Fault{.kind = Fault::Kind::Reset});
  manager->syncBeaconWithBluetoothAddress("AA:01");
  // The link drops while the request is on its way.
  sim->setFlags(0);
  ASSERT_TRUE(settle());
  ASSERT_EQ(hub->results.size(), 1u);
  EXPECT_EQ(throttleSeconds(), std::nullopt);
}

TEST_F(KSApiOperationManagerTest, A401StopsTheSdkAndCancelsEverythingQueued) {
  world.cloud.putList("beacons", "beacons", beaconItems(1));
  world.cloud.putList("sites", "sites", {});
  world.cloud.setFault("GET", "beacons", Fault{.status = 401});
  world.cloud.setFault("GET", "sites", Fault{.kind = Fault::Kind::Stall});
  manager->syncAllSitesForAppModifiedAfter(std::nullopt);  // in flight on the site queue
  manager->syncAllBeaconsForAppModifiedAfter(std::nullopt);
  manager->syncBeaconWithBluetoothAddress("AA:01");  // waits behind it on the beacon queue
  ASSERT_TRUE(settle());
  EXPECT_EQ(sdk->stops, 1);
  EXPECT_EQ(world.cloud.hits("GET", "beacons/AA:01"), 0u);
  EXPECT_TRUE(hub->results.empty());  // type 9 reports no failure result; the GET never ran
}

}  // namespace
}  // namespace velmora::kestrine
