#include "beacons/microlocation/KSSiteManagerInternal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "beacons/model/KSAddress.h"
#include "beacons/model/KSBeacon.h"
#include "platform/app/Application.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/notify/NotificationCenter.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

struct RecordingSync : KSSiteSyncRequesting {
  void syncAllSitesForAppModifiedAfter(std::optional<Date> modifiedAfter) override {
    requests.push_back("all");
    modifiedAfters.push_back(modifiedAfter);
  }
  void syncSiteWithSiteID(const std::string& siteID) override { requests.push_back("site " + siteID); }
  std::vector<std::string> requests;
  std::vector<std::optional<Date>> modifiedAfters;
};

// The site rows as the store keeps them: a copy per siteID. Saves and writes are logged
// together, so their order shows.
struct RecordingStore : KSSiteStorePort {
  void storeSite(const std::shared_ptr<KSSite>& site) override {
    log->push_back("store " + site->siteID().value_or(""));
    rows[site->siteID().value_or("")] = site->copy();
  }
  std::shared_ptr<KSSite> fetchSiteForSiteID(const std::string& siteID) override {
    auto it = rows.find(siteID);
    return it == rows.end() ? nullptr : it->second->copy();
  }
  void saveContext() override { log->push_back("save"); }
  std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
  std::map<std::string, std::shared_ptr<KSSite>> rows;
};

std::string idOf(const std::shared_ptr<KSSite>& site) { return site ? site->siteID().value_or("") : "none"; }
std::string idsOf(const std::vector<std::shared_ptr<KSSite>>& sites) {
  std::string out;
  for (const auto& s : sites) out += (out.empty() ? "" : ",") + idOf(s);
  return out;
}

struct RecordingSubscriber : KSSiteManagerInternalDelegate {
  explicit RecordingSubscriber(std::shared_ptr<std::vector<std::string>> sharedLog = nullptr)
      : log(sharedLog ? sharedLog : std::make_shared<std::vector<std::string>>()) {}
  void siteManagerDidRemoveAllActivityMonitors() override { log->push_back("removeAll"); }
  void siteManagerInternalDidCacheSites(SiteList s) override { log->push_back("cache " + idsOf(s)); }
  void siteManagerInternalDidRestoreSites(SiteList s) override { log->push_back("restore " + idsOf(s)); }
  void siteManagerInternalDidSyncSites(SiteList s) override { log->push_back("sync " + idsOf(s)); }
  void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite> s) override { log->push_back("enter " + idOf(s)); }
  void siteManagerInternalDidExitSite(std::shared_ptr<KSSite> s) override { log->push_back("exit " + idOf(s)); }
  void siteManagerInternalDidDetermineStateForSite(unsigned long state, std::shared_ptr<KSSite> s) override {
    log->push_back("state " + std::to_string(state) + " " + idOf(s));
  }
  void siteManagerInternalDidRangeBeaconsInSite(SiteBeacons b, std::shared_ptr<KSSite> s) override {
    log->push_back("range " + idOf(s) + " " + std::to_string(b.size()));
  }
  void siteManagerInternalDidRangeBeaconsForSiteIDInSites(BeaconsForSiteID groups, SiteList s) override {
    std::string keys;
    for (const auto& [k, v] : groups) keys += "[" + k + ":" + std::to_string(v.size()) + "]";
    log->push_back("groups " + keys + " in " + idsOf(s));
  }
  void siteManagerInternalDidRangeBeacons(SiteBeacons b) override { log->push_back("pass " + std::to_string(b.size())); }
  std::shared_ptr<std::vector<std::string>> log;
};

std::shared_ptr<KSBeacon> beaconIn(std::optional<std::string> siteID, std::int64_t status = KSSyncStatusSynced,
                                   std::optional<std::string> siteName = std::nullopt) {
  auto b = std::make_shared<KSBeacon>();
  b->setSiteID(std::move(siteID));
  b->setSiteName(std::move(siteName));
  b->setSyncStatus(status);
  return b;
}

std::shared_ptr<KSSite> site(const std::string& id, std::int64_t status = KSSyncStatusSynced) {
  auto s = std::make_shared<KSSite>();
  s->setSiteID(id);
  s->setName("name of " + id);
  s->setSyncStatus(status);
  return s;
}

class SiteManagerTest : public ::testing::Test {
 protected:
  SiteManagerTest() {
    KSSiteManagerInternal::Ports ports;
    ports.scheduler = scheduler;
    ports.center = center;
    ports.sync = [this] { return sync; };
    ports.store = [this] { return store; };
    ports.location = [this] { return location; };
    ports.exitedSite = [this](const std::string& id) { store->log->push_back("hub exited " + id); };
    ports.settings.cacheRefreshTimeInterval = [this] { return refreshInterval; };
    ports.settings.cacheAllBeaconsForApp = [this] { return cacheAllForApp; };
    ports.settings.discoverBeaconsNearby = [this] { return discoverNearby; };
    manager = KSSiteManagerInternal::create(ports);
    manager->addDelegate(subscriber);
    for (auto name : {KSSiteManagerNotificationDidCacheSite, KSSiteManagerNotificationDidRemoveCachedSite,
                      KSSiteManagerNotificationDidEnterSite, KSSiteManagerNotificationDidExitSite}) {
      tokens.push_back(center->addObserver(std::string(name), nullptr, nullptr, [this](const auto& n) {
        auto it = n.userInfo.find(KSSiteManagerNotificationSiteIDItem);
        posted.push_back(n.name + " " + (it == n.userInfo.end() ? "?" : *it->second.string()));
      }));
    }
  }
  ~SiteManagerTest() override {
    for (auto& t : tokens) center->removeObserver(t);
  }

  void pass(const KSSiteManagerInternal::Beacons& beacons) {
    manager->beaconManagerInternalDidRangeKestrineBeacons(nullptr, beacons);
  }
  std::vector<std::string> drained() {
    scheduler->runUntilIdle();
    auto out = *subscriber->log;
    subscriber->log->clear();
    return out;
  }
  std::shared_ptr<KSSite> cached(const std::string& id, std::int64_t status = KSSyncStatusSynced) {
    auto s = site(id, status);
    manager->cacheSite(s, true, false);
    s = manager->cachedSiteWithSiteID(id);
    drained();
    posted.clear();
    sync->requests.clear();
    store->log->clear();
    return s;
  }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'800'000'000));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<RecordingSync> sync = std::make_shared<RecordingSync>();
  std::shared_ptr<RecordingStore> store = std::make_shared<RecordingStore>();
  std::optional<platform::location::Location> location;
  double refreshInterval = 3600;
  bool cacheAllForApp = false;
  bool discoverNearby = true;
  std::shared_ptr<KSSiteManagerInternal> manager;
  std::shared_ptr<RecordingSubscriber> subscriber = std::make_shared<RecordingSubscriber>();
  std::vector<platform::NotificationCenter::ObserverToken> tokens;
  std::vector<std::string> posted;
};

TEST(SiteActivityMonitor, FlagsAndDatesFollowTheOperations) {
  auto clock = std::make_shared<platform::ManualClock>(Date::fromUnixSeconds(1000));
  KSSiteActivityMonitor record("S1", clock);
  EXPECT_FALSE(record.isMonitoringSite());
  EXPECT_EQ(record.siteState(), KSSiteStateUnknown);
  EXPECT_FALSE(record.enteredSiteAt());

  record.startRangingBeacons();  // starts monitoring first
  EXPECT_TRUE(record.isMonitoringSite());
  EXPECT_TRUE(record.isRangingBeacons());
  EXPECT_EQ(record.startedMonitoringSiteAt(), Date::fromUnixSeconds(1000));
  clock->advance(2.0);
  record.stopMonitoringSite();  // stops ranging first
  EXPECT_FALSE(record.isRangingBeacons());
  EXPECT_FALSE(record.isMonitoringSite());
  EXPECT_EQ(record.stoppedRangingBeaconsAt(), Date::fromUnixSeconds(1002));

  record.rangedBeacons({beaconIn("S1")});
  clock->advance(1.0);
  record.rangedBeacons({});  // an empty pass moves only lastRangedBeaconsAt
  EXPECT_EQ(record.lastRangedBeaconsAt(), Date::fromUnixSeconds(1003));
  EXPECT_EQ(record.lastRangedAndFoundBeaconsAt(), Date::fromUnixSeconds(1002));
  EXPECT_TRUE(record.lastRangedBeacons().empty());
}

TEST_F(SiteManagerTest, TwoSitePassReachesEverySubscriberInSendOrder) {
  auto second = std::make_shared<RecordingSubscriber>();
  manager->addDelegate(second);
  auto s0 = cached("S0");
  cached("S1");
  cached("S2");
  pass({beaconIn("S0")});
  drained();
  scheduler->advanceBy(6);
  second->log->clear();
  posted.clear();

  // S2's beacon comes first in the pass, but the groups are handled in order of appearance.
  pass({beaconIn("S1"), beaconIn("S2"), beaconIn("S1"), beaconIn("X"), beaconIn(std::nullopt)});
  const std::vector<std::string> expected = {"enter S1",  "range S1 2", "enter S2", "range S2 1", "range none 1",
                                             "range none 1", "exit S0",  "pass 5",
                                             "groups [:1][S1:2][S2:1][X:1] in S1,S2"};
  scheduler->runUntilIdle();
  EXPECT_EQ(*subscriber->log, expected);
  EXPECT_EQ(*second->log, expected);
  EXPECT_EQ(posted, (std::vector<std::string>{"KSSiteManagerNotificationDidEnterSite S1",
                                              "KSSiteManagerNotificationDidEnterSite S2",
                                              "KSSiteManagerNotificationDidExitSite S0"}));
  EXPECT_EQ(store->log->back(), "hub exited S0");
  EXPECT_EQ(manager->existingSiteActivityMonitorForSiteID("S1")->lastRangedBeacons().size(), 2u);
}

TEST_F(SiteManagerTest, PassesWithoutSitesOrBeacons) {
  cached("S1");
  pass({beaconIn("S1")});
  drained();

  pass({beaconIn(std::nullopt), beaconIn("")});
  EXPECT_EQ(drained(), (std::vector<std::string>{"range none 2", "pass 2", "groups [:2] in "}));

  scheduler->advanceBy(1);
  pass({});
  EXPECT_EQ(drained(), (std::vector<std::string>{"pass 0"}));
  auto record = manager->existingSiteActivityMonitorForSiteID("S1");
  EXPECT_EQ(record->lastRangedBeaconsAt(), scheduler->clock()->now());
  EXPECT_LT(*record->lastRangedAndFoundBeaconsAt(), scheduler->clock()->now());
}

TEST_F(SiteManagerTest, ExitRuleWaitsMoreThanFiveSecondsForSyncedSitesOnly) {
  cached("S1");
  cached("U", KSSyncStatusNotSynced);
  cached("R", KSSyncStatusRestored);
  pass({beaconIn("S1"), beaconIn("U"), beaconIn("R")});
  pass({beaconIn("S1")});  // entering twice gives one enter
  EXPECT_EQ(drained()[0], "enter S1");
  EXPECT_EQ(std::count(posted.begin(), posted.end(), "KSSiteManagerNotificationDidEnterSite S1"), 1);

  scheduler->advanceBy(5.0);
  pass({});
  EXPECT_EQ(drained(), (std::vector<std::string>{"pass 0"}));  // 5.0 s exactly: still inside
  scheduler->advanceBy(0.000001);
  pass({});
  EXPECT_EQ(drained(), (std::vector<std::string>{"exit R", "exit S1", "pass 0"}));  // by siteID
  EXPECT_EQ(manager->existingSiteActivityMonitorForSiteID("U")->siteState(), KSSiteStateInside);
  scheduler->advanceBy(600);
  pass({});
  EXPECT_EQ(drained(), (std::vector<std::string>{"pass 0"}));  // an unsynced site stays inside

  pass({beaconIn("S1")});  // back inside from outside
  EXPECT_EQ(drained()[0], "enter S1");
}

TEST_F(SiteManagerTest, CacheResults) {
  struct Case {
    const char* name;
    bool preCached;
    std::int64_t status;
    bool fromApi;
    int result;
    std::vector<std::string> messages;
    std::vector<std::string> notifications;
    bool stored;
  };
  const std::string didCache = "KSSiteManagerNotificationDidCacheSite S1";
  const std::vector<Case> cases = {
      {"new, synced", false, KSSyncStatusSynced, false, 3, {"cache S1", "sync S1"}, {didCache}, true},
      {"new, unsynced", false, KSSyncStatusNotSynced, false, 1, {"cache S1"}, {didCache}, false},
      {"cached, from API, synced", true, KSSyncStatusSynced, true, 2, {"sync S1"}, {}, true},
      {"cached, from API, unsynced", true, KSSyncStatusNotSynced, true, 1, {"cache S1"}, {}, false},
      {"cached, sighting, synced", true, KSSyncStatusSynced, false, 2, {"sync S1"}, {}, true},
      {"cached, sighting, unsynced", true, KSSyncStatusNotSynced, false, 0, {}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    manager->beaconManagerInternalDidStopDiscoveringBeacons(nullptr);
    std::shared_ptr<KSSite> entry;
    if (c.preCached) entry = cached("S1", KSSyncStatusRestored);
    drained();
    posted.clear();
    store->log->clear();
    auto received = site("S1", c.status);
    received->setName("renamed");
    EXPECT_EQ(manager->cacheSite(received, c.fromApi, true), c.result);
    EXPECT_EQ(drained(), c.messages);
    EXPECT_EQ(posted, c.notifications);
    EXPECT_EQ(!store->log->empty(), c.stored);
    auto now = manager->cachedSiteWithSiteID("S1");
    if (c.preCached) {
      EXPECT_EQ(now, entry);  // the cached object stays the one everybody holds
      EXPECT_EQ(now->name(), c.result == 0 ? "name of S1" : "renamed");
      EXPECT_EQ(now->syncStatus(), c.result == 0 ? KSSyncStatusRestored : c.status);
    } else {
      EXPECT_EQ(now, received);
      EXPECT_EQ(now->cachedAt(), scheduler->clock()->now());
    }
  }
  EXPECT_EQ(manager->cacheSite(site(""), true, true), 0);
  EXPECT_EQ(manager->cachedSiteWithSiteID(""), nullptr);
}

TEST_F(SiteManagerTest, SitesFromBeacons) {
  auto stored = site("ST", KSSyncStatusSynced);
  store->rows["ST"] = stored;
  auto s1 = cached("S1", KSSyncStatusNotSynced);
  sync->requests.clear();

  auto b1 = beaconIn("ST"), b2 = beaconIn("NEW", KSSyncStatusRestored, "Beacon site"), b3 = beaconIn("NEW");
  auto skipped = beaconIn("OTHER", KSSyncStatusNotSynced), inS1 = beaconIn("S1");
  manager->cacheSitesFromBeacons({b1, skipped, b2, b3, inS1, beaconIn("")});

  EXPECT_EQ(drained(), (std::vector<std::string>{"cache ST,NEW", "restore ST"}));
  auto restored = manager->cachedSiteWithSiteID("ST");
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->syncStatus(), KSSyncStatusRestored);
  auto created = manager->cachedSiteWithSiteID("NEW");
  ASSERT_TRUE(created);
  EXPECT_EQ(created->syncStatus(), KSSyncStatusNotSynced);
  EXPECT_EQ(created->name(), "Beacon site");
  EXPECT_EQ(b1->site(), restored);
  EXPECT_EQ(b2->site(), created);
  EXPECT_EQ(b3->site(), created);
  EXPECT_EQ(inS1->site(), s1);
  EXPECT_EQ(skipped->site(), nullptr);
  EXPECT_EQ(manager->cachedSiteWithSiteID("OTHER"), nullptr);
  EXPECT_EQ(posted, (std::vector<std::string>{"KSSiteManagerNotificationDidCacheSite ST",
                                              "KSSiteManagerNotificationDidCacheSite NEW"}));
  // Each siteID is asked for once: the restored one, the new one, and the unsynced cached one.
  EXPECT_EQ(sync->requests, (std::vector<std::string>{"site ST", "site NEW", "site S1"}));
}

TEST_F(SiteManagerTest, SyncResults) {
  auto restored = cached("R", KSSyncStatusRestored);
  auto s2 = site("S2");
  s2->setModifiedAt(Date::fromUnixSeconds(500));
  auto s3 = site("S3");
  s3->setModifiedAt(Date::fromUnixSeconds(900));
  KSSiteSyncResult ok;
  ok.httpStatusCode = 200;
  ok.includeLatestForApp = true;
  ok.sites = {s2, s3, site("R")};
  manager->cacheSitesFromSyncResult(ok);
  EXPECT_EQ(drained(), (std::vector<std::string>{"cache S2,S3", "sync S2,S3,R"}));
  EXPECT_EQ(*store->log, (std::vector<std::string>{"store S2", "store S3", "store R", "save"}));
  EXPECT_EQ(manager->lastCacheRefreshForAllSitesForApp(), scheduler->clock()->now());
  EXPECT_EQ(manager->latestCachedSiteModifiedAtForApp(), Date::fromUnixSeconds(900));

  for (std::int64_t code : {400, 401, 403, 404, 500, 503, 302, 429}) {
    SCOPED_TRACE(code);
    const bool marks = code != 302 && code != 429;
    auto s = cached("C", KSSyncStatusSynced);
    s->setSyncedAt(std::nullopt);
    KSSiteSyncResult failed;
    failed.httpStatusCode = code;
    failed.siteID = "C";
    manager->cacheSitesFromSyncResult(failed);
    EXPECT_EQ(s->syncStatus(), marks ? KSSyncStatusUnauthorized : KSSyncStatusSynced);
    EXPECT_EQ(s->syncedAt().has_value(), marks);
    EXPECT_TRUE(store->log->empty());
  }

  // A restored site turning unauthorized is rewritten.
  restored = cached("R", KSSyncStatusRestored);
  KSSiteSyncResult notFound;
  notFound.httpStatusCode = 404;
  notFound.siteID = "R";
  manager->cacheSitesFromSyncResult(notFound);
  EXPECT_EQ(*store->log, (std::vector<std::string>{"store R"}));
  EXPECT_EQ(store->rows["R"]->syncStatus(), KSSyncStatusUnauthorized);
}

TEST_F(SiteManagerTest, WhenToFetchASite) {
  struct Case {
    bool cacheAll;
    bool appRefreshDone;
    bool expired;
    bool nearby;
    std::vector<std::string> requests;
  };
  const std::vector<Case> cases = {
      {false, false, false, true, {}},
      {false, false, true, true, {"site S1"}},
      {false, false, true, false, {"site S1"}},
      {true, false, false, true, {"all"}},  // no app-wide refresh yet: it has expired
      {true, false, true, false, {"all"}},
      {true, true, true, false, {}},
      {true, true, true, true, {"site S1"}},
      {true, true, false, true, {}},
      {false, true, true, false, {}},  // a done app-wide refresh turns the app-wide rule on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.cacheAll << c.appRefreshDone << c.expired << c.nearby);
    cacheAllForApp = c.cacheAll;
    discoverNearby = c.nearby;
    manager->clearLastRefreshedSiteCacheForApp();
    if (c.appRefreshDone) manager->updateLastRefreshedSiteCacheForApp();
    auto s = cached("S1");
    if (c.expired) s->setSyncedAt(scheduler->clock()->now().addingTimeInterval(-3601));
    manager->syncSite(s);
    EXPECT_EQ(sync->requests, c.requests);
  }
}

TEST_F(SiteManagerTest, ExpiryAtTheRefreshInterval) {
  auto s = cached("S1");
  const auto now = scheduler->clock()->now();
  s->setSyncedAt(now.addingTimeInterval(-3600));
  EXPECT_FALSE(manager->hasCacheExpiredForSiteWithID("S1"));
  s->setSyncedAt(now.addingTimeInterval(-3601));
  EXPECT_TRUE(manager->hasCacheExpiredForSiteWithID("S1"));
  s->setSyncedAt(now.addingTimeInterval(3601));  // the age is taken either way
  EXPECT_TRUE(manager->hasCacheExpiredForSiteWithID("S1"));
  s->setSyncedAt(now);
  s->setSyncStatus(KSSyncStatusRestored);
  EXPECT_TRUE(manager->hasCacheExpiredForSiteWithID("S1"));
  EXPECT_TRUE(manager->hasCacheExpiredForSiteWithID("missing"));

  EXPECT_TRUE(manager->hasCacheExpiredForSitesForApp());
  manager->updateLastRefreshedSiteCacheForApp();
  scheduler->advanceBy(3600);
  EXPECT_FALSE(manager->hasCacheExpiredForSitesForApp());
  scheduler->advanceBy(1);
  EXPECT_TRUE(manager->hasCacheExpiredForSitesForApp());
}

TEST_F(SiteManagerTest, ForegroundCleanUpDropsSitesOlderThanFiveDays) {
  auto old = cached("OLD"), edge = cached("EDGE"), inside = cached("IN"), bare = cached("BARE");
  pass({beaconIn("IN")});
  pass({beaconIn("OLD")});
  pass({});
  scheduler->advanceBy(10);
  pass({beaconIn("IN")});  // OLD has been exited; IN is still inside
  const auto now = scheduler->clock()->now();
  old->setCachedAt(now.addingTimeInterval(-432001));
  inside->setCachedAt(now.addingTimeInterval(-432001));
  edge->setCachedAt(now.addingTimeInterval(-432000));
  bare->setCachedAt(std::nullopt);
  manager->updateLastRefreshedSiteCacheForApp();
  posted.clear();

  center->post(std::string(platform::app::kDidBecomeActiveNotification));
  EXPECT_EQ(idsOf(manager->allCachedSites()), "EDGE");
  EXPECT_EQ(posted, (std::vector<std::string>{"KSSiteManagerNotificationDidRemoveCachedSite BARE",
                                              "KSSiteManagerNotificationDidRemoveCachedSite IN",
                                              "KSSiteManagerNotificationDidRemoveCachedSite OLD"}));
  EXPECT_EQ(manager->existingSiteActivityMonitorForSiteID("OLD"), nullptr);
  EXPECT_NE(manager->existingSiteActivityMonitorForSiteID("IN"), nullptr);  // inside: kept
  EXPECT_FALSE(manager->lastCacheRefreshForAllSitesForApp());  // a removal clears the app-wide dates
  EXPECT_TRUE(sync->requests.empty());

  cacheAllForApp = true;
  center->post(std::string(platform::app::kDidBecomeActiveNotification));
  EXPECT_EQ(sync->requests, (std::vector<std::string>{"all"}));
}

TEST_F(SiteManagerTest, StopOfDiscoveryForgetsEverythingBeforeTellingSubscribers) {
  cached("S1");
  pass({beaconIn("S1")});
  manager->updateLastRefreshedSiteCacheForApp();
  drained();
  struct Probe : KSSiteManagerInternalDelegate {
    void siteManagerDidRemoveAllActivityMonitors() override {
      sitesLeft = manager->allCachedSites().size();
      recordLeft = manager->existingSiteActivityMonitorForSiteID("S1") != nullptr;
      dateLeft = manager->lastCacheRefreshForAllSitesForApp().has_value();
    }
    std::shared_ptr<KSSiteManagerInternal> manager;
    std::size_t sitesLeft = 99;
    bool recordLeft = true, dateLeft = true;
  };
  auto probe = std::make_shared<Probe>();
  probe->manager = manager;
  manager->addDelegate(probe);
  manager->beaconManagerInternalDidStopDiscoveringBeacons(nullptr);
  EXPECT_EQ(drained(), (std::vector<std::string>{"removeAll"}));
  EXPECT_EQ(probe->sitesLeft, 0u);
  EXPECT_FALSE(probe->recordLeft);
  EXPECT_FALSE(probe->dateLeft);
  probe->manager.reset();
}

TEST_F(SiteManagerTest, NearbySitesPutInsideSitesInFront) {
  auto at = [](const std::string& id, double latitude) {
    auto s = site(id);
    s->setAddress(KSAddress::addressWithLatitude(platform::Value(latitude), platform::Value(0.0)));
    return s;
  };
  for (auto s : {at("FAR", 0.02), at("NEAR", 0.01), at("AWAY", 5.0), at("IN1", 3.0), at("IN2", 4.0)}) {
    manager->cacheSite(s, true, false);
  }
  cached("UNSYNCED", KSSyncStatusNotSynced);
  location = platform::location::Location{0.0, 0.0};
  pass({beaconIn("IN1"), beaconIn("UNSYNCED")});
  pass({beaconIn("IN2"), beaconIn("IN1"), beaconIn("UNSYNCED")});

  EXPECT_EQ(idsOf(manager->nearbySitesUsingDistanceFilter(3218.69)), "IN2,IN1,NEAR,FAR");
  location.reset();
  EXPECT_EQ(idsOf(manager->nearbySitesUsingDistanceFilter(3218.69)), "IN2,IN1");
}

TEST_F(SiteManagerTest, StateRequestAnswersOnTheMainQueue) {
  auto s = cached("S1");
  manager->requestStateForSite(s);
  EXPECT_EQ(drained(), (std::vector<std::string>{"state 0 S1"}));
  pass({beaconIn("S1")});
  drained();
  manager->requestStateForSite(s);
  EXPECT_EQ(drained(), (std::vector<std::string>{"state 1 S1"}));
  manager->removeDelegate(subscriber.get());
  manager->requestStateForSite(s);
  EXPECT_TRUE(drained().empty());
}

}  // namespace
}  // namespace velmora::kestrine
