#include "beacons/microlocation/KSSiteStorageAdapter.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSSite.h"
#include "beacons/ranging/KSSessionManager.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/StorageTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::Predicate;

// The site manager and the visit tracker on a real store file: what they write is read back
// from the rows after the save, and what they read comes from rows seeded in the file.
class SiteStorageTest : public ::testing::Test {
 protected:
  SiteStorageTest() {
    seedBeacon("SN-1", "b-1");
    seedBeacon("SN-2", "b-2");
    storage.save();
  }

  void seedBeacon(const std::string& serial, const std::string& id) {
    auto b = std::make_shared<KSBeacon>();
    b->setSerialNumber(serial);
    b->setBeaconID(id);
    storage.manager().storeBeacon(b);
  }
  std::shared_ptr<KSSiteStorageAdapter> adapter() {
    return std::make_shared<KSSiteStorageAdapter>(storage.managerPtr());
  }
  Date now() const { return scheduler->clock()->now(); }

  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(Date::fromUnixSeconds(1'800'000'000));
  testing::StorageFixture storage{scheduler};
};

// --- sites

struct SiteLog : KSSiteManagerInternalDelegate {
  void siteManagerInternalDidCacheSites(SiteList s) override { add("cache", s); }
  void siteManagerInternalDidRestoreSites(SiteList s) override { add("restore", s); }
  void siteManagerInternalDidSyncSites(SiteList s) override { add("sync", s); }
  void add(const std::string& what, const SiteList& sites) {
    std::string line = what;
    for (const auto& s : sites) line += " " + s->siteID().value_or("");
    log.push_back(line);
  }
  std::vector<std::string> log;
};

struct NoSync : KSSiteSyncRequesting {
  void syncAllSitesForAppModifiedAfter(std::optional<Date>) override {}
  void syncSiteWithSiteID(const std::string& id) override { requests.push_back(id); }
  std::vector<std::string> requests;
};

class SiteManagerStorageTest : public SiteStorageTest {
 protected:
  std::shared_ptr<KSSiteManagerInternal> makeManager() {
    KSSiteManagerInternal::Ports ports;
    ports.scheduler = scheduler;
    auto store = adapter();
    ports.store = [store] { return store; };
    ports.sync = [this] { return sync; };
    auto m = KSSiteManagerInternal::create(ports);
    m->addDelegate(log);
    return m;
  }
  std::shared_ptr<NoSync> sync = std::make_shared<NoSync>();
  std::shared_ptr<SiteLog> log = std::make_shared<SiteLog>();
};

TEST_F(SiteManagerStorageTest, CachedSitesReachTheFileAndComeBackRestored) {
  auto site = std::make_shared<KSSite>();
  site->setSiteID("S1");
  site->setName("Atrium");
  site->setSyncStatus(KSSyncStatusSynced);
  {
    auto manager = makeManager();
    EXPECT_EQ(manager->cacheSite(site, true, true), KSSiteCacheResultCachedAndSynced);
    storage.save();
  }
  auto rows = storage.rows(std::string(KSSiteEntityName), Predicate::eq("siteID", Value("S1")));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values.at("name"), Value("Atrium"));

  // After a restart the file is the only source: a beacon of S1 restores the stored site, a
  // beacon of an unknown site makes a new one from the beacon, an unsynced beacon is skipped.
  storage.reopen();
  log->log.clear();
  auto manager = makeManager();
  auto of = [](const char* siteID, const char* siteName, std::int64_t status) {
    auto b = std::make_shared<KSBeacon>();
    b->setSiteID(std::string(siteID));
    b->setSiteName(std::string(siteName));
    b->setSyncStatus(status);
    return b;
  };
  manager->cacheSitesFromBeacons({of("S1", "old name", KSSyncStatusSynced), of("S1", "old name", KSSyncStatusSynced),
                                  of("S2", "Food court", KSSyncStatusRestored),
                                  of("S3", "Never", KSSyncStatusNotSynced)});
  scheduler->runUntilIdle();
  auto s1 = manager->cachedSiteWithSiteID("S1");
  ASSERT_NE(s1, nullptr);
  EXPECT_EQ(s1->name(), "Atrium");
  EXPECT_EQ(s1->syncStatus(), KSSyncStatusRestored);
  auto s2 = manager->cachedSiteWithSiteID("S2");
  ASSERT_NE(s2, nullptr);
  EXPECT_EQ(s2->name(), "Food court");
  EXPECT_EQ(s2->syncStatus(), KSSyncStatusNotSynced);
  EXPECT_EQ(manager->cachedSiteWithSiteID("S3"), nullptr);
  EXPECT_EQ(log->log, (std::vector<std::string>{"cache S1 S2", "restore S1"}));
}

// --- visits

class VisitStorageTest : public SiteStorageTest {
 protected:
  VisitStorageTest() { makeTracker(); }
  void makeTracker() {
    KSVisitTracker::Ports ports;
    ports.scheduler = scheduler;
    ports.center = center;
    auto store = adapter();
    ports.store = [store] { return store; };
    ports.postBeaconVisit = [this](std::shared_ptr<KSBeaconVisit> v) {
      posted.push_back(v->serialNumber().value_or("?") + (v->endedAt() ? " ended" : " open"));
    };
    ports.deviceIdentifier = [] { return std::string("device"); };
    ports.sessionIdentifier = [] { return std::string("session"); };
    tracker = KSVisitTracker::create(ports);
  }
  void pass(const std::vector<std::tuple<std::string, std::uint64_t, double>>& seen) {
    std::vector<std::shared_ptr<KSBeacon>> list;
    for (const auto& [serial, proximity, accuracy] : seen) {
      auto& b = beacons[serial];
      if (!b) {
        b = std::make_shared<KSBeacon>();
        if (!serial.empty()) b->setSerialNumber(serial);
        b->setRssi(Value(-60));
      }
      b->setProximity(proximity);
      b->setAccuracy(accuracy);
      b->setLastRangedAt(now());
      list.push_back(b);
    }
    tracker->beaconManagerInternalDidRangeKestrineBeaconsForAnalytics(nullptr, list);
    scheduler->runUntilIdle();
    scheduler->advanceBy(1.0);
  }
  std::vector<platform::store::Row> visitRows(const std::string& serial) {
    storage.drain();
    return storage.rows(std::string(KSBeaconVisitEntityName), Predicate::eq("serialNumber", Value(serial)));
  }
  platform::store::ObjectID seedVisit(const std::string& serial, Date began, std::optional<Date> ended,
                                      std::optional<Date> postedAt = std::nullopt) {
    Dict values{{"serialNumber", Value(serial)}, {"beganAt", Value(began)},
                {"lastRangedAt", Value(ended.value_or(began))}, {"beaconVisitID", Value("v-" + serial)}};
    if (ended) values["endedAt"] = Value(*ended);
    if (postedAt) values["lastPostedAt"] = Value(*postedAt);
    return storage.insert(std::string(KSBeaconVisitEntityName), values);
  }

  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<KSVisitTracker> tracker;
  std::map<std::string, std::shared_ptr<KSBeacon>> beacons;
  std::vector<std::string> posted;
};

TEST_F(VisitStorageTest, ClosestProximityDistanceAndEndAreInTheRowsAfterTheSave) {
  pass({{"SN-1", 2, 3.0}, {"", 2, 1.0}, {"SN-9", 2, 1.0}});  // near; no serial; not in the file
  const auto closest = now();
  pass({{"SN-1", 1, 2.5}});  // immediate
  const auto exited = now();
  pass({{"SN-1", 2, 2.5}});  // near again
  pass({{"SN-1", 3, -1.0}});  // far: the exit is already recorded; no estimate
  storage.save();

  auto rows = visitRows("SN-1");
  ASSERT_EQ(rows.size(), 1u);
  const auto& v = rows[0].values;
  EXPECT_EQ(v.at("cProxID").toDouble(), 1.0);
  EXPECT_EQ(v.at("cDist").toDouble(), 2.5);
  EXPECT_EQ(v.at("deviceWasClosestAt"), Value(closest));
  EXPECT_EQ(v.at("exitedCProxAt"), Value(exited));
  EXPECT_TRUE(!v.contains("endedAt") || v.at("endedAt").isNull() || v.at("endedAt").isAbsent());
  EXPECT_EQ(storage.count(std::string(KSBeaconVisitEntityName)), 1);  // SN-9 and the serial-less beacon have none
  EXPECT_EQ(posted, (std::vector<std::string>{"SN-1 open", "SN-9 open"}));

  for (int i = 0; i < 7; ++i) pass({});
  storage.save();
  rows = visitRows("SN-1");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].values.at("endedAt"), Value(now().addingTimeInterval(-1)));  // the seventh miss
}

TEST_F(VisitStorageTest, StartPurgesReloadsAndPostsFromTheFile) {
  const auto t = now();
  const auto earlier = seedVisit("SN-1", t.addingTimeInterval(-300), std::nullopt);
  seedVisit("SN-1", t.addingTimeInterval(-100), std::nullopt);
  seedVisit("SN-2", t.addingTimeInterval(-60), t.addingTimeInterval(-10), t.addingTimeInterval(-5));  // resumable
  const auto hundredMinutes = seedVisit("SN-2", t.addingTimeInterval(-6000), t.addingTimeInterval(-5000));
  seedVisit("SN-2", t.addingTimeInterval(-4 * 86400.0), t.addingTimeInterval(-4 * 86400.0 + 60),
            t.addingTimeInterval(-4 * 86400.0 + 61));                                 // posted, old: purged
  seedVisit("SN-2", t.addingTimeInterval(-2 * 86400.0), t.addingTimeInterval(-2 * 86400.0 + 60),
            t.addingTimeInterval(-2 * 86400.0 + 61));                                 // posted, kept
  storage.save();
  ASSERT_EQ(storage.count(std::string(KSBeaconVisitEntityName)), 6);

  center->post(std::string(KSNotificationDidStartRunning));
  scheduler->runUntilIdle();
  storage.save();

  EXPECT_EQ(storage.count(std::string(KSBeaconVisitEntityName)), 5);
  // The never-posted visit ended 100 minutes ago is posted (the window is the purge date);
  // the earlier duplicate of SN-1 is ended at the later one's beginning, and that is stored.
  EXPECT_EQ(posted, (std::vector<std::string>{"SN-2 ended", "SN-1 ended"}));
  for (const auto& row : visitRows("SN-1")) {
    if (row.id == earlier) {
      EXPECT_EQ(row.values.at("endedAt"), Value(t.addingTimeInterval(-100)));
    }
  }
  auto later = tracker->currentBeaconVisitForSerialNumber("SN-1");
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(later->beganAt(), t.addingTimeInterval(-100));
  EXPECT_TRUE(later->isCurrentlyVisiting());
  auto resumed = tracker->currentBeaconVisitForSerialNumber("SN-2");
  ASSERT_NE(resumed, nullptr);
  EXPECT_FALSE(resumed->isCurrentlyVisiting());
  (void)hundredMinutes;
}

TEST_F(VisitStorageTest, WithStorageOffVisitsAreTrackedButNothingIsWritten) {
  storage.setEnabled(false);
  pass({{"SN-1", 2, 1.0}});
  EXPECT_NE(tracker->currentBeaconVisitForSerialNumber("SN-1"), nullptr);
  center->post(std::string(KSNotificationDidStartRunning));
  scheduler->runUntilIdle();
  storage.setEnabled(true);
  EXPECT_EQ(storage.count(std::string(KSBeaconVisitEntityName)), 0);
}

}  // namespace
}  // namespace velmora::kestrine
