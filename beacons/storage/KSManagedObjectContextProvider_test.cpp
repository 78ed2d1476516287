#include "beacons/storage/KSManagedObjectContextProvider.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "platform/core/Log.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/EnforcedFilePermissions.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using platform::dispatch::VirtualScheduler;
using platform::store::ObjectID;
using platform::store::OpenOutcome;
using platform::store::StoreContext;

std::vector<std::string> columns(SQLite::Database& db, const std::string& table) {
  std::vector<std::string> out;
  SQLite::Statement st(db, "SELECT name, type, \"notnull\" FROM pragma_table_info(?) ORDER BY cid");
  st.bind(1, table);
  while (st.executeStep()) out.push_back(st.getColumn(0).getString() + " " + st.getColumn(1).getString());
  return out;
}

std::vector<std::string> foreignKeys(SQLite::Database& db, const std::string& table) {
  std::vector<std::string> out;
  SQLite::Statement st(db, "SELECT \"from\", \"table\", \"to\", on_delete FROM pragma_foreign_key_list(?) ORDER BY \"from\"");
  st.bind(1, table);
  while (st.executeStep()) {
    out.push_back(st.getColumn(0).getString() + "->" + st.getColumn(1).getString() + "." +
                  st.getColumn(2).getString() + " " + st.getColumn(3).getString());
  }
  return out;
}

std::vector<std::string> indexedColumns(SQLite::Database& db, const std::string& table) {
  std::vector<std::string> out;
  SQLite::Statement st(db,
                       "SELECT ii.name FROM pragma_index_list(?1) il, pragma_index_info(il.name) ii "
                       "WHERE il.origin = 'c' ORDER BY ii.name");
  st.bind(1, table);
  while (st.executeStep()) out.push_back(st.getColumn(0).getString());
  return out;
}

class KSStoreModelTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualScheduler> scheduler = std::make_shared<VirtualScheduler>();
  velmora::testing::TempDir dir;
};

TEST_F(KSStoreModelTest, SchemaHasTheNineTablesWithTheirColumnsIndexesAndForeignKeys) {
  KSManagedObjectContextProvider provider(dir.path() / "Documents", scheduler);
  auto store = provider.store();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->file(), dir.path() / "Documents" / "KestrineSDKModel.sqlite");
  EXPECT_EQ(store->outcome(), OpenOutcome::Created);
  SQLite::Database db(provider.storePath().string(), SQLite::OPEN_READONLY);

  using ::testing::ElementsAre;
  EXPECT_THAT(columns(db, "KSBeacon"),
              ElementsAre("id INTEGER", "beaconID TEXT", "bluetoothAddress TEXT", "iBeaconKey TEXT", "major INT32",
                          "minor INT32", "proximityUUIDString TEXT", "teamID TEXT", "siteID TEXT", "siteName TEXT",
                          "name TEXT", "serialNumber TEXT", "syncedAt DATE", "syncStatus INT16", "mapID TEXT",
                          "mapPointX FLOAT", "mapPointY FLOAT", "featureBitmask INT32", "wireframeURLString TEXT",
                          "eddystoneUIDString TEXT", "measuredPowerAt1Meter INT16", "networkAccessOwnershipID INT16",
                          "networkAccessPermittedRoleIDs TEXT", "networkAccessBeginsAt DATE",
                          "networkAccessEndsAt DATE", "beaconRegion INTEGER"));
  EXPECT_THAT(columns(db, "KSBeaconCategory"),
              ElementsAre("id INTEGER", "beaconID TEXT", "categoryID TEXT", "name TEXT", "beacon INTEGER"));
  EXPECT_THAT(columns(db, "KSCustomValue"),
              ElementsAre("id INTEGER", "key TEXT", "value TEXT", "customValueID TEXT", "beacon INTEGER",
                          "category INTEGER", "site INTEGER"));
  EXPECT_THAT(columns(db, "KSBeaconVisit"),
              ElementsAre("id INTEGER", "beaconVisitID TEXT", "SDKVersion TEXT", "firmwareUID TEXT",
                          "proximityUUIDString TEXT", "bluetoothAddress TEXT", "major UINT16", "minor UINT16",
                          "serialNumber TEXT", "siteID TEXT", "deviceUUID TEXT", "sessionUUID TEXT", "beganAt DATE",
                          "rssiWhenVisitBegan INT16", "endedAt DATE", "rssiWhenVisitEnded INT16",
                          "batteryLevel FLOAT", "latitude DECIMAL", "longitude DECIMAL", "deviceWasClosestAt DATE",
                          "cDist FLOAT", "rssiWhenDeviceWasClosest INT16", "enteredCProxAt DATE",
                          "rssiWhenCProxEntered INT16", "exitedCProxAt DATE", "rssiWhenCProxExited INT16",
                          "cProxID INT16", "lastRangedAt DATE", "lastPostedAt DATE", "beganInBackground BOOLEAN",
                          "endedInBackground BOOLEAN", "version INT16", "beaconModeID INT16", "beacon INTEGER"));
  EXPECT_THAT(columns(db, "KSBeaconRegion"),
              ElementsAre("id INTEGER", "beaconRegionID TEXT", "name TEXT", "identifier TEXT",
                          "proximityUUIDString TEXT", "major UINT16", "minor UINT16", "teamID TEXT"));
  EXPECT_THAT(columns(db, "KSBeaconRegionVisit"),
              ElementsAre("id INTEGER", "beganAt DATE", "endedAt DATE", "beaconRegionVisitID TEXT",
                          "appInForeground INT16", "beaconRegion INTEGER"));
  EXPECT_THAT(columns(db, "KSEvent"),
              ElementsAre("id INTEGER", "eventID TEXT", "eventIdentifier TEXT", "eventName TEXT", "sessionUUID TEXT",
                          "customDeviceIdentifier TEXT", "siteID TEXT", "siteName TEXT", "beaconID TEXT",
                          "beaconName TEXT", "categoryID TEXT", "categoryName TEXT", "beganAt DATE", "endedAt DATE",
                          "rssi INT16", "accuracy DOUBLE", "mapID TEXT", "mapX DECIMAL", "mapY DECIMAL",
                          "value1 TEXT", "value2 TEXT", "value3 TEXT", "beganInBackground BOOLEAN",
                          "endedInBackground BOOLEAN", "lastPostedAt DATE"));
  EXPECT_THAT(columns(db, "KSEventSummary"),
              ElementsAre("id INTEGER", "eventIdentifier TEXT", "eventName TEXT", "triggeredCount INT32",
                          "firstTriggeredAt DATE", "lastTriggeredAt DATE"));
  EXPECT_THAT(columns(db, "KSSite"),
              ElementsAre("id INTEGER", "siteID TEXT", "name TEXT", "siteAccessTypeID INT32",
                          "siteAccessTypeName TEXT", "siteAccessTypeDisplayName TEXT", "teamID TEXT", "syncedAt DATE",
                          "syncStatus INT16"));

  EXPECT_THAT(foreignKeys(db, "KSBeacon"), ElementsAre("beaconRegion->KSBeaconRegion.id SET NULL"));
  EXPECT_THAT(foreignKeys(db, "KSBeaconCategory"), ElementsAre("beacon->KSBeacon.id CASCADE"));
  EXPECT_THAT(foreignKeys(db, "KSCustomValue"),
              ElementsAre("beacon->KSBeacon.id CASCADE", "category->KSBeaconCategory.id CASCADE",
                          "site->KSSite.id CASCADE"));
  EXPECT_THAT(foreignKeys(db, "KSBeaconVisit"), ElementsAre("beacon->KSBeacon.id CASCADE"));
  EXPECT_THAT(foreignKeys(db, "KSBeaconRegionVisit"), ElementsAre("beaconRegion->KSBeaconRegion.id CASCADE"));
  for (const char* t : {"KSBeaconRegion", "KSEvent", "KSEventSummary", "KSSite"}) EXPECT_THAT(foreignKeys(db, t), ElementsAre()) << t;

  EXPECT_THAT(indexedColumns(db, "KSBeacon"), ElementsAre("beaconRegion", "bluetoothAddress", "iBeaconKey", "serialNumber"));
  EXPECT_THAT(indexedColumns(db, "KSBeaconCategory"), ElementsAre("beacon", "beaconID"));
  EXPECT_THAT(indexedColumns(db, "KSCustomValue"), ElementsAre("beacon", "category", "site"));
  EXPECT_THAT(indexedColumns(db, "KSBeaconVisit"), ElementsAre("beacon"));
  EXPECT_THAT(indexedColumns(db, "KSBeaconRegionVisit"), ElementsAre("beaconRegion"));
  EXPECT_THAT(indexedColumns(db, "KSEvent"), ElementsAre("eventID", "eventIdentifier"));
  EXPECT_THAT(indexedColumns(db, "KSEventSummary"), ElementsAre("eventIdentifier"));
  EXPECT_THAT(indexedColumns(db, "KSSite"), ElementsAre());
  EXPECT_THAT(indexedColumns(db, "KSBeaconRegion"), ElementsAre());

  // Required attributes are the model's; the rest are optional.
  const auto& model = KSManagedObjectContextProvider::managedObjectModel();
  std::vector<std::string> required;
  for (const auto& e : model.entities()) {
    for (const auto& a : e.attributes) {
      if (!a.optional) required.push_back(e.name + "." + a.name);
    }
  }
  EXPECT_THAT(required, ElementsAre("KSBeacon.beaconID", "KSBeaconCategory.beaconID", "KSBeaconCategory.categoryID",
                                    "KSCustomValue.key", "KSCustomValue.value", "KSCustomValue.customValueID",
                                    "KSSite.siteID"));
}

// A beacon in a region with a visit, a category with a custom value, a custom value of its
// own; and the region's own visit.
struct Graph {
  ObjectID region, regionVisit, beacon, visit, category, categoryValue, beaconValue;
};

Graph makeGraph(StoreContext& c) {
  Graph g;
  g.region = *c.insert("KSBeaconRegion", {{"identifier", Value("R")}, {"major", Value(65535)}});
  g.regionVisit = *c.insert("KSBeaconRegionVisit", {{"beaconRegion", Value(g.region.pk)}});
  g.beacon = *c.insert("KSBeacon", {{"beaconID", Value("B")}, {"beaconRegion", Value(g.region.pk)}});
  g.visit = *c.insert("KSBeaconVisit", {{"beacon", Value(g.beacon.pk)}, {"minor", Value(65535)}});
  g.category = *c.insert("KSBeaconCategory",
                         {{"beaconID", Value("B")}, {"categoryID", Value("C")}, {"beacon", Value(g.beacon.pk)}});
  const platform::Dict cv{{"key", Value("k")}, {"value", Value("v")}, {"customValueID", Value("1")}};
  platform::Dict forCategory = cv;
  forCategory["category"] = Value(g.category.pk);
  g.categoryValue = *c.insert("KSCustomValue", forCategory);
  platform::Dict forBeacon = cv;
  forBeacon["beacon"] = Value(g.beacon.pk);
  g.beaconValue = *c.insert("KSCustomValue", forBeacon);
  return g;
}

TEST_F(KSStoreModelTest, DeleteRulesCascadeToOwnedRowsAndNullifyTheRest) {
  KSManagedObjectContextProvider provider(dir.path(), scheduler);
  auto store = provider.store();
  ASSERT_TRUE(store);
  struct Case {
    const char* name;
    ObjectID Graph::*deleted;
    std::vector<ObjectID Graph::*> gone;
  } cases[] = {
      {"beacon", &Graph::beacon, {&Graph::beacon, &Graph::visit, &Graph::category, &Graph::categoryValue, &Graph::beaconValue}},
      {"region", &Graph::region, {&Graph::region, &Graph::regionVisit}},
      {"visit", &Graph::visit, {&Graph::visit}},
      {"category", &Graph::category, {&Graph::category, &Graph::categoryValue}},
      {"custom value", &Graph::beaconValue, {&Graph::beaconValue}},
  };
  const std::vector<ObjectID Graph::*> all{&Graph::region,   &Graph::regionVisit,   &Graph::beacon,     &Graph::visit,
                                           &Graph::category, &Graph::categoryValue, &Graph::beaconValue};
  for (const auto& k : cases) {
    store->performAndWait([&](StoreContext& c) {
      Graph g = makeGraph(c);
      ASSERT_TRUE(c.save()) << k.name;
      ASSERT_TRUE(c.remove(g.*k.deleted)) << k.name;
      ASSERT_TRUE(c.save()) << k.name;
      for (auto member : all) {
        const bool expectGone = std::find(k.gone.begin(), k.gone.end(), member) != k.gone.end();
        EXPECT_EQ(c.exists(g.*member), !expectGone) << k.name;
      }
      if (k.deleted == &Graph::region) {
        EXPECT_EQ(c.relatedOne(g.beacon, "beaconRegion"), std::nullopt);
      }
      if (k.deleted == &Graph::beacon) {
        EXPECT_TRUE(c.relatedMany(g.region, "beacons").empty());
      }
    });
  }
}

TEST_F(KSStoreModelTest, AStoreFromAModelLackingAnAttributeAndAnEntityMigratesWithItsRows) {
  platform::store::Model older = KSManagedObjectContextProvider::createModel();
  auto& entities = older.entities();
  entities.erase(std::remove_if(entities.begin(), entities.end(), [](auto& e) { return e.name == "KSSite"; }),
                 entities.end());
  for (auto& e : entities) {
    if (e.name == "KSBeacon") e.attributes.pop_back();  // networkAccessEndsAt
    if (e.name == "KSCustomValue") e.relationships.pop_back();  // site
  }
  ASSERT_EQ(older.validate(), "");
  const auto path = dir.path() / KSSqliteDBFileName;
  {
    auto store = platform::store::ObjectStore::open(older, path, scheduler);
    ASSERT_TRUE(store);
    store->performAndWait([](StoreContext& c) {
      makeGraph(c);
      ASSERT_TRUE(c.save());
    });
  }
  KSManagedObjectContextProvider provider(dir.path(), scheduler);
  auto store = provider.store();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Migrated);
  store->performAndWait([](StoreContext& c) {
    auto beacons = c.fetch({.entity = "KSBeacon"});
    ASSERT_TRUE(beacons);
    ASSERT_EQ(beacons->size(), 1u);
    EXPECT_EQ((*beacons)[0]["beaconID"], Value("B"));
    EXPECT_TRUE((*beacons)[0]["networkAccessEndsAt"].isAbsent());
    EXPECT_EQ(c.count("KSCustomValue", {}), 2);
    auto site = c.insert("KSSite", {{"siteID", Value("S")}});
    ASSERT_TRUE(site);
    ASSERT_TRUE(c.insert("KSCustomValue", {{"key", Value("k")}, {"value", Value("v")}, {"customValueID", Value("2")},
                                            {"site", Value(site->pk)}}));
    ASSERT_TRUE(c.save());
    ASSERT_TRUE(c.remove(*site));
    EXPECT_EQ(c.count("KSCustomValue", {}), 2);  // the site's value went with it
  });
}

TEST_F(KSStoreModelTest, AnUnopenableFolderMeansNoStoreAndOneLogUntilAWaitHasPassed) {
  const auto docs = dir.path() / "Documents";
  std::ofstream(docs) << "not a folder";
  KSManagedObjectContextProvider provider(docs, scheduler);
  {
    platform::LogCapture log;
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(provider.store());
    EXPECT_EQ(log.count("cannot open the store"), 1u) << "one attempt, not one per access";
    EXPECT_EQ(log.count("local storage is off"), 1u);
  }
  std::filesystem::remove(docs);
  EXPECT_FALSE(provider.store()) << "no new attempt before the wait is over";
  scheduler->advanceBy(60);
  auto store = provider.store();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->outcome(), OpenOutcome::Created);
  EXPECT_EQ(provider.store(), store);  // kept once open
}

TEST_F(KSStoreModelTest, AReadOnlyFolderFailsOnceAndTheWaitsGrow) {
  velmora::testing::EnforcedFilePermissions enforced;
  if (!enforced.active()) GTEST_SKIP() << "file permissions cannot be made to bind this thread";
  const auto docs = dir.path() / "Documents";
  std::filesystem::create_directories(docs);
  std::filesystem::permissions(docs, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  KSManagedObjectContextProvider provider(docs, scheduler);
  platform::LogCapture log;
  const auto attempts = [&] { return log.count("cannot open the store"); };
  EXPECT_FALSE(provider.store());
  EXPECT_EQ(attempts(), 1u);
  // One more attempt after one minute, the next after two more, then four.
  for (auto [wait, expected] : {std::pair{59.0, 1u}, {1.0, 2u}, {119.0, 2u}, {1.0, 3u}, {239.0, 3u}, {1.0, 4u}}) {
    scheduler->advanceBy(wait);
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(provider.store());
    EXPECT_EQ(attempts(), expected);
  }
  EXPECT_TRUE(std::filesystem::is_empty(docs));
}

}  // namespace
}  // namespace velmora::kestrine
