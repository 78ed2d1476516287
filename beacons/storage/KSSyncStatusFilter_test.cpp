#include "beacons/storage/KSSyncStatusFilter.h"

#include <gtest/gtest.h>

#include "beacons/storage/KSManagedObjectContextProvider.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::ObjectID;
using platform::store::Predicate;
using platform::store::StoreContext;
using P = Predicate;

const Date T0 = Date::fromUnixMicros(1'750'000'000'000'000);
Date at(double seconds) { return T0.addingTimeInterval(seconds); }

// Four beacons (one unauthorised, one without a sync status or serial number, one whose
// name holds a quote), their categories, and five visits.
class PredicateTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store = provider.store();
    ASSERT_TRUE(store);
    store->performAndWait([&](StoreContext& c) {
      auto region = c.insert("KSBeaconRegion", {{"identifier", Value("R1")}});
      auto beacon = [&](const char* id, Value serial, Value status, Value name, std::optional<ObjectID> r) {
        Dict d{{"beaconID", Value(id)}, {"serialNumber", serial}, {"syncStatus", status}, {"name", name}};
        if (r) d["beaconRegion"] = Value(r->pk);
        return *c.insert("KSBeacon", d);
      };
      auto b1 = beacon("B1", Value("S1"), Value(2), Value("it's"), region);
      auto b2 = beacon("B2", Value("S2"), Value(1), Value("x"), std::nullopt);
      auto b3 = beacon("B3", Value(), Value(), Value(), std::nullopt);
      auto b4 = beacon("B4", Value("S4"), Value(3), Value("it"), std::nullopt);
      auto category = [&](ObjectID b, const char* id, const char* name) {
        ASSERT_TRUE(c.insert("KSBeaconCategory", {{"beaconID", c.value(b, "beaconID")},
                                                  {"categoryID", Value(id)},
                                                  {"name", Value(name)},
                                                  {"beacon", Value(b.pk)}}));
      };
      category(b1, "C1", "Food");
      category(b1, "C2", "Drink");
      category(b2, "C1", "Food");
      category(b4, "C2", "Drink");
      auto visit = [&](const char* id, ObjectID b, double began, std::optional<double> ended,
                       std::optional<double> posted) {
        Dict d{{"beaconVisitID", Value(id)}, {"beganAt", Value(at(began))}, {"beacon", Value(b.pk)},
               {"serialNumber", c.value(b, "serialNumber")}};
        if (ended) d["endedAt"] = Value(at(*ended));
        if (posted) d["lastPostedAt"] = Value(at(*posted));
        ASSERT_TRUE(c.insert("KSBeaconVisit", d));
      };
      visit("v1", b1, 0, 10, 10);
      visit("v2", b1, 100, 110, 200);
      visit("v3", b2, 200, std::nullopt, std::nullopt);
      visit("v4", b3, 300, 310, 305);
      visit("v5", b4, 400.5, std::nullopt, std::nullopt);
      ASSERT_TRUE(c.save());
    });
  }

  std::vector<std::string> select(const std::string& entity, const Predicate& p, const char* key) {
    std::vector<std::string> out;
    store->performAndWait([&](StoreContext& c) {
      platform::Error error;
      auto rows = c.fetch({.entity = entity, .predicate = p}, &error);
      ASSERT_TRUE(rows) << error.localizedDescription;
      for (const auto& r : *rows) out.push_back(*r[key].string());
      EXPECT_EQ(c.count(entity, p), static_cast<std::int64_t>(out.size()));
    });
    return out;
  }

  velmora::testing::TempDir dir;
  KSManagedObjectContextProvider provider{dir.path(), std::make_shared<platform::dispatch::VirtualScheduler>()};
  std::shared_ptr<platform::store::ObjectStore> store;
};

using Ids = std::vector<std::string>;

TEST_F(PredicateTableTest, BeaconPredicatesSelectTheirRows) {
  struct Case {
    const char* name;
    Predicate predicate;
    Ids expected;
  } cases[] = {
      {"no predicate", P(), {"B1", "B2", "B3", "B4"}},
      {"equal to nil", P::eq("serialNumber", Value()), {"B3"}},
      {"not equal to nil", P::ne("serialNumber", Value()), {"B1", "B2", "B4"}},
      {"not equal keeps an empty status", P::ne("syncStatus", 1), {"B1", "B3", "B4"}},
      {"ordering leaves an empty status out", P::gt("syncStatus", 1), {"B1", "B4"}},
      {"NOT of an ordering keeps it", !P::gt("syncStatus", 2), {"B1", "B2", "B3"}},
      {"OR", P::eq("serialNumber", "S1") || P::eq("serialNumber", "S4"), {"B1", "B4"}},
      {"AND", P::ne("syncStatus", 1) && P::ne("serialNumber", Value()), {"B1", "B4"}},
      {"an OR of nothing", P::anyOf({}), {}},
      {"an OR with no predicate", P() || P::eq("serialNumber", "S1"), {"B1", "B2", "B3", "B4"}},
      {"NOT of no predicate", !P(), {}},
      {"a quote matches literally", P::eq("name", "it's"), {"B1"}},
      {"an injection attempt is only a text", P::eq("name", "it' OR '1'='1"), {}},
      {"to-one key path", P::eq("beaconRegion.identifier", "R1"), {"B1"}},
      {"any category named Food", P::anyMember("categories", P::eq("name", "Food")), {"B1", "B2"}},
      {"no category named Food", !P::anyMember("categories", P::eq("name", "Food")), {"B3", "B4"}},
      {"with status 1", SyncStatusFilter::withSyncStatus(P(), 1), {"B2"}},
      {"without status 1 on none", SyncStatusFilter::withoutSyncStatus(P(), 1), {"B1", "B3", "B4"}},
      {"without status 1 on a key", SyncStatusFilter::withoutSyncStatus(P::eq("serialNumber", "S2"), 1), {}},
      {"without status 1 on a subquery",
       SyncStatusFilter::withoutSyncStatus(P::anyMember("categories", P::eq("categoryID", "C1")), 1),
       {"B1"}},
  };
  for (const auto& k : cases) EXPECT_EQ(select("KSBeacon", k.predicate, "beaconID"), k.expected) << k.name;
}

TEST_F(PredicateTableTest, VisitPredicatesSelectTheirRows) {
  struct Case {
    const char* name;
    Predicate predicate;
    Ids expected;
  } cases[] = {
      {"date bounds, both inclusive", P::ge("beganAt", at(100)) && P::le("beganAt", at(300)), {"v2", "v3", "v4"}},
      {"before a date", P::lt("beganAt", at(100)), {"v1"}},
      {"a date to the microsecond", P::eq("beganAt", at(400.5)), {"v5"}},
      {"a microsecond off", P::eq("beganAt", at(400.500001)), {}},
      {"posted at or after its end", P::compareKeyPaths("lastPostedAt", P::Op::GreaterOrEqual, "endedAt"), {"v1", "v2"}},
      {"posted after its end", P::compareKeyPaths("lastPostedAt", P::Op::Greater, "endedAt"), {"v2"}},
      {"open visits", P::eq("endedAt", Value()), {"v3", "v5"}},
      {"beacon's serial number", P::eq("beacon.serialNumber", "S1"), {"v1", "v2"}},
      {"beacon's status, null-safe", P::ne("beacon.syncStatus", 1), {"v1", "v2", "v4", "v5"}},
      {"beacon's region through two steps", P::eq("beacon.beaconRegion.identifier", "R1"), {"v1", "v2"}},
      {"any category of the beacon", P::anyMember("beacon.categories", P::eq("categoryID", "C1")), {"v1", "v2", "v3"}},
      {"window and category",
       P::ge("beganAt", at(0)) && P::le("beganAt", at(1000)) &&
           P::anyMember("beacon.categories", P::eq("categoryID", "C2")),
       {"v1", "v2", "v5"}},
      {"serial number nil", P::eq("serialNumber", Value()), {"v4"}},
  };
  for (const auto& k : cases) EXPECT_EQ(select("KSBeaconVisit", k.predicate, "beaconVisitID"), k.expected) << k.name;
}

}  // namespace
}  // namespace velmora::kestrine
