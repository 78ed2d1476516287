#include "beacons/api/KSRecordApi.h"

#include <gtest/gtest.h>

#include <set>

#include "beacons/foundation/KSJSONModelError.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTargetSpeed.h"
#include "beacons/model/KSTeam.h"
#include "testing/ApiTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::ApiTestWorld;
using velmora::testing::BeaconCloudFake;

template <class T>
std::shared_ptr<T> record(Value dict) {
  auto r = T::initWithDictionary(dict);
  EXPECT_TRUE(r) << "fixture does not import";
  return r;
}

TEST(KSRecordRequests, PathsBodiesAndQueries) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B 1"}, {"bluetoothAddress", "aa:bb"}}));
  auto addressOnly = record<KSBeacon>(Value::makeDict({{"bluetoothAddress", "aa:bb"}}));
  auto none = std::make_shared<KSBeacon>();
  auto team = record<KSTeam>(Value::makeDict({{"id", "T/1"}, {"name", "Ops"}}));
  auto site = std::make_shared<KSSite>();
  site->setSiteID("S1");
  site->setName("Lot");
  auto app = record<KSApp>(Value::makeDict({{"id", "A1"}}));

  using R = KSApiRequest;
  struct Row {
    const char* name;
    std::optional<R> got;
    std::optional<R> expected;
  };
  const std::vector<Row> rows = {
      {"update beacon", record_requests::updateBeacon(*beacon),
       R{"PUT", "beacons/B%201", Value::makeDict({{"beacon", beacon->toDictionary()}})}},
      {"move", record_requests::moveBeaconToTeam(*beacon, *team, *site, true),
       R{"POST", "beacontransfer",
         Value::makeDict({{"teamID", "T/1"}, {"siteID", "S1"}, {"beaconIDs", Value::makeArray({"B 1"})},
                          {"keepCategories", 1}})}},
      {"version", record_requests::beaconVersion(*beacon, 7), R{"GET", "beacons/B%201/versions/7", {}}},
      {"latest version", record_requests::latestBeaconVersion(*beacon), R{"GET", "beacons/B%201/versions/latest", {}}},
      {"confirm: no body", record_requests::confirmBeaconVersion(*beacon, 7),
       R{"PUT", "beacons/B%201/versions/7/confirm", {}}},
      {"refresh by id", record_requests::refreshBeacon(*beacon), R{"GET", "beacons/B%201", {}}},
      {"refresh by address", record_requests::refreshBeacon(*addressOnly), R{"GET", "beacons/AA:BB", {}}},
      {"refresh without identity", record_requests::refreshBeacon(*none), std::nullopt},
      {"latest beacon", record_requests::latestBeacon(*beacon),
       R{"GET", "beacons/B%201", Value::makeDict({{"version", "latest"}})}},
      {"target speeds", record_requests::beaconTargetSpeeds(*beacon, Value::makeDict({{"x", 1}})),
       R{"GET", "beacons/B%201/targetspeeds", Value::makeDict({{"x", 1}})}},
      {"update site", record_requests::updateSite(*site, std::string("T/1")),
       R{"PUT", "teams/T%2F1/sites/S1", Value::makeDict({{"site", site->toDictionary()}})}},
      {"app token", record_requests::appToken(*app), R{"GET", "apps/A1/requestapptoken", {}}},
      {"team sites", record_requests::teamSites(*team), R{"GET", "teams/T%2F1/sites", {}}},
      {"delete site", record_requests::deleteSite(*site), R{"DELETE", "sites/S1", {}}},
      {"delete team", record_requests::deleteTeam(*team), R{"DELETE", "teams/T%2F1", {}}},
      {"move without team id", record_requests::moveBeaconToTeam(*beacon, KSTeam(), *site, false), std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.got.has_value(), row.expected.has_value());
    if (row.got) {
      EXPECT_EQ(row.got->method, row.expected->method);
      EXPECT_EQ(row.got->path, row.expected->path);
      EXPECT_EQ(row.got->parameters, row.expected->parameters);
    }
  }
  auto created = record_requests::createSite(*team, *site);
  ASSERT_TRUE(created);
  EXPECT_EQ(created->path, "sites");
  EXPECT_EQ(created->parameters["site"]["teamID"], Value("T/1"));
}

struct Hub : KSApiBeaconCachePort {
  std::vector<KSBeaconSyncResult> results;
  void cacheBeaconsFromSyncResult(const KSBeaconSyncResult& r) override { results.push_back(r); }
  bool canCacheRefreshForApp() override { return true; }
  bool canCacheFullSyncForApp() override { return true; }
  bool canCacheRefreshForSiteID(const std::string&) override { return true; }
  bool canCacheFullSyncForSiteID(const std::string&) override { return true; }
  std::shared_ptr<KSBeacon> cachedBeaconWithSerialNumber(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithBluetoothAddress(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithBeaconID(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithIBeaconKey(const std::string&) override { return nullptr; }
  std::shared_ptr<KSBeacon> cachedBeaconWithEddystoneUIDString(const std::string&) override { return nullptr; }
};

struct Sites : KSApiSiteCachePort {
  std::vector<KSSiteSyncResult> results;
  void cacheSitesFromSyncResult(const KSSiteSyncResult& r) override { results.push_back(r); }
  std::shared_ptr<KSSite> cachedSiteWithSiteID(const std::string&) override { return nullptr; }
  bool hasCacheExpiredForSiteWithID(const std::string&) override { return true; }
  bool hasCacheExpiredForSitesForApp() override { return true; }
};

class KSRecordApiTest : public ::testing::Test {
 protected:
  ApiTestWorld world;
  std::shared_ptr<Hub> hub = std::make_shared<Hub>();
  std::shared_ptr<Sites> sites = std::make_shared<Sites>();
  KSRecordApi api{world.client, KSApiOperationManagerPorts{.beaconCache = [h = hub] { return h; },
                                                           .siteCache = [s = sites] { return s; }}};
  bool done = false;
  std::optional<platform::Error> error;
  KSRecordApi::Failure failure() {
    return [this](const platform::Error& e) {
      error = e;
      done = true;
    };
  }
  void run() {
    ASSERT_TRUE(world.drainUntil([&] { return done; }));
    world.drain();
  }
};

TEST_F(KSRecordApiTest, ListsUnderAMissingKeyFailWithTheCallsOwnError) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B1"}}));
  world.cloud.putList("beacons/B1/targetspeeds", "somethingElse", {});
  api.getTargetSpeeds(beacon, {}, [&](const auto&) { done = true; }, failure());
  run();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, "com.kestrine.KSBeacon+Api");
  EXPECT_EQ(error->code, -1);
  EXPECT_EQ(error->localizedDescription, "Response Did Not Include Target Speeds");

  done = false;
  error.reset();
  std::optional<std::size_t> count;
  world.cloud.putList("beacons/B1/targetspeeds", "targetSpeeds", {});
  api.getTargetSpeeds(beacon, {}, [&](const auto& list) { count = list.size(); done = true; }, failure());
  run();
  EXPECT_EQ(count, 0u);
}

// A reply without its record key fails with the record import's own error for a nil input,
// one with something else under the key with the import's invalid-data error; the receiver
// and the caches stay as they were.
TEST_F(KSRecordApiTest, ARecordReplyWithoutItsKeyFailsWithTheImportsError) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B1"}, {"name", "Mine"}}));
  auto team = record<KSTeam>(Value::makeDict({{"id", "T1"}}));
  auto person = record<KSPerson>(Value::makeDict({{"id", "P1"}}));
  auto site = record<KSSite>(Value::makeDict({{"name", "Lot"}}));
  const auto wrongKey = Value::makeDict({{"id", "X"}});
  world.cloud.putRecord("beacons/B1", "other", wrongKey);
  world.cloud.putRecord("beacons/B1/versions/4", "other", wrongKey);
  world.cloud.putRecord("beacons/B1/versions/latest", "version", Value("not a record"));
  world.cloud.setWriteReply("POST", "sites", 200, Value::makeDict({{"other", wrongKey}}));
  world.cloud.setWriteReply("POST", "teams", 200, Value::makeDict({{"team", Value()}}));
  const auto fail = [this](const auto&...) { done = true; };
  const auto teamFailure = [this](std::shared_ptr<KSTeam>, const platform::Error& e) {
    error = e;
    done = true;
  };
  const struct {
    const char* name;
    std::function<void()> call;
    std::int64_t code;
  } cases[] = {
      {"refresh: no beacon", [&] { api.refreshBeacon(beacon, fail, failure()); }, KSJSONModelError::kInputIsNil},
      {"latest beacon: no beacon", [&] { api.getLatestBeacon(beacon, fail, failure()); }, KSJSONModelError::kInputIsNil},
      {"version: no version", [&] { api.getBeaconVersion(beacon, 4, fail, failure()); }, KSJSONModelError::kInputIsNil},
      {"latest version: a string", [&] { api.getLatestBeaconVersion(beacon, fail, failure()); },
       KSJSONModelError::kInvalidData},
      {"create site: no site", [&] { api.createSite(team, site, fail, teamFailure); }, KSJSONModelError::kInputIsNil},
      // The reply's serializer drops keys whose value is null: the record is missing.
      {"create team: null", [&] { api.createTeam(person, team, fail, failure()); }, KSJSONModelError::kInputIsNil},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    done = false;
    error.reset();
    c.call();
    run();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, KSJSONModelErrorDomain);
    EXPECT_EQ(error->code, c.code);
    if (c.code == KSJSONModelError::kInputIsNil) {
      EXPECT_EQ(error->localizedDescription, "Initializing model with nil input object.");
    }
  }
  EXPECT_EQ(beacon->name(), "Mine");
  EXPECT_TRUE(hub->results.empty());
  EXPECT_TRUE(sites->results.empty());
  EXPECT_EQ(team->siteCount(), 0);
  EXPECT_EQ(person->teamCount(), 0);
}

// The site and app calls hand the record back with what the server said; a new site goes
// out as the team's and keeps that team's id.
TEST_F(KSRecordApiTest, SiteAndAppCallsAnswerWithTheirRecord) {
  auto site = record<KSSite>(Value::makeDict({{"id", "S1"}, {"name", "Lot"}}));
  auto app = record<KSApp>(Value::makeDict({{"id", "A1"}}));
  auto team = record<KSTeam>(Value::makeDict({{"id", "T1"}}));
  world.cloud.setWriteReply("PUT", "teams/T1/sites/S1", 200, Value::makeDict({{"ok", 1}}));
  world.cloud.setWriteReply("PUT", "apps/A1", 200, Value::makeDict({{"ok", 2}}));
  world.cloud.putRecord("apps/A1/requestapptoken", "appToken", Value("tok-2"));

  std::shared_ptr<KSSite> updatedSite;
  Value siteReply;
  api.updateSite(site, std::string("T1"), [&](auto s, const Value& reply) {
    updatedSite = s;
    siteReply = reply;
    done = true;
  }, failure());
  run();
  EXPECT_EQ(updatedSite, site);
  EXPECT_EQ(siteReply["ok"], Value(1));

  done = false;
  std::shared_ptr<KSApp> updatedApp;
  Value appReply;
  api.updateApp(app, [&](auto a, const Value& reply) {
    updatedApp = a;
    appReply = reply;
    done = true;
  }, failure());
  run();
  EXPECT_EQ(updatedApp, app);
  EXPECT_EQ(appReply["ok"], Value(2));

  done = false;
  std::shared_ptr<KSApp> tokenApp;
  std::optional<std::string> token;
  api.getAppToken(app, [&](auto a, std::optional<std::string> t) {
    tokenApp = a;
    token = t;
    done = true;
  }, [&](auto, const platform::Error& e) { error = e; done = true; });
  run();
  EXPECT_EQ(tokenApp, app);
  EXPECT_EQ(token, "tok-2");

  done = false;
  world.cloud.setFault("GET", "apps/A1/requestapptoken", BeaconCloudFake::Fault{.status = 500});
  std::shared_ptr<KSApp> failedApp;
  api.getAppToken(app, [&](auto, auto) { done = true; }, [&](auto a, const platform::Error& e) {
    failedApp = a;
    error = e;
    done = true;
  });
  run();
  EXPECT_EQ(failedApp, app);
  EXPECT_TRUE(error);

  done = false;
  auto fresh = record<KSSite>(Value::makeDict({{"name", "New lot"}}));
  world.cloud.setWriteReply("POST", "sites", 200, Value::makeDict({{"site", Value::makeDict({{"id", "S2"}})}}));
  api.createSite(team, fresh, [&](auto, auto) { done = true; }, [&](auto, const platform::Error& e) {
    error = e;
    done = true;
  });
  run();
  EXPECT_EQ(fresh->teamID(), "T1");
  EXPECT_EQ(world.cloud.log().back().json["site"]["teamID"], Value("T1"));
}

TEST_F(KSRecordApiTest, RefreshByAddressCopiesServerFieldsAndASummaryKeepsTheDetails) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"bluetoothAddress", "AA:BB"}, {"name", "Gate 1"}}));
  world.cloud.putRecord("beacons/AA:BB", "beacon",
                        Value::makeDict({{"id", "B7"}, {"bluetoothAddress", "AA:BB"}, {"name", "Renamed"}}));
  api.refreshBeacon(beacon, [&] { done = true; }, failure());
  run();
  EXPECT_FALSE(error);
  EXPECT_EQ(beacon->beaconID(), "B7");
  EXPECT_EQ(beacon->name(), "Gate 1");  // no createdAt: a summary
  ASSERT_EQ(hub->results.size(), 1u);
  EXPECT_EQ(hub->results[0].beaconIdentifierType, KSBeaconIdentifierTypeBluetoothAddress);
  EXPECT_EQ(hub->results[0].beaconIdentifierString, "AA:BB");
  EXPECT_EQ(hub->results[0].httpStatusCode, 200);
}

TEST_F(KSRecordApiTest, TheLatestBeaconIsANewRecordAndTouchesNothingElse) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B1"}, {"name", "Mine"}}));
  world.cloud.putRecord("beacons/B1", "beacon", Value::makeDict({{"id", "B1"}, {"name", "Latest"}}));
  std::shared_ptr<KSBeacon> latest;
  api.getLatestBeacon(beacon, [&](auto b) { latest = b; done = true; }, failure());
  run();
  ASSERT_TRUE(latest);
  EXPECT_EQ(latest->name(), "Latest");
  EXPECT_EQ(beacon->name(), "Mine");
  EXPECT_TRUE(hub->results.empty());
  EXPECT_EQ(world.cloud.log().at(0).query.at("version"), "latest");
}

TEST_F(KSRecordApiTest, AMoveWhoseRefreshFailsReportsTheRefreshsError) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B1"}}));
  auto team = record<KSTeam>(Value::makeDict({{"id", "T1"}}));
  KSSite site;
  site.setSiteID("S1");
  world.cloud.setFault("GET", "beacons/B1", BeaconCloudFake::Fault{.status = 404});
  api.moveBeaconToTeam(beacon, *team, site, false, [&](auto) { done = true; }, failure());
  run();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->userInfo.at(std::string(KSNetworkingTaskResponseStatusCodeKey)), Value(404));
  EXPECT_EQ(world.cloud.hits("POST", "beacontransfer"), 1u);
  EXPECT_EQ(world.cloud.log().at(0).json["keepCategories"], Value(0));
}

TEST_F(KSRecordApiTest, ConfirmSendsNoBodyAndAlertsFailAtOnceWithoutRequest) {
  auto beacon = record<KSBeacon>(Value::makeDict({{"id", "B1"}}));
  api.confirmBeaconVersion(beacon, 3, [&](auto&&, auto&&) { done = true; }, [&](auto&&, auto&&) { done = true; });
  run();
  EXPECT_EQ(world.cloud.log().at(0).method, "PUT");
  EXPECT_EQ(world.cloud.log().at(0).body, "");

  bool failed = false;
  api.getAlerts(std::make_shared<KSTeam>(), [] { FAIL(); }, [&](auto team, auto e) { failed = !team && !e; });
  EXPECT_TRUE(failed);
  EXPECT_EQ(world.cloud.log().size(), 1u);
}

TEST_F(KSRecordApiTest, TeamListsAccumulateOverTheWalk) {
  auto team = record<KSTeam>(Value::makeDict({{"id", "T1"}}));
  platform::Array apps, siteItems;
  for (int i = 0; i < 250; ++i) apps.push_back(Value::makeDict({{"id", "A" + std::to_string(i)}}));
  for (int i = 0; i < 120; ++i) siteItems.push_back(Value::makeDict({{"id", "S" + std::to_string(i)}}));
  world.cloud.putList("teams/T1/apps", "apps", apps);
  world.cloud.putList("teams/T1/sites", "sites", siteItems);
  team->setCachedApps({std::make_shared<KSApp>()});  // an earlier walk's list is replaced

  std::vector<std::size_t> seen;
  api.getApps(team, [&](auto, const auto& list) { seen.push_back(list.size()); done = seen.size() == 3; },
              [&](auto, const auto& e) { error = e; done = true; }, /*preferCached=*/false);
  run();
  EXPECT_EQ(seen, (std::vector<std::size_t>{100, 200, 250}));
  EXPECT_EQ(team->cachedApps().size(), 250u);
  EXPECT_EQ(team->cachedAppsAt(), world.now());

  // Fresh now: the cached list comes later on the main queue, without a request.
  done = false;
  world.cloud.clearLog();
  bool onMain = false;
  api.getApps(team, [&](auto, const auto& list) {
    onMain = world.scheduler->mainQueue()->isCurrent() && list.size() == 250;
    done = true;
  }, nullptr, /*preferCached=*/true);
  EXPECT_FALSE(done);
  run();
  EXPECT_TRUE(onMain);
  EXPECT_TRUE(world.cloud.log().empty());

  done = false;
  std::vector<std::size_t> siteCounts;
  api.getSites(team, [&](auto t, const auto& list) {
    siteCounts.push_back(t->numberOfSitesCached());
    done = list.size() == 120;
  }, nullptr);
  run();
  EXPECT_EQ(siteCounts, (std::vector<std::size_t>{100, 120}));
  ASSERT_EQ(sites->results.size(), 2u);
  EXPECT_EQ(sites->results[1].sites.size(), 20u);
}

TEST_F(KSRecordApiTest, CreatingAndDeletingKeepTheCountsAndCaches) {
  auto person = record<KSPerson>(Value::makeDict({{"id", "P1"}}));
  auto team = record<KSTeam>(Value::makeDict({{"name", "New"}}));
  world.cloud.setWriteReply("POST", "teams", 200, Value::makeDict({{"team", Value::makeDict({{"id", "T9"}, {"name", "New"}})}}));
  std::shared_ptr<KSTeam> created;
  api.createTeam(person, team, [&](auto t) { created = t; done = true; }, failure());
  run();
  ASSERT_TRUE(created);
  EXPECT_EQ(created->teamID(), "T9");
  EXPECT_EQ(person->teamCount(), 1);
  EXPECT_EQ(person->cachedTeamWithTeamID("T9"), created);
  EXPECT_EQ(world.cloud.log().at(0).json["team"]["name"], Value("New"));

  done = false;
  api.deleteTeam(person, created, [&] { done = true; }, failure());
  run();
  EXPECT_EQ(person->teamCount(), 0);
  EXPECT_EQ(person->cachedTeamWithTeamID("T9"), nullptr);
  EXPECT_EQ(world.cloud.log().back().path, "/api/teams/T9");
}

// The categories are created through the team's own call (and so through the registered
// client): all at once, one success with every created category, one failure per failed one,
// and nothing at all for an empty list.
TEST_F(KSRecordApiTest, CreatingCategoriesReportsOnceWhenAllAreCreated) {
  KSApiClientPort::setShared(world.client);
  struct Unregister {
    ~Unregister() { KSApiClientPort::setShared(nullptr); }
  } unregister;
  auto team = record<KSTeam>(Value::makeDict({{"id", "T1"}}));
  const auto categories = [] {
    std::vector<std::shared_ptr<KSCategory>> out;
    for (const char* name : {"Gate", "Lift", "Exit"}) {
      auto c = std::make_shared<KSCategory>();
      c->setCategoryID(std::string("C-") + name);
      c->setName(std::string(name));
      out.push_back(c);
    }
    out.push_back(nullptr);
    return out;
  };

  int successes = 0;
  std::vector<std::shared_ptr<KSCategory>> created;
  api.createCategories(team, categories(), [&](const auto& all) { ++successes; created = all; done = true; },
                       failure());
  run();
  EXPECT_EQ(successes, 1);
  ASSERT_EQ(created.size(), 3u);
  std::set<std::string> names;
  for (const auto& c : created) names.insert(c->name().value_or(""));
  EXPECT_EQ(names, (std::set<std::string>{"Gate", "Lift", "Exit"}));
  EXPECT_EQ(world.cloud.hits("POST", "categories"), 3u);
  EXPECT_EQ(world.cloud.log().at(0).json["category"]["teamID"], Value("T1"));

  BeaconCloudFake::Fault fault;
  fault.status = 500;
  world.cloud.setFault("POST", "categories", fault);
  int failures = 0;
  successes = 0;
  api.createCategories(team, categories(), [&](const auto&) { ++successes; },
                       [&](const platform::Error&) { ++failures; });
  ASSERT_TRUE(world.drainUntil([&] { return failures == 3; }));
  world.drain();
  EXPECT_EQ(successes, 0);

  world.cloud.clearLog();
  api.createCategories(team, {}, [&](const auto&) { ++successes; }, [&](const platform::Error&) { ++failures; });
  world.drain();
  EXPECT_EQ(successes, 0);
  EXPECT_EQ(failures, 3);
  EXPECT_TRUE(world.cloud.log().empty());
}

}  // namespace
}  // namespace velmora::kestrine
