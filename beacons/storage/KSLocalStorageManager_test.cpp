#include "beacons/storage/KSLocalStorageManager.h"

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <set>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSSiteAccessType.h"
#include "beacons/storage/KSEventSummary.h"
#include "testing/StorageTestSupport.h"
#include "platform/app/Application.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "platform/core/Log.h"
#include "testing/FileSizeLimit.h"
#include "testing/SimWorld.h"

#undef major
#undef minor

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::Predicate;
using testing::StorageFixture;

const Date T0 = Date::fromUnixMicros(1'750'000'000'000'000);
Date at(double seconds) { return T0.addingTimeInterval(seconds); }

std::shared_ptr<KSCustomValue> customValue(const char* id, const char* key, const char* value) {
  auto v = std::make_shared<KSCustomValue>();
  v->setCustomValueID(id);
  v->setKey(key);
  v->setValue(value);
  return v;
}

std::shared_ptr<KSCategory> category(const char* id, const char* name,
                                     std::vector<std::shared_ptr<KSCustomValue>> values = {}) {
  auto c = std::make_shared<KSCategory>();
  if (id) c->setCategoryID(id);
  c->setName(name);
  c->setCustomValues(std::move(values));
  return c;
}

std::shared_ptr<KSBeacon> beacon(const char* serial, const char* beaconID = "B-1") {
  auto b = std::make_shared<KSBeacon>();
  if (serial) b->setSerialNumber(serial);
  if (beaconID) b->setBeaconID(beaconID);
  b->setProximityUUIDString("F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  b->setMajor(Value(1));
  b->setMinor(Value(2));
  return b;
}

std::shared_ptr<KSEvent> event(const char* id) {
  auto e = std::make_shared<KSEvent>();
  if (id) e->setEventID(id);
  return e;
}

class KSLocalStorageManagerTest : public ::testing::Test {
 protected:
  StorageFixture s;
  KSLocalStorageManager& m = s.manager();
};

// --- storage off ----------------------------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, StorageOffDoesNothingAndAnswersAtOnce) {
  s.setEnabled(false);
  EXPECT_FALSE(m.mainContext());
  m.storeBeacon(beacon("S1"));
  m.storeEvent(event("e1"));
  m.saveContext();
  std::optional<std::size_t> fetched;
  std::optional<std::uint64_t> counted;
  m.fetchRecordsForEntitiesNamed("KSBeacon", std::nullopt, std::nullopt, [&](auto rows) { fetched = rows.size(); }, {});
  m.countRecordsForEntitiesNamed("KSBeacon", std::nullopt, [&](std::uint64_t n) { counted = n; }, {});
  EXPECT_EQ(fetched, 0u) << "fetch answers before it returns";
  EXPECT_EQ(counted, 0u) << "count answers before it returns";
  EXPECT_FALSE(m.fetchBeaconForSerialNumber("S1"));
  EXPECT_FALSE(m.managedBeaconVisitForSerialNumber("S1"));

  // Switched on again, the same store is there and nothing was written while off.
  s.setEnabled(true);
  s.drain();
  EXPECT_EQ(s.count("KSBeacon"), 0);
  EXPECT_EQ(s.count("KSEvent"), 0);
  counted.reset();
  m.countRecordsForEntitiesNamed("KSBeacon", std::nullopt, [&](std::uint64_t n) { counted = n; }, {});
  EXPECT_FALSE(counted) << "with storage on the count comes later, on the main queue";
  s.drain();
  EXPECT_EQ(counted, 0u);
}

// --- upserts ------------------------------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, BeaconUpsertsBySerialNumberAndLinksRegions) {
  m.storeBeacon(beacon(nullptr));
  s.drain();
  EXPECT_EQ(s.count("KSBeacon"), 0) << "no serial number, no row";

  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier("R1");
  region->setMajor(65535);
  auto first = beacon("S1", "B1");
  first->setBeaconRegion(region);
  auto second = beacon("S2", "B2");
  second->setBeaconRegion(region);
  m.storeBeacon(first);
  m.storeBeacon(second);
  first->setName("renamed");
  m.storeBeacon(first);
  s.drain();

  ASSERT_EQ(s.count("KSBeacon"), 2) << "the same beacon twice leaves one row";
  ASSERT_EQ(s.count("KSBeaconRegion"), 1) << "both beacons share the region's one row";
  const auto rows = s.rows("KSBeacon");
  EXPECT_EQ(rows[0]["name"], Value("renamed"));
  EXPECT_EQ(rows[0]["beaconRegion"], rows[1]["beaconRegion"]);
  EXPECT_EQ(s.rows("KSBeaconRegion")[0]["major"], Value(65535));

  // An existing region row is never changed by storing the region again.
  auto changed = std::make_shared<KSBeaconRegion>();
  changed->setIdentifier("R1");
  changed->setName("other");
  m.storeBeaconRegion(changed);
  s.drain();
  ASSERT_EQ(s.count("KSBeaconRegion"), 1);
  EXPECT_TRUE(s.rows("KSBeaconRegion")[0]["name"].isAbsent());
}

TEST_F(KSLocalStorageManagerTest, EventsInsertEveryTimeAndOnlyTheFirstIsMarkedPosted) {
  m.storeEvent(event(nullptr));
  m.storeEvent(event("e1"));
  m.storeEvent(event("e1"));
  m.updateEvent("e1", at(5));
  m.updateEvent("missing", at(5));
  s.drain();
  const auto rows = s.rows("KSEvent");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["lastPostedAt"], Value(at(5))) << "the oldest insert is the first row";
  EXPECT_TRUE(rows[1]["lastPostedAt"].isAbsent());
}

// The host changes its records after handing them over, before the store's queue writes
// them: what is stored is the record as it was at the call.
TEST_F(KSLocalStorageManagerTest, StoreTakesTheRecordAsItWasAtTheCall) {
  auto b = beacon("S1", "B1");
  b->setName("at the call");
  b->setCategories(std::vector<std::shared_ptr<KSCategory>>{category("c1", "Entry")});
  auto e = event("e1");
  e->setEventName("at the call");
  m.storeBeacon(b);
  m.storeEvent(e);
  b->setName("later");
  b->setMinor(Value(9));
  b->categories()->front()->setName("later");
  e->setEventName("later");
  s.drain();

  const auto beacons = s.rows("KSBeacon");
  ASSERT_EQ(beacons.size(), 1u);
  EXPECT_EQ(beacons[0]["name"], Value("at the call"));
  EXPECT_EQ(beacons[0]["minor"], Value(2));
  EXPECT_EQ(beacons[0]["iBeaconKey"], Value("F7826DA6-4FA2-4E98-8024-BC5B71E0893E:1:2"));
  const auto categories = s.rows("KSBeaconCategory");
  ASSERT_EQ(categories.size(), 1u);
  EXPECT_EQ(categories[0]["name"], Value("Entry"));
  const auto events = s.rows("KSEvent");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["eventName"], Value("at the call"));
}

TEST_F(KSLocalStorageManagerTest, EventSummariesUpsertByIdentifier) {
  auto summary = std::make_shared<KSEventSummary>();
  summary->setEventIdentifier("enter");
  summary->setEventName("Enter");
  summary->setTriggeredCount(1);
  summary->setFirstTriggeredAt(at(1));
  m.storeEventSummary(summary);
  summary->setTriggeredCount(5'000'000'000);
  summary->setLastTriggeredAt(at(9));
  m.storeEventSummary(summary);
  auto nameless = std::make_shared<KSEventSummary>();
  m.storeEventSummary(nameless);
  s.drain();
  EXPECT_EQ(s.count("KSEventSummary"), 1) << "a summary without an identifier makes no row";
  auto stored = m.eventSummaryForIdentifier("enter");
  ASSERT_TRUE(stored);
  summary->setTriggeredCount(5'000'000'000);
  EXPECT_EQ(*stored, *summary);
  EXPECT_FALSE(m.eventSummaryForIdentifier("other"));
}

// --- lookups and the sync-status filter ------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, UnauthorisedRowsAreHiddenFromLookupsButUpdatedByStoreBeacon) {
  struct Case {
    const char* serial;
    Value status;
    bool found;
  };
  const std::vector<Case> cases = {{"S0", Value(0), true}, {"S1", Value(1), false}, {"S2", Value(2), true},
                                   {"S3", Value(3), true}, {"SN", Value(), true}};
  int n = 0;
  for (const auto& c : cases) {
    const std::string i = std::to_string(n++);
    s.insert("KSBeacon", {{"beaconID", Value("B" + i)}, {"serialNumber", Value(c.serial)},
                          {"iBeaconKey", Value("K" + i)}, {"bluetoothAddress", Value("A" + i)},
                          {"eddystoneUIDString", Value("EDD1EBEAC04E5DEFA017" + std::string("0000000000") + "0" + i)},
                          {"syncStatus", c.status}});
  }
  n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.serial);
    const std::string i = std::to_string(n++);
    EXPECT_EQ(m.fetchBeaconForSerialNumber(c.serial) != nullptr, c.found);
    EXPECT_EQ(m.fetchBeaconForIBeaconKey("K" + i) != nullptr, c.found);
    EXPECT_EQ(m.fetchBeaconForBluetoothAddress("A" + i) != nullptr, c.found);
    EXPECT_EQ(m.fetchBeaconForEddystoneUIDString("EDD1EBEAC04E5DEFA0170000000000" + std::string("0") + i) != nullptr,
              c.found);
  }
  // storeBeacon matches the hidden row and updates it instead of adding another.
  auto update = beacon("S1", "B1");
  update->setName("seen again");
  update->setSyncStatus(1);
  m.storeBeacon(update);
  s.drain();
  EXPECT_EQ(s.count("KSBeacon", Predicate::eq("serialNumber", "S1")), 1);
  EXPECT_EQ(s.rows("KSBeacon", Predicate::eq("serialNumber", "S1"))[0]["name"], Value("seen again"));
}

TEST_F(KSLocalStorageManagerTest, FirstRowIsTheOldestInsertAndABadEddystoneUIDReadsAsNothing) {
  s.insert("KSBeacon", {{"beaconID", Value("old")}, {"iBeaconKey", Value("K")}});
  s.insert("KSBeacon", {{"beaconID", Value("new")}, {"iBeaconKey", Value("K")}});
  auto found = m.fetchBeaconForIBeaconKey("K");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->beaconID(), "old");

  s.insert("KSBeacon", {{"beaconID", Value("bad")}, {"serialNumber", Value("BAD")}, {"eddystoneUIDString", Value("xyz")}});
  EXPECT_FALSE(m.fetchBeaconForSerialNumber("BAD"));
}

TEST_F(KSLocalStorageManagerTest, SitesUpsertAndLookUp) {
  auto site = std::make_shared<KSSite>();
  site->setSiteID("site-1");
  site->setName("Garage");
  m.storeSite(site);
  auto empty = std::make_shared<KSSite>();
  empty->setSiteID("");
  m.storeSite(empty);
  site->setName("Garage North");
  m.storeSite(site);
  s.drain();
  EXPECT_EQ(s.count("KSSite"), 1);
  auto stored = m.fetchSiteForSiteID("site-1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name(), "Garage North");
  EXPECT_FALSE(m.fetchSiteForSiteID("site-2"));
}

// A site row keeps the whole record across a restart: access type, team, sync date and its
// custom values; a later record without an access type leaves the stored one, and a custom
// value it no longer has is unlinked from the site but stays in the store.
TEST_F(KSLocalStorageManagerTest, SiteRowsKeepTheWholeRecordAcrossAReopen) {
  const Date synced = Date::fromUnixMicros(1'700'000'000'123'456);
  const auto customValue = [](std::string id, std::string key, std::string value) {
    auto v = std::make_shared<KSCustomValue>();
    v->setCustomValueID(std::move(id));
    v->setKey(std::move(key));
    v->setValue(std::move(value));
    return v;
  };
  auto site = std::make_shared<KSSite>();
  site->setSiteID("site-1");
  site->setName("Garage");
  site->setTeamID("team-9");
  auto access = std::make_shared<KSSiteAccessType>();
  access->setSiteAccessTypeID(2);
  access->setName("private");
  access->setDisplayName("Private");
  site->setSiteAccessType(access);
  site->setSyncedAt(synced);
  site->setSyncStatus(KSSyncStatusSynced);
  site->setCustomValues(KSSite::CustomValues{customValue("cv1", "floor", "2"), customValue("cv2", "zone", "A")});
  m.storeSite(site);
  s.save();
  s.reopen();
  KSLocalStorageManager& reopened = s.manager();

  auto stored = reopened.fetchSiteForSiteID("site-1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name(), "Garage");
  EXPECT_EQ(stored->teamID(), "team-9");
  EXPECT_EQ(stored->syncedAt(), synced);
  EXPECT_EQ(stored->syncStatus(), KSSyncStatusRestored);
  ASSERT_TRUE(stored->siteAccessType());
  EXPECT_EQ(stored->siteAccessType()->siteAccessTypeID(), 2);
  EXPECT_EQ(stored->siteAccessType()->name(), "private");
  EXPECT_EQ(stored->siteAccessType()->displayName(), "Private");
  EXPECT_EQ(stored->customValueForKey(), (KSSite::CustomValueMap{{"floor", "2"}, {"zone", "A"}}));

  auto update = std::make_shared<KSSite>();
  update->setSiteID("site-1");
  update->setName("Garage North");
  update->setCustomValues(KSSite::CustomValues{customValue("cv1", "floor", "3")});
  reopened.storeSite(update);
  s.save();
  stored = reopened.fetchSiteForSiteID("site-1");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->name(), "Garage North");
  EXPECT_EQ(stored->teamID(), std::nullopt);
  ASSERT_TRUE(stored->siteAccessType());
  EXPECT_EQ(stored->siteAccessType()->siteAccessTypeID(), 2);
  EXPECT_EQ(stored->customValueForKey(), (KSSite::CustomValueMap{{"floor", "3"}}));
  EXPECT_EQ(s.count("KSCustomValue"), 2);
  EXPECT_EQ(s.count("KSSite"), 1);
}

// --- visit rows ---------------------------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, VisitRowsAreBoundToTheirBeaconAndRegion) {
  m.storeBeacon(beacon("S1", "B1"));
  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier("R1");
  m.storeBeaconRegion(region);
  s.drain();

  auto visit = m.managedBeaconVisitForSerialNumber("S1");
  ASSERT_TRUE(visit);
  ASSERT_TRUE(visit->managedBeaconVisit());
  visit->setBeganAt(at(1));
  auto plain = m.managedBeaconVisitForSerialNumber("unknown");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->managedBeaconVisit());
  EXPECT_FALSE(m.managedBeaconVisitForSerialNumber(""));

  auto regionVisit = m.managedBeaconRegionVisitForIdentifier("R1");
  ASSERT_TRUE(regionVisit);
  EXPECT_EQ(regionVisit->beaconRegionIdentifier(), "R1");
  EXPECT_FALSE(m.managedBeaconRegionVisitForIdentifier("R2"));

  const auto visits = s.rows("KSBeaconVisit");
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0]["beganAt"], Value(at(1))) << "the bound visit writes through at once";
  EXPECT_EQ(visits[0]["beacon"], s.rows("KSBeacon")[0].id.pk);
  EXPECT_EQ(s.count("KSBeaconRegionVisit"), 1);

  // Deleting the beacon takes its visit rows along; the bound visit's writes are then skipped.
  m.deleteManagedBeacon(beacon("S1", "B1"));
  s.drain();
  EXPECT_FALSE(visit->managedBeaconVisit()->hasContext());
  visit->setEndedAt(at(2));
  EXPECT_EQ(visit->endedAt(), at(2));
  EXPECT_EQ(s.count("KSBeaconVisit"), 0);
}

// A visit kept after its row went (rolled back with a failed save, or deleted with its
// beacon) writes nowhere: not into the row of the next visit, which may be another beacon's.
TEST(KSLocalStorageManagerVisitTest, AVisitWhoseRowIsGoneNeverWritesIntoAnotherVisitsRow) {
  struct Case {
    const char* name;
    std::function<void(StorageFixture&)> loseTheRow;
  } cases[] = {
      {"the save failed on a full disk",
       [](StorageFixture& s) {
         velmora::testing::FileSizeLimit full(1);
         s.save();
       }},
      {"the save failed validation",
       [](StorageFixture& s) {
         // A write through a row handle that clears a required beacon ID dooms the unit of work.
         std::shared_ptr<KSStoredRow> row;
         s.manager().fetchRecordsForEntitiesNamed("KSBeacon", std::nullopt, std::nullopt,
                                                  [&](auto rows) { row = rows.at(1); }, {});
         s.drain();
         ASSERT_TRUE(row);
         row->setValueForKey(Value(), "beaconID");
         s.save();
       }},
      {"its beacon was deleted",
       [](StorageFixture& s) {
         s.save();
         s.manager().deleteManagedBeacon(beacon("S1", "B1"));
         s.drain();
       }},
  };
  for (const auto& k : cases) {
    StorageFixture s;
    KSLocalStorageManager& m = s.manager();
    m.storeBeacon(beacon("S1", "B1"));
    m.storeBeacon(beacon("S2", "B2"));
    s.save();
    auto old = m.managedBeaconVisitForSerialNumber("S1");
    ASSERT_TRUE(old && old->managedBeaconVisit()) << k.name;
    old->setSerialNumber("S1");
    k.loseTheRow(s);
    EXPECT_FALSE(old->managedBeaconVisit()->hasContext()) << k.name;

    auto fresh = m.managedBeaconVisitForSerialNumber("S2");
    ASSERT_TRUE(fresh && fresh->managedBeaconVisit()) << k.name;
    fresh->setSerialNumber("S2");
    fresh->setRssiWhenVisitBegan(Value(-60));
    // The old visit ends late, as a ranger that still holds it would end it.
    old->setSerialNumber("S1 late");
    old->setRssiWhenVisitEnded(Value(-90));
    old->setEndedAt(at(5));
    EXPECT_EQ(old->endedAt(), at(5)) << k.name << ": the record itself keeps its values";
    s.save();

    SQLite::Database db((s.dir().path() / "KestrineSDKModel.sqlite").string(), SQLite::OPEN_READONLY);
    SQLite::Statement st(db,
                         "SELECT v.serialNumber, v.rssiWhenVisitBegan, v.rssiWhenVisitEnded, v.endedAt, b.serialNumber "
                         "FROM KSBeaconVisit v LEFT JOIN KSBeacon b ON b.id = v.beacon");
    ASSERT_TRUE(st.executeStep()) << k.name;
    EXPECT_EQ(st.getColumn(0).getString(), "S2") << k.name;
    EXPECT_EQ(st.getColumn(1).getInt(), -60) << k.name;
    EXPECT_TRUE(st.getColumn(2).isNull()) << k.name;
    EXPECT_TRUE(st.getColumn(3).isNull()) << k.name;
    EXPECT_EQ(st.getColumn(4).getString(), "S2") << k.name;
    EXPECT_FALSE(st.executeStep()) << k.name << ": one visit row";
  }
}

// One storage manager owns the store file at a time: a second one over the same folder (a
// second registry, another process) has no store, says so once, and writes nothing, instead
// of having its upserts lost to the first one's open unit of work.
TEST(KSLocalStorageManagerOwnerTest, ASecondManagerOnTheSameFileHasNoStoreAndTheFirstKeepsWorking) {
  StorageFixture first;
  first.manager().storeBeacon(beacon("S1", "B1"));
  first.drain();  // its unit of work is open

  auto provider = std::make_shared<KSManagedObjectContextProvider>(first.dir().path(), first.scheduler());
  KSLocalStorageManager::Environment env;
  env.provider = provider;
  env.scheduler = first.scheduler();
  auto second = KSLocalStorageManager::create(std::move(env));
  {
    platform::LogCapture log;
    EXPECT_FALSE(second->mainContext());
    second->storeBeacon(beacon("S2", "B2"));
    second->saveContext();
    EXPECT_EQ(log.count("local storage is off"), 1u);
    EXPECT_GE(log.count("in use by another store"), 1u);
  }
  first.drain();
  first.save();
  std::set<std::string> serials;
  for (const auto& row : first.rows("KSBeacon")) serials.insert(*row["serialNumber"].string());
  EXPECT_EQ(serials, (std::set<std::string>{"S1"}));
}

// --- purges ---------------------------------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, VisitPurgeDeletesOldPostedVisitsThenKeepsTheNewestPostedOnes) {
  s.withContext([&](platform::store::StoreContext& c) {
    for (int i = 0; i < 2005; ++i) {
      c.insert("KSBeaconVisit", {{"beaconVisitID", Value(std::to_string(i))}, {"beganAt", Value(at(100 + i))},
                                 {"endedAt", Value(at(200 + i))}, {"lastPostedAt", Value(at(300 + i))}});
    }
    // Posted exactly at their end: before the date, deleted; after it, neither counted nor trimmed.
    c.insert("KSBeaconVisit", {{"beaconVisitID", Value("eq-old")}, {"beganAt", Value(at(0))},
                               {"endedAt", Value(at(1))}, {"lastPostedAt", Value(at(1))}});
    c.insert("KSBeaconVisit", {{"beaconVisitID", Value("eq-new")}, {"beganAt", Value(at(50))},
                               {"endedAt", Value(at(60))}, {"lastPostedAt", Value(at(60))}});
    // Old but open or unposted: kept.
    c.insert("KSBeaconVisit", {{"beaconVisitID", Value("open")}, {"beganAt", Value(at(0))}});
    c.insert("KSBeaconVisit", {{"beaconVisitID", Value("unposted")}, {"beganAt", Value(at(0))}, {"endedAt", Value(at(1))}});
    c.save();
  });
  m.deleteManagedBeaconVisitsFromObjectGraphThatBeganBeforeDate(at(10), 2000);
  s.drain();
  std::set<std::string> left;
  for (const auto& r : s.rows("KSBeaconVisit")) left.insert(*r["beaconVisitID"].string());
  EXPECT_EQ(left.size(), 2000u + 3u);
  for (const char* gone : {"0", "1", "2", "3", "4", "eq-old"}) EXPECT_FALSE(left.count(gone)) << gone;
  for (const char* kept : {"5", "2004", "eq-new", "open", "unposted"}) EXPECT_TRUE(left.count(kept)) << kept;
}

TEST_F(KSLocalStorageManagerTest, EventPurgeCountsAllEventsButTrimsOnlyEndedPostedOnes) {
  s.withContext([&](platform::store::StoreContext& c) {
    for (int i = 0; i < 2500; ++i) {
      Dict d{{"eventID", Value(std::to_string(i))}, {"beganAt", Value(at(100 + i))}};
      if (i < 1500) {
        d["endedAt"] = Value(at(200 + i));
        d["lastPostedAt"] = Value(at(300 + i));
      }
      c.insert("KSEvent", d);
    }
    c.insert("KSEvent", {{"eventID", Value("old")}, {"beganAt", Value(at(0))}, {"endedAt", Value(at(1))},
                         {"lastPostedAt", Value(at(1))}});
    c.save();
  });
  m.deleteManagedEventsFromObjectGraphThatBeganBeforeDate(at(10), 2000);
  s.drain();
  EXPECT_EQ(s.count("KSEvent"), 2500) << "only the old posted event goes; 1500 posted ones are under the limit";

  m.deleteManagedEventsFromObjectGraphThatBeganBeforeDate(at(10), 1000);
  s.drain();
  EXPECT_EQ(s.count("KSEvent"), 2000) << "the 1000 newest posted events stay, unposted ones all stay";
  EXPECT_EQ(s.count("KSEvent", Predicate::eq("eventID", "499")), 0);
  EXPECT_EQ(s.count("KSEvent", Predicate::eq("eventID", "500")), 1);
}

TEST_F(KSLocalStorageManagerTest, DeletingABeaconDeletesEveryRowOfItsIDWithWhatItOwns) {
  auto b = beacon("S1", "B1");
  b->setCategories(std::vector{category("C1", "Food", {customValue("v1", "k", "v")})});
  m.storeBeacon(b);
  m.storeBeacon(beacon("S2", "B1"));
  m.storeBeacon(beacon("S3", "B3"));
  s.drain();
  m.managedBeaconVisitForSerialNumber("S1");
  m.deleteManagedBeacon(b);
  s.drain();
  EXPECT_EQ(s.count("KSBeacon"), 1);
  EXPECT_EQ(s.count("KSBeaconCategory"), 0);
  EXPECT_EQ(s.count("KSCustomValue"), 0);
  EXPECT_EQ(s.count("KSBeaconVisit"), 0);
  s.reopen();
  EXPECT_EQ(s.count("KSBeacon"), 1) << "the delete was saved";
}

// --- saves ----------------------------------------------------------------------------------

TEST_F(KSLocalStorageManagerTest, WritesWaitForASaveAndLifecycleNotificationsSave) {
  m.storeBeacon(beacon("S1", "B1"));
  s.reopen();
  EXPECT_EQ(s.count("KSBeacon"), 0) << "an upsert without a save is lost at a restart";

  s.manager().storeBeacon(beacon("S1", "B1"));
  s.drain();
  s.center().post(std::string(platform::app::kDidEnterBackgroundNotification),
                  std::shared_ptr<void>(const_cast<void*>(s.application()), [](void*) {}));
  s.reopen();
  EXPECT_EQ(s.count("KSBeacon"), 1);

  s.manager().storeEvent(event("e1"));
  s.drain();
  s.center().post(std::string(platform::app::kWillTerminateNotification),
                  std::shared_ptr<void>(const_cast<void*>(s.application()), [](void*) {}));
  s.reopen();
  EXPECT_EQ(s.count("KSEvent"), 1);
}

TEST_F(KSLocalStorageManagerTest, AFailedSaveIsLoggedAndRolledBackSoLaterSavesWork) {
  m.storeBeacon(beacon("S1", "B1"));
  s.save();
  // A write through a row handle that clears the required beacon ID dooms its unit of work.
  std::shared_ptr<KSStoredRow> row;
  m.fetchRecordsForEntitiesNamed("KSBeacon", std::nullopt, std::nullopt, [&](auto rows) { row = rows.at(0); }, {});
  s.drain();
  ASSERT_TRUE(row);
  row->setValueForKey(Value(), "beaconID");
  m.storeEvent(event("lost with it"));
  s.drain();
  {
    platform::LogCapture log;
    s.save();
    bool logged = false;
    for (const auto& line : log.lines()) logged = logged || line.level == platform::LogLevel::Error;
    EXPECT_TRUE(logged);
  }
  EXPECT_EQ(s.rows("KSBeacon")[0]["beaconID"], Value("B1")) << "rolled back";
  EXPECT_EQ(s.count("KSEvent"), 0);

  m.storeEvent(event("e2"));
  s.save();
  s.reopen();
  EXPECT_EQ(s.count("KSEvent"), 1) << "the next unit of work saves";
}


// --- the registry's manager -------------------------------------------------------------------

TEST(KSLocalStorageManagerSharedTest, TheRegistrysManagerIsTheStorePortInTheAppsDocumentsAndFollowsTheOption) {
  velmora::testing::SimWorld world;
  auto registry = KSInstanceProvider::create(world.bundle());
  auto manager = KSLocalStorageManager::sharedManager(*registry);
  ASSERT_TRUE(manager);
  EXPECT_EQ(KSLocalStorageManager::sharedManager(*registry), manager);
  EXPECT_EQ(KSLocalStoragePort::shared(), manager);
  ASSERT_TRUE(manager->mainContext());
  EXPECT_EQ(manager->mainContext()->file(), world.documents.path() / "KestrineSDKModel.sqlite");

  world.app->perform(platform::sim::SimApp::Step::LaunchForeground);
  manager->storeBeacon(beacon("S1", "B1"));
  world.app->perform(platform::sim::SimApp::Step::EnterBackground);
  world.runUntilIdle();
  {
    // What a restart would find: the background transition saved the upsert.
    SQLite::Database db((world.documents.path() / "KestrineSDKModel.sqlite").string(), SQLite::OPEN_READONLY);
    EXPECT_EQ(db.execAndGet("SELECT count(*) FROM KSBeacon").getInt(), 1);
  }

  auto configurator = registry->singleton<KSConfigurator>(
      KSConfigurator::kSingletonName, [](KSInstanceProvider& p) { return KSConfigurator::create(p.weak_from_this(), {}); });
  ASSERT_TRUE(configurator);
  configurator->setUserOptions(Dict{{std::string(KSOptionUseLocalStorage), Value(false)}});
  EXPECT_FALSE(manager->localStorageEnabled());
  EXPECT_FALSE(manager->mainContext());
  configurator->setUserOptions(Dict{{std::string(KSOptionUseLocalStorage), Value(true)}});
  EXPECT_TRUE(manager->mainContext()) << "the kept store is found again";
  KSLocalStoragePort::setShared(nullptr);
  // The registry's objects go first; what they had queued then runs to nothing.
  configurator.reset();
  manager.reset();
  registry.reset();
  world.runUntilIdle();
}

}  // namespace
}  // namespace velmora::kestrine
