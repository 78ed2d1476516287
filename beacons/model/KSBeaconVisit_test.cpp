#include "beacons/model/KSBeaconVisit.h"

#include <gtest/gtest.h>

#include <set>

#include "beacons/model/KSBeaconRegionVisit.h"
#include "platform/core/Json.h"
#include "testing/FakeLocalStorage.h"
#include "testing/ScopedModelRegistry.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using testing::FakeLocalStorage;
using testing::FakeStoredRow;
using testing::ScopedModelRegistry;

Date at(std::int64_t seconds) { return Date::fromUnixSeconds(static_cast<double>(seconds)); }

std::shared_ptr<FakeStoredRow> visitRow(Dict attributes = {}) {
  return std::make_shared<FakeStoredRow>("KSBeaconVisit", std::move(attributes));
}

// Every write-through setter writes its new value under its own key, once, inside the
// row's context; the plain setters write nothing.
TEST(KSBeaconVisit, WriteThroughSettersWriteTheirOwnKey) {
  struct Case {
    const char* key;
    std::function<void(KSBeaconVisit&)> set;
    Value stored;
  };
  const std::vector<Case> cases = {
      {"beaconVisitID", [](auto& v) { v.setBeaconVisitID("bv-1"); }, Value("bv-1")},
      {"SDKVersion", [](auto& v) { v.setSDKVersion("4.2"); }, Value("4.2")},
      {"firmwareUID", [](auto& v) { v.setFirmwareUID("fw"); }, Value("fw")},
      {"proximityUUIDString", [](auto& v) { v.setProximityUUIDString("U"); }, Value("U")},
      {"bluetoothAddress", [](auto& v) { v.setBluetoothAddress("AA"); }, Value("AA")},
      {"major", [](auto& v) { v.setMajor(Value(1)); }, Value(1)},
      {"minor", [](auto& v) { v.setMinor(Value(2)); }, Value(2)},
      {"version", [](auto& v) { v.setVersion(Value(3)); }, Value(3)},
      {"serialNumber", [](auto& v) { v.setSerialNumber("SN"); }, Value("SN")},
      {"siteID", [](auto& v) { v.setSiteID("S"); }, Value("S")},
      {"deviceUUID", [](auto& v) { v.setDeviceUUID("D"); }, Value("D")},
      {"sessionUUID", [](auto& v) { v.setSessionUUID("E"); }, Value("E")},
      {"beganAt", [](auto& v) { v.setBeganAt(at(10)); }, Value(at(10))},
      {"rssiWhenVisitBegan", [](auto& v) { v.setRssiWhenVisitBegan(Value(-61)); }, Value(-61)},
      {"endedAt", [](auto& v) { v.setEndedAt(at(20)); }, Value(at(20))},
      {"rssiWhenVisitEnded", [](auto& v) { v.setRssiWhenVisitEnded(Value(-62)); }, Value(-62)},
      {"batteryLevel", [](auto& v) { v.setBatteryLevel(Value(80)); }, Value(80)},
      {"deviceWasClosestAt", [](auto& v) { v.setDeviceWasClosestAt(at(30)); }, Value(at(30))},
      {"cDist", [](auto& v) { v.setCDist(Value(0.5)); }, Value(0.5)},
      {"rssiWhenDeviceWasClosest", [](auto& v) { v.setRssiWhenDeviceWasClosest(Value(-63)); }, Value(-63)},
      {"enteredCProxAt", [](auto& v) { v.setEnteredCProxAt(at(40)); }, Value(at(40))},
      {"rssiWhenCProxEntered", [](auto& v) { v.setRssiWhenCProxEntered(Value(-64)); }, Value(-64)},
      {"exitedCProxAt", [](auto& v) { v.setExitedCProxAt(at(50)); }, Value(at(50))},
      {"rssiWhenCProxExited", [](auto& v) { v.setRssiWhenCProxExited(Value(-65)); }, Value(-65)},
      {"cProxID", [](auto& v) { v.setCProx(3); }, Value(std::int32_t{3})},
      {"lastRangedAt", [](auto& v) { v.setLastRangedAt(at(60)); }, Value(at(60))},
      {"lastPostedAt", [](auto& v) { v.setLastPostedAt(at(70)); }, Value(at(70))},
      {"beganInBackground", [](auto& v) { v.setBeganInBackground(true); }, Value(true)},
      {"endedInBackground", [](auto& v) { v.setEndedInBackground(true); }, Value(true)},
      {"beaconModeID", [](auto& v) { v.setBeaconModeID(5); }, Value(std::int64_t{5})},
      {"", [](auto& v) { v.setLatitude(Value(1.0)); }, Value()},
      {"", [](auto& v) { v.setLongitude(Value(2.0)); }, Value()},
      {"", [](auto& v) { v.setCProxID(Value(2)); }, Value()},
      {"", [](auto& v) { v.setCurrentlyVisiting(true); }, Value()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    auto row = visitRow();
    auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
    c.set(*visit);
    if (std::string_view(c.key).empty()) {
      EXPECT_TRUE(row->writes.empty());
      continue;
    }
    ASSERT_EQ(row->writes.size(), 1u);
    EXPECT_EQ(row->writes[0].first, c.key);
    EXPECT_EQ(row->writes[0].second, c.stored);
    EXPECT_EQ(row->writesOutsideContext, 0);
    // The record holds what it wrote.
    EXPECT_EQ(visit->valueForKey(c.key == std::string("cProxID") ? "cProxID" : c.key), c.stored);
  }
}

TEST(KSBeaconVisit, SetLocationWritesBothCoordinatesAndNilClearsThem) {
  auto row = visitRow();
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  platform::location::Location fix;
  fix.latitude = 52.5;
  fix.longitude = 13.4;
  visit->setLocation(fix);
  EXPECT_EQ(visit->latitude(), Value(52.5));
  EXPECT_EQ(row->attributes().at("longitude"), Value(13.4));

  row->writes.clear();
  visit->setLocation(std::nullopt);
  EXPECT_TRUE(visit->latitude().isAbsent());
  EXPECT_TRUE(visit->longitude().isAbsent());
  ASSERT_EQ(row->writes.size(), 2u);
  EXPECT_EQ(row->writes[0].first, "latitude");
  EXPECT_EQ(row->writes[1].first, "longitude");
  EXPECT_EQ(row->attributes().count("latitude"), 0u);
  EXPECT_EQ(row->attributes().count("longitude"), 0u);
}

TEST(KSBeaconVisit, RowWithoutContextIsSkippedAndTheFieldKeepsItsValue) {
  auto row = visitRow();
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  row->loseContext();
  visit->setSiteID("S");
  visit->setCProx(2);
  EXPECT_TRUE(row->writes.empty());
  EXPECT_EQ(visit->siteID(), "S");
  EXPECT_EQ(visit->cProx(), 2u);
}

Dict fullRow() {
  return Dict{{"beaconVisitID", "bv"}, {"SDKVersion", "4.2"}, {"firmwareUID", "fw"}, {"proximityUUIDString", "U"},
              {"bluetoothAddress", "AA"}, {"major", 1}, {"minor", 2}, {"serialNumber", "SN"}, {"siteID", "S"},
              {"deviceUUID", "D"}, {"sessionUUID", "E"}, {"beganAt", at(10)}, {"rssiWhenVisitBegan", -61},
              {"endedAt", at(20)}, {"rssiWhenVisitEnded", -62}, {"batteryLevel", 80}, {"latitude", 52.5},
              {"longitude", 13.4}, {"deviceWasClosestAt", at(30)}, {"cDist", 0.5}, {"rssiWhenDeviceWasClosest", -63},
              {"enteredCProxAt", at(40)}, {"rssiWhenCProxEntered", -64}, {"exitedCProxAt", at(50)},
              {"rssiWhenCProxExited", -65}, {"cProxID", 2}, {"lastRangedAt", at(60)}, {"lastPostedAt", at(70)},
              {"beganInBackground", 1}, {"endedInBackground", 0}, {"version", 3}, {"beaconModeID", 5}};
}

// Binding reads every stored attribute, the mode included, and writes nothing back.
TEST(KSBeaconVisit, BindingReadsTheWholeRow) {
  auto row = visitRow(fullRow());
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  EXPECT_TRUE(row->writes.empty());
  EXPECT_EQ(visit->managedBeaconVisit(), row);
  EXPECT_EQ(visit->beaconModeID(), 5);
  EXPECT_EQ(visit->cProx(), 2u);
  EXPECT_TRUE(visit->beganInBackground());
  EXPECT_FALSE(visit->endedInBackground());
  for (const auto& [key, value] : fullRow()) {
    if (key == "beganInBackground" || key == "endedInBackground" || key == "beaconModeID") continue;
    SCOPED_TRACE(key);
    EXPECT_EQ(visit->valueForKey(key), value);
  }
  // A missing row gives a plain visit.
  auto plain = KSBeaconVisit::initWithManagedBeaconVisit(nullptr);
  EXPECT_FALSE(plain->managedBeaconVisit());
  EXPECT_EQ(plain->cProxID(), Value(0));
}

TEST(KSBeaconVisit, ExportOfANewAndOfAFullVisit) {
  auto fresh = std::make_shared<KSBeaconVisit>();
  EXPECT_EQ(platform::json::write(Value(fresh->toDictionary())),
            R"({"beganInBackground":false,"cProx":0,"cProxID":0,"endedInBackground":false})");

  auto full = KSBeaconVisit::initWithManagedBeaconVisit(visitRow(fullRow()));
  full->setCurrentlyVisiting(true);
  const Dict exported = full->toDictionary();
  EXPECT_EQ(exported.size(), 32u);
  for (const char* absent : {"beaconVisitID", "proximityUUIDString", "beaconModeID", "currentlyVisiting",
                             "managedBeaconVisit"}) {
    EXPECT_EQ(exported.count(absent), 0u) << absent;
  }
  EXPECT_EQ(exported.at("id"), Value("bv"));
  EXPECT_EQ(exported.at("proximityUUID"), Value("U"));
  EXPECT_EQ(exported.at("cProx"), Value(std::uint64_t{2}));

  // Imported back, the export gives the same visit, unbound.
  platform::Error error;
  auto back = KSBeaconVisit::initWithDictionary(Value(exported), &error);
  ASSERT_TRUE(back) << error.localizedDescription;
  EXPECT_FALSE(back->managedBeaconVisit());
  EXPECT_EQ(back->toDictionary(), exported);
}

TEST(KSBeaconVisit, CopyIsUnboundAndCarriesFirmwareAndFlags) {
  auto row = visitRow(fullRow());
  auto visit = KSBeaconVisit::initWithManagedBeaconVisit(row);
  visit->setCurrentlyVisiting(true);
  auto copy = visit->copy();
  EXPECT_FALSE(copy->managedBeaconVisit());
  EXPECT_FALSE(copy->isCurrentlyVisiting());
  EXPECT_EQ(copy->firmwareUID(), "fw");
  EXPECT_TRUE(copy->beganInBackground());
  EXPECT_EQ(copy->beaconModeID(), 5);
  EXPECT_EQ(copy->toDictionary(), visit->toDictionary());
  row->writes.clear();
  copy->setSiteID("other");
  EXPECT_TRUE(row->writes.empty());
  EXPECT_EQ(visit->siteID(), "S");
}

TEST(KSBeaconVisit, Filters) {
  auto make = [](std::optional<std::string> site, std::optional<Date> ranged) {
    auto v = std::make_shared<KSBeaconVisit>();
    v->setSiteID(std::move(site));
    v->setLastRangedAt(ranged);
    return v;
  };
  auto a = make("S", std::nullopt), b = make(std::nullopt, at(99)), c = make("S", at(100)), d = make("T", at(101));
  const std::vector<std::shared_ptr<KSBeaconVisit>> all = {a, b, c, d};
  EXPECT_EQ(beacon_visit_array::filteredBeaconVisitArrayUsingSiteID(all, "S"),
            (std::vector<std::shared_ptr<KSBeaconVisit>>{a, c}));
  EXPECT_TRUE(beacon_visit_array::filteredBeaconVisitArrayUsingSiteID(all, "").empty());
  // Never ranged, and strictly before: a visit ranged exactly at the date is dropped.
  EXPECT_EQ(beacon_visit_array::filteredBeaconVisitArrayUsingLastRangedBeforeDate(all, at(100)),
            (std::vector<std::shared_ptr<KSBeaconVisit>>{a, b}));
}

TEST(KSBeaconRegionVisit, BindingWriteThroughAndForegroundRoundTrip) {
  auto row = std::make_shared<FakeStoredRow>(
      "KSBeaconRegionVisit", Dict{{"beganAt", at(1)}, {"endedAt", at(2)}, {"beaconRegionVisitID", "rv"},
                                  {"beaconRegion.identifier", "region-A"}, {"appInForeground", true}});
  auto visit = KSBeaconRegionVisit::initWithManagedBeaconRegionVisit(row);
  EXPECT_EQ(visit->beganAt(), at(1));
  EXPECT_EQ(visit->endedAt(), at(2));
  EXPECT_EQ(visit->beaconRegionVisitID(), "rv");
  EXPECT_EQ(visit->beaconRegionIdentifier(), "region-A");
  EXPECT_TRUE(visit->appInForeground());
  EXPECT_TRUE(row->writes.empty());

  visit->setBeganAt(at(3));
  visit->setEndedAt(std::nullopt);
  visit->setBeaconRegionVisitID("rv2");
  visit->setAppInForeground(false);
  // The linked region is the store's: changing the identifier touches the record only.
  visit->setBeaconRegionIdentifier("region-B");
  std::vector<std::string> keys;
  for (const auto& w : row->writes) keys.push_back(w.first);
  EXPECT_EQ(keys, (std::vector<std::string>{"beganAt", "endedAt", "beaconRegionVisitID", "appInForeground"}));
  EXPECT_EQ(row->attributes().at("beaconRegion.identifier"), Value("region-A"));
  EXPECT_EQ(row->attributes().count("endedAt"), 0u);

  auto reread = KSBeaconRegionVisit::initWithManagedBeaconRegionVisit(row);
  EXPECT_FALSE(reread->appInForeground());
  EXPECT_EQ(reread->beganAt(), at(3));

  auto copy = visit->copy();
  EXPECT_FALSE(copy->managedBeaconRegionVisit());
  EXPECT_EQ(copy->beaconRegionIdentifier(), "region-B");
  EXPECT_EQ(copy->beaconRegionVisitID(), "rv2");
  const Dict exported = copy->toDictionary();
  EXPECT_EQ(exported.at("id"), Value("rv2"));
  EXPECT_EQ(exported.count("beaconRegionVisitID"), 0u);
}

// The three stored queries share one path; both visit classes go through it here, the
// event's in its own test.
TEST(KSBeaconVisit, StoredQueries) {
  {
    // No store manager: storage is off, the answers come at once.
    ScopedModelRegistry none({});
    std::optional<std::size_t> fetched;
    std::optional<std::uint64_t> counted;
    KSBeaconVisit::storedVisitsWithPredicate({}, {}, [&](const auto& v) { fetched = v.size(); },
                                             nullptr);
    KSBeaconRegionVisit::numberOfVisitsWithPredicate({}, [&](std::uint64_t n) { counted = n; }, nullptr);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(counted, 0u);
  }
  auto store = std::make_shared<FakeLocalStorage>();
  ScopedModelRegistry scoped({.store = store});
  auto first = visitRow({{"beaconVisitID", "1"}});
  auto second = visitRow({{"beaconVisitID", "2"}});
  store->rows["KSBeaconVisit"] = {first, second};
  store->rows["KSBeaconRegionVisit"] = {std::make_shared<FakeStoredRow>("KSBeaconRegionVisit")};

  std::vector<std::shared_ptr<KSBeaconVisit>> visits;
  const KSStorePredicate open{{{"endedAt", KSStoreCondition::Op::Equal, Value()}}};
  KSBeaconVisit::storedVisitsWithPredicate(open, std::vector<KSSortDescriptor>{{"beganAt", false}},
                                           [&](const auto& v) { visits = v; }, nullptr);
  EXPECT_EQ(store->entities.back(), "KSBeaconVisit");
  EXPECT_EQ(store->predicates.back(), open) << "the caller's predicate goes to the store unchanged";
  ASSERT_TRUE(store->sorts.back());
  EXPECT_EQ(*store->sorts.back(), (std::vector<KSSortDescriptor>{{"beganAt", false}}));
  ASSERT_EQ(visits.size(), 2u);
  EXPECT_EQ(visits[0]->managedBeaconVisit(), first);
  EXPECT_EQ(visits[1]->beaconVisitID(), "2");

  std::optional<std::uint64_t> regionCount;
  KSBeaconRegionVisit::numberOfVisitsWithPredicate({}, [&](std::uint64_t n) { regionCount = n; }, nullptr);
  EXPECT_EQ(store->entities.back(), "KSBeaconRegionVisit");
  EXPECT_EQ(regionCount, 1u);

  // A failure passes the store's error on unchanged; missing handlers are simply not run.
  store->error = platform::Error(std::string(KSLocalStorageManagerErrorDomain), -1,
                                 "Unable to fetch entities from local storage");
  std::optional<platform::Error> failed;
  bool succeeded = false;
  KSBeaconRegionVisit::storedVisitsWithPredicate({}, {}, [&](const auto&) { succeeded = true; },
                                                 [&](const platform::Error& e) { failed = e; });
  EXPECT_FALSE(succeeded);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->domain, "com.kestrine.KSLocalStorageManager");
  EXPECT_EQ(failed->code, -1);
  EXPECT_EQ(failed->localizedDescription, "Unable to fetch entities from local storage");
  KSBeaconVisit::storedVisitsWithPredicate({}, {}, nullptr, nullptr);
  KSBeaconVisit::numberOfVisitsWithPredicate({}, nullptr, nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
