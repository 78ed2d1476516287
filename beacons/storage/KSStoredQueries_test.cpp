// The model's stored-record queries, run once over the in-memory fake of the store and once
// over the real storage manager on a SQLite file: both must give the same answers.
#include <gtest/gtest.h>

#include <set>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconRegionVisit.h"
#include "beacons/model/KSBeaconVisit.h"
#include "beacons/model/KSEvent.h"
#include "testing/StorageTestSupport.h"
#include "testing/FakeLocalStorage.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;

struct FakeBackend {
  std::shared_ptr<testing::FakeLocalStorage> store = std::make_shared<testing::FakeLocalStorage>();
  testing::ScopedModelRegistry registry{{.store = store}};

  void add(const std::string& entity, Dict values) {
    store->rows[entity].push_back(std::make_shared<testing::FakeStoredRow>(entity, std::move(values)));
  }
  // A beacon row the store cannot turn into a beacon.
  void addUnconvertibleBeacon() { add("KSBeacon", {{"syncStatus", Value(2)}}); }
  void drain() {}
};

struct SqliteBackend {
  testing::StorageFixture s;

  void add(const std::string& entity, Dict values) {
    if (entity == "KSBeacon") values.emplace("beaconID", Value("B"));
    s.insert(entity, values);
  }
  void addUnconvertibleBeacon() {
    add("KSBeacon", {{"serialNumber", Value("bad")}, {"eddystoneUIDString", Value("not a UID")}, {"syncStatus", Value(2)}});
  }
  void drain() { s.drain(); }
};

template <class Backend>
class StoredQueriesTest : public ::testing::Test {
 protected:
  Backend backend;
};

using Backends = ::testing::Types<FakeBackend, SqliteBackend>;
TYPED_TEST_SUITE(StoredQueriesTest, Backends);

TYPED_TEST(StoredQueriesTest, BeaconQueriesNeverReturnUnauthorisedOrUnconvertibleRows) {
  auto& b = this->backend;
  for (auto [serial, status] : std::vector<std::pair<const char*, Value>>{
           {"A", Value(2)}, {"B", Value(1)}, {"C", Value(0)}, {"D", Value(2)}, {"E", Value()}}) {
    Dict d{{"serialNumber", Value(serial)}};
    if (!status.isAbsent()) d.emplace("syncStatus", status);
    b.add("KSBeacon", d);
  }
  b.addUnconvertibleBeacon();
  const auto serials = [&](const std::optional<KSStorePredicate>& p) {
    std::set<std::string> out;
    bool called = false;
    KSBeacon::storedBeaconsWithPredicate(p, std::vector<KSSortDescriptor>{{"serialNumber", false}},
                                         [&](std::vector<std::shared_ptr<KSBeacon>> beacons) {
                                           called = true;
                                           for (const auto& x : beacons) out.insert(*x->serialNumber());
                                         });
    b.drain();
    EXPECT_TRUE(called);
    return out;
  };
  EXPECT_EQ(serials(std::nullopt), (std::set<std::string>{"A", "C", "D", "E"})) << "a row without a status is kept";
  EXPECT_EQ(serials(KSStorePredicate{{{"syncStatus", KSStoreCondition::Op::Equal, Value(2)}}}),
            (std::set<std::string>{"A", "D"}));
  EXPECT_EQ(serials(KSStorePredicate{{{"serialNumber", KSStoreCondition::Op::Equal, Value("B")}}}),
            std::set<std::string>{});

  std::optional<std::uint64_t> count;
  KSBeacon::numberOfBeaconsWithPredicate(std::nullopt, [&](std::uint64_t n) { count = n; });
  b.drain();
  EXPECT_EQ(count, 5u) << "counts every authorised row, convertible or not";
}

TYPED_TEST(StoredQueriesTest, VisitQueriesBindTheRowsTheyReturn) {
  auto& b = this->backend;
  b.add("KSBeaconVisit", {{"beaconVisitID", Value("open")}, {"beganAt", Value(Date::fromUnixSeconds(10))}});
  b.add("KSBeaconVisit", {{"beaconVisitID", Value("ended")}, {"beganAt", Value(Date::fromUnixSeconds(5))},
                          {"endedAt", Value(Date::fromUnixSeconds(6))}});
  b.add("KSBeaconRegionVisit", {{"beaconRegionVisitID", Value("rv")}});

  std::vector<std::shared_ptr<KSBeaconVisit>> visits;
  const KSStorePredicate open{{{"endedAt", KSStoreCondition::Op::Equal, Value()}}};
  KSBeaconVisit::storedVisitsWithPredicate(open, std::nullopt, [&](const auto& v) { visits = v; }, nullptr);
  b.drain();
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0]->beaconVisitID(), "open");
  ASSERT_TRUE(visits[0]->managedBeaconVisit());
  visits[0]->setSessionUUID("written through");
  EXPECT_EQ(visits[0]->managedBeaconVisit()->valueForKey("sessionUUID"), Value("written through"));

  std::optional<std::uint64_t> visitCount, regionCount;
  KSBeaconVisit::numberOfVisitsWithPredicate(std::nullopt, [&](std::uint64_t n) { visitCount = n; }, nullptr);
  KSBeaconRegionVisit::numberOfVisitsWithPredicate(std::nullopt, [&](std::uint64_t n) { regionCount = n; }, nullptr);
  b.drain();
  EXPECT_EQ(visitCount, 2u);
  EXPECT_EQ(regionCount, 1u);
}

TYPED_TEST(StoredQueriesTest, EventQueriesReadEveryStoredField) {
  auto& b = this->backend;
  b.add("KSEvent", {{"eventID", Value("e1")}, {"eventName", Value("Entered")}, {"rssi", Value(-70)},
                    {"lastPostedAt", Value(Date::fromUnixSeconds(30))}});
  b.add("KSEvent", {{"eventID", Value("e2")}});
  b.add("KSEvent", {{"eventID", Value("e3")}, {"eventName", Value("deleted")}});
  std::vector<std::shared_ptr<KSEvent>> events;
  const KSStorePredicate notDeleted{{{"eventName", KSStoreCondition::Op::NotEqual, Value("deleted")}}};
  KSEvent::storedEventsWithPredicate(notDeleted, std::nullopt, [&](const auto& e) { events = e; }, nullptr);
  b.drain();
  ASSERT_EQ(events.size(), 2u) << "an event without a name is not 'deleted'";
  std::map<std::string, std::shared_ptr<KSEvent>> byID;
  for (const auto& e : events) byID[*e->eventID()] = e;
  ASSERT_TRUE(byID.count("e1"));
  EXPECT_EQ(byID["e1"]->eventName(), "Entered");
  EXPECT_EQ(byID["e1"]->rssi(), Value(-70));
  EXPECT_EQ(byID["e1"]->lastPostedAt(), Date::fromUnixSeconds(30));
  EXPECT_TRUE(byID.count("e2"));
}

}  // namespace
}  // namespace velmora::kestrine
