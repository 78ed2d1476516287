#include "beacons/storage/KSManagedBeacon.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSEvent.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSNetworkAccessOwnership.h"
#include "beacons/model/KSNetworkAccessRole.h"
#include "beacons/model/KSPoint.h"
#include "beacons/storage/KSEventSummary.h"
#include "testing/StorageTestSupport.h"

#undef major
#undef minor

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::Predicate;
using testing::StorageFixture;

const Date T0 = Date::fromUnixMicros(1'750'000'000'123'456);
Date at(double seconds) { return T0.addingTimeInterval(seconds); }

std::shared_ptr<KSCustomValue> customValue(const char* id, const char* key, const char* value) {
  auto v = std::make_shared<KSCustomValue>();
  if (id) v->setCustomValueID(id);
  if (key) v->setKey(key);
  if (value) v->setValue(value);
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

// Category ID -> (name, {key=value...}), the order-free view of a beacon's categories.
using CategoryView = std::map<std::string, std::pair<std::string, std::set<std::string>>>;
CategoryView view(const KSBeacon& b) {
  CategoryView out;
  for (const auto& c : b.categories().value_or(std::vector<std::shared_ptr<KSCategory>>{})) {
    std::set<std::string> values;
    for (const auto& v : c->customValues().value_or(KSCategory::CustomValues{})) {
      values.insert(*v->customValueID() + ":" + *v->key() + "=" + *v->value());
    }
    out[*c->categoryID()] = {c->name().value_or(""), values};
  }
  return out;
}

std::set<std::string> valuesView(const KSBeacon& b) {
  std::set<std::string> out;
  for (const auto& v : b.customValues().value_or(std::vector<std::shared_ptr<KSCustomValue>>{})) {
    out.insert(*v->customValueID() + ":" + *v->key() + "=" + *v->value());
  }
  return out;
}

std::shared_ptr<KSBeacon> fullBeacon() {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID("B1");
  b->setSerialNumber("S1");
  b->setName("Gate 1");
  b->setProximityUUIDString("F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  b->setMajor(Value(65535));
  b->setMinor(Value(7));
  b->setBluetoothAddress("AA:BB:CC:DD:EE:FF");
  b->setTeamID("T");
  b->setSiteID("site");
  b->setSiteName("Site");
  b->setWireframeURLString("https://example.invalid/w.png");
  b->setFeatureBitmask(0xFFFF0001u);
  b->setMeasuredPowerAt1Meter(Value(-59));
  auto eddystone = std::make_shared<KSEddystone>();
  eddystone->setUIDString("EDD1EBEAC04E5DEFA017AABBCCDDEEFF");
  b->setEddystone(eddystone);
  auto mapPoint = std::make_shared<KSMapPoint>();
  mapPoint->setMapID("map");
  mapPoint->setPoint(KSPoint::pointWithXY(10.123456789, -3.3));
  b->setMapPoint(mapPoint);
  auto access = std::make_shared<KSNetworkAccess>();
  auto ownership = std::make_shared<KSNetworkAccessOwnership>();
  ownership->setNetworkAccessOwnershipID(2);
  access->setOwnership(ownership);
  KSNetworkAccess::Roles roles;
  for (std::int64_t id : {3, 7, 12}) {
    auto role = std::make_shared<KSNetworkAccessRole>();
    role->setNetworkAccessRoleID(id);
    roles.push_back(role);
  }
  access->setPermittedRoles(roles);
  access->setBeginsAt(at(-10));
  access->setEndsAt(at(10));
  b->setNetworkAccess(access);
  b->setCategories(std::vector{category("A", "Food", {customValue("a1", "zone", "1"), customValue("a2", "dwell", "30")}),
                               category("B", "Drink", {customValue("b1", "lasso", "on")})});
  b->setCustomValues(std::vector{customValue("v1", "floor", "2")});
  b->setSyncedAt(at(0));
  b->setSyncStatus(2);
  return b;
}

class KSManagedBeaconTest : public ::testing::Test {
 protected:
  std::shared_ptr<KSBeacon> storeAndRead(const std::shared_ptr<KSBeacon>& b) {
    m().storeBeacon(b);
    s.save();
    return m().fetchBeaconForSerialNumber(*b->serialNumber());
  }
  KSLocalStorageManager& m() { return s.manager(); }
  StorageFixture s;
};

TEST_F(KSManagedBeaconTest, EveryStoredKindSurvivesSaveCloseAndReopen) {
  // Beacon with every optional group, two categories with custom values, and a region.
  auto region = std::make_shared<KSBeaconRegion>();
  region->setIdentifier("R1");
  region->setBeaconRegionID("reg");
  region->setName("Region");
  region->setProximityUUIDString("F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  region->setMajor(65535);
  region->setMinor(65535);
  region->setTeamID("T");
  auto b = fullBeacon();
  b->setBeaconRegion(region);
  m().storeBeacon(b);
  auto site = std::make_shared<KSSite>();
  site->setSiteID("site");
  site->setName("Garage");
  m().storeSite(site);

  // Event with all 24 stored fields.
  auto e = std::make_shared<KSEvent>();
  const Dict eventFields = {{"eventID", "ev"}, {"eventIdentifier", "enter"}, {"eventName", "Entered"},
                            {"sessionUUID", "S"}, {"customDeviceIdentifier", "C"}, {"siteID", "site"},
                            {"siteName", "Site"}, {"beaconID", "B1"}, {"beaconName", "Gate"}, {"categoryID", "A"},
                            {"categoryName", "Food"}, {"beganAt", at(1)}, {"endedAt", at(2)}, {"rssi", -70},
                            {"accuracy", 1.25}, {"mapID", "map"}, {"mapX", 3.5}, {"mapY", 4.25},
                            {"beganInBackground", true}, {"endedInBackground", false}, {"value1", "1"},
                            {"value2", "2"}, {"value3", "3"}};
  for (const auto& [k, v] : eventFields) ASSERT_TRUE(e->setValueForKey(k, v)) << k;
  m().storeEvent(e);
  m().updateEvent("ev", at(3));

  auto summary = std::make_shared<KSEventSummary>();
  summary->setEventIdentifier("enter");
  summary->setEventName("Entered");
  summary->setTriggeredCount(3);
  summary->setFirstTriggeredAt(at(1));
  summary->setLastTriggeredAt(at(2));
  m().storeEventSummary(summary);
  s.drain();

  // A visit written through its binding, every stored attribute.
  auto visit = m().managedBeaconVisitForSerialNumber("S1");
  ASSERT_TRUE(visit && visit->managedBeaconVisit());
  visit->setBeaconVisitID("visit");
  visit->setSDKVersion("2.1.0");
  visit->setFirmwareUID("fw");
  visit->setProximityUUIDString("F7826DA6-4FA2-4E98-8024-BC5B71E0893E");
  visit->setBluetoothAddress("AA:BB");
  visit->setMajor(Value(65535));
  visit->setMinor(Value(65535));
  visit->setVersion(Value(4));
  visit->setSerialNumber("S1");
  visit->setSiteID("site");
  visit->setDeviceUUID("dev");
  visit->setSessionUUID("ses");
  visit->setBeganAt(at(10));
  visit->setRssiWhenVisitBegan(Value(-80));
  visit->setEndedAt(at(20));
  visit->setRssiWhenVisitEnded(Value(-81));
  visit->setBatteryLevel(Value(0.75));
  visit->setLocation(platform::location::Location{.latitude = 52.520008, .longitude = 13.404954});
  visit->setDeviceWasClosestAt(at(15));
  visit->setCDist(Value(0.5));
  visit->setRssiWhenDeviceWasClosest(Value(-60));
  visit->setEnteredCProxAt(at(11));
  visit->setRssiWhenCProxEntered(Value(-65));
  visit->setExitedCProxAt(at(19));
  visit->setRssiWhenCProxExited(Value(-66));
  visit->setCProx(2);
  visit->setLastRangedAt(at(19.5));
  visit->setLastPostedAt(at(30));
  visit->setBeganInBackground(true);
  visit->setEndedInBackground(true);
  visit->setBeaconModeID(3);
  auto regionVisit = m().managedBeaconRegionVisitForIdentifier("R1");
  ASSERT_TRUE(regionVisit);
  regionVisit->setBeaconRegionVisitID("rv");
  regionVisit->setBeganAt(at(5));
  regionVisit->setEndedAt(at(6));
  s.save();
  s.reopen();

  auto read = m().fetchBeaconForSerialNumber("S1");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->beaconID(), "B1");
  EXPECT_EQ(read->name(), "Gate 1");
  EXPECT_EQ(read->major(), Value(65535));
  EXPECT_EQ(read->minor(), Value(7));
  EXPECT_EQ(read->iBeaconKey(), b->iBeaconKey());
  EXPECT_EQ(read->bluetoothAddress(), "AA:BB:CC:DD:EE:FF");
  EXPECT_EQ(read->teamID(), "T");
  EXPECT_EQ(read->siteID(), "site");
  EXPECT_EQ(read->siteName(), "Site");
  EXPECT_EQ(read->wireframeURLString(), "https://example.invalid/w.png");
  EXPECT_EQ(read->featureBitmask(), 0xFFFF0001u);
  EXPECT_EQ(read->measuredPowerAt1Meter(), Value(-59));
  EXPECT_EQ(read->syncedAt(), at(0));
  EXPECT_EQ(read->syncStatus(), KSSyncStatusRestored);
  ASSERT_TRUE(read->eddystone());
  EXPECT_EQ(read->eddystone()->namespaceID(), "EDD1EBEAC04E5DEFA017");
  EXPECT_EQ(read->eddystone()->instanceID(), "AABBCCDDEEFF");
  ASSERT_TRUE(read->mapPoint() && read->mapPoint()->point());
  EXPECT_EQ(read->mapPoint()->mapID(), "map");
  EXPECT_EQ(read->mapPoint()->point()->x(), static_cast<double>(10.123456789f)) << "float precision";
  EXPECT_EQ(read->mapPoint()->point()->y(), static_cast<double>(-3.3f));
  ASSERT_TRUE(read->networkAccess() && read->networkAccess()->ownership());
  EXPECT_EQ(read->networkAccess()->ownership()->networkAccessOwnershipID(), 2);
  std::vector<std::int64_t> roles;
  for (const auto& r : *read->networkAccess()->permittedRoles()) roles.push_back(r->networkAccessRoleID());
  EXPECT_EQ(roles, (std::vector<std::int64_t>{3, 7, 12}));
  EXPECT_EQ(read->networkAccess()->beginsAt(), at(-10));
  EXPECT_EQ(read->networkAccess()->endsAt(), at(10));
  EXPECT_EQ(view(*read), view(*b));
  EXPECT_EQ(valuesView(*read), valuesView(*b));
  EXPECT_EQ(s.rows("KSBeacon")[0]["networkAccessPermittedRoleIDs"], Value("3,7,12"));
  EXPECT_EQ(s.rows("KSBeacon")[0]["iBeaconKey"], Value(*b->iBeaconKey()));

  const auto regions = s.rows("KSBeaconRegion");
  ASSERT_EQ(regions.size(), 1u);
  for (const auto& [k, v] : Dict{{"beaconRegionID", "reg"}, {"name", "Region"}, {"identifier", "R1"},
                                 {"proximityUUIDString", "F7826DA6-4FA2-4E98-8024-BC5B71E0893E"},
                                 {"major", 65535}, {"minor", 65535}, {"teamID", "T"}}) {
    EXPECT_EQ(regions[0][k], v) << k;
  }
  auto readSite = m().fetchSiteForSiteID("site");
  ASSERT_TRUE(readSite);
  EXPECT_EQ(readSite->name(), "Garage");

  std::vector<std::shared_ptr<KSEvent>> events;
  KSEvent::storedEventsWithPredicate({}, {}, [&](const auto& v) { events = v; }, nullptr);
  s.drain();
  ASSERT_EQ(events.size(), 1u);
  for (const auto& [k, v] : eventFields) EXPECT_EQ(events[0]->valueForKey(k), v) << k;
  EXPECT_EQ(events[0]->lastPostedAt(), at(3));

  auto readSummary = m().eventSummaryForIdentifier("enter");
  ASSERT_TRUE(readSummary);
  EXPECT_EQ(*readSummary, *summary);

  std::vector<std::shared_ptr<KSBeaconVisit>> visits;
  KSBeaconVisit::storedVisitsWithPredicate({}, {}, [&](const auto& v) { visits = v; }, nullptr);
  s.drain();
  ASSERT_EQ(visits.size(), 1u);
  const Dict exported = visits[0]->toDictionary();
  const Dict expected = visit->toDictionary();
  for (const auto& [k, v] : expected) {
    if (k == "cDist" || k == "batteryLevel") continue;  // floats, compared below
    EXPECT_EQ(exported.count(k) ? exported.at(k) : Value(), v) << k;
  }
  EXPECT_EQ(visits[0]->cDist(), Value(0.5));
  EXPECT_EQ(visits[0]->batteryLevel(), Value(0.75));
  EXPECT_EQ(visits[0]->firmwareUID(), "fw");
  EXPECT_TRUE(visits[0]->beganInBackground());
  EXPECT_EQ(s.rows("KSBeaconVisit")[0]["beaconModeID"], Value(3));
  EXPECT_EQ(s.rows("KSBeaconVisit")[0]["beacon"], Value(s.rows("KSBeacon")[0].id.pk));

  std::vector<std::shared_ptr<KSBeaconRegionVisit>> regionVisits;
  KSBeaconRegionVisit::storedVisitsWithPredicate({}, {}, [&](const auto& v) { regionVisits = v; }, nullptr);
  s.drain();
  ASSERT_EQ(regionVisits.size(), 1u);
  EXPECT_EQ(regionVisits[0]->beaconRegionVisitID(), "rv");
  EXPECT_EQ(regionVisits[0]->beganAt(), at(5));
  EXPECT_EQ(regionVisits[0]->endedAt(), at(6));
  EXPECT_EQ(regionVisits[0]->beaconRegionIdentifier(), "R1");
}

TEST_F(KSManagedBeaconTest, CategoriesAreReconciledByIDAndDroppedOnesOnlyUnlinked) {
  auto b = fullBeacon();
  storeAndRead(b);
  const auto beforeA = s.rows("KSBeaconCategory", Predicate::eq("categoryID", "A"));
  ASSERT_EQ(beforeA.size(), 1u);

  b->setCategories(std::vector{category("B", "Drinks", {customValue("b2", "lasso", "off")}),
                               category("C", "Parking", {customValue("c1", "level", "-1")})});
  b->setCustomValues(std::vector{customValue("v1", "floor", "3"), customValue("v2", "gate", "N")});
  auto read = storeAndRead(b);
  ASSERT_TRUE(read);
  EXPECT_EQ(view(*read), (CategoryView{{"B", {"Drinks", {"b2:lasso=off"}}}, {"C", {"Parking", {"c1:level=-1"}}}}));
  EXPECT_EQ(valuesView(*read), (std::set<std::string>{"v1:floor=3", "v2:gate=N"}));

  // A's row stays, unlinked, with its own custom values; B's old custom value is gone.
  const auto a = s.rows("KSBeaconCategory", Predicate::eq("categoryID", "A"));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].id, beforeA[0].id);
  EXPECT_TRUE(a[0]["beacon"].isAbsent());
  EXPECT_EQ(s.count("KSCustomValue", Predicate::eq("customValueID", "a1")), 1);
  EXPECT_EQ(s.count("KSCustomValue", Predicate::eq("customValueID", "b1")), 0);
  EXPECT_EQ(s.rows("KSBeaconCategory", Predicate::eq("categoryID", "C"))[0]["beaconID"], Value("B1"));
  EXPECT_EQ(s.count("KSBeaconCategory", Predicate::eq("categoryID", "B")), 1) << "B was updated in place";
}

TEST_F(KSManagedBeaconTest, OptionalGroupsAreKeptWhenTheRecordLacksThem) {
  auto b = fullBeacon();
  storeAndRead(b);
  auto bare = std::make_shared<KSBeacon>();
  bare->setBeaconID("B1");
  bare->setSerialNumber("S1");
  auto read = storeAndRead(bare);
  ASSERT_TRUE(read);
  ASSERT_TRUE(read->eddystone()) << "the stored UID keeps the beacon's Eddystone identity";
  EXPECT_EQ(read->eddystone()->UIDString(), "EDD1EBEAC04E5DEFA017AABBCCDDEEFF");
  EXPECT_EQ(read->measuredPowerAt1Meter(), Value(-59));
  EXPECT_TRUE(read->mapPoint());
  EXPECT_TRUE(read->networkAccess());
  EXPECT_FALSE(read->name()) << "plain fields are cleared by a missing value";
  EXPECT_FALSE(read->bluetoothAddress());

  // No measured power but a loudness: the loudness's power is stored.
  auto loud = std::make_shared<KSBeaconLoudness>();
  loud->setMeasuredPowerAt1Meter(-72);
  bare->setBeaconLoudness(loud);
  read = storeAndRead(bare);
  EXPECT_EQ(read->measuredPowerAt1Meter(), Value(-72));
}

TEST_F(KSManagedBeaconTest, AnyStoredSyncStatusReadsBackAsRestored) {
  for (Value status : {Value(), Value(0), Value(2), Value(3), Value(4)}) {
    s.insert("KSBeacon", {{"beaconID", Value("X")}, {"serialNumber", Value("SX")}, {"syncStatus", status}});
    auto read = m().fetchBeaconForSerialNumber("SX");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->syncStatus(), KSSyncStatusRestored);
    s.withContext([&](platform::store::StoreContext& c) {
      for (const auto& r : s.rows("KSBeacon")) c.remove(r.id);
    });
  }
}

// Required attributes are checked when written, so an incomplete record cannot doom the save
// of everything else in its unit of work.
TEST_F(KSManagedBeaconTest, IncompleteRecordsAreSkippedAndTheSaveStillCommits) {
  auto noID = std::make_shared<KSBeacon>();
  noID->setSerialNumber("S9");
  m().storeBeacon(noID);
  auto b = fullBeacon();
  b->setCategories(std::vector{category(nullptr, "no id"), category("A", "Food", {customValue("a1", nullptr, "v"),
                                                                                   customValue("a2", "k", "v")})});
  b->setCustomValues(std::vector{customValue(nullptr, "k", "v"), customValue("v1", "k", nullptr),
                                 customValue("v2", "k", "v")});
  m().storeBeacon(b);
  s.save();
  s.reopen();
  EXPECT_EQ(s.count("KSBeacon"), 1) << "no row for a beacon without its beacon ID";
  auto read = m().fetchBeaconForSerialNumber("S1");
  ASSERT_TRUE(read);
  EXPECT_EQ(view(*read), (CategoryView{{"A", {"Food", {"a2:k=v"}}}}));
  EXPECT_EQ(valuesView(*read), (std::set<std::string>{"v2:k=v"}));

  // A matched row keeps its beacon ID when the record has none.
  auto update = std::make_shared<KSBeacon>();
  update->setSerialNumber("S1");
  update->setName("renamed");
  update->setCategories(std::vector{category("D", "Drink")});
  m().storeBeacon(update);
  s.save();
  s.reopen();
  read = m().fetchBeaconForSerialNumber("S1");
  ASSERT_TRUE(read);
  EXPECT_EQ(read->beaconID(), "B1");
  EXPECT_EQ(read->name(), "renamed");
  EXPECT_EQ(view(*read), (CategoryView{{"D", {"Drink", {}}}})) << "new category rows take the kept beacon ID";
}

}  // namespace
}  // namespace velmora::kestrine
