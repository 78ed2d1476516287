#include "beacons/storage/KSAnalytics.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSMTDates.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/storage/KSEventSummary.h"
#include "testing/StorageTestSupport.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Date;
using platform::Dict;
using platform::Value;
using platform::store::Predicate;

std::shared_ptr<KSCategory> category(const char* id) {
  auto c = std::make_shared<KSCategory>();
  c->setCategoryID(id);
  return c;
}

std::shared_ptr<KSBeacon> beacon(const char* id, std::optional<std::string> serial, std::vector<const char*> categories) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setSerialNumber(std::move(serial));
  std::vector<std::shared_ptr<KSCategory>> list;
  for (const char* c : categories) list.push_back(category(c));
  b->setCategories(std::move(list));
  return b;
}

// In Berlin, now is Wednesday 11 June 2025 at noon. The visits of beacon S1 sit on the edges of
// its days, weeks and months; S2 and a beacon without a serial number have one visit each.
class KSAnalyticsTest : public ::testing::TestWithParam<const char*> {
 protected:
  static Date berlin(int month, int day, int hour = 0, int minute = 0, int second = 0) {
    return mt::dateFromYear(2025, month, day, hour, minute, second);
  }

  void SetUp() override {
    mt::setLocale(GetParam());
    now = berlin(6, 11, 12);
    storage.emplace(std::make_shared<platform::dispatch::VirtualScheduler>(now));
    s1 = beacon("B1", "S1", {"C1", "C2"});
    s2 = beacon("B2", "S2", {"C1"});
    noSerial = beacon("B3", std::nullopt, {"C3"});
    auto& m = storage->manager();
    m.storeBeacon(s1);
    m.storeBeacon(s2);
    storage->drain();
    const auto rowOf = [&](const char* serial) { return storage->rows("KSBeacon", Predicate::eq("serialNumber", serial))[0].id.pk; };
    const auto visit = [&](std::optional<std::int64_t> beaconRow, Value serial, Date began, std::optional<Date> ended = {}) {
      Dict d{{"beganAt", Value(began)}, {"serialNumber", serial}};
      if (beaconRow) d.emplace("beacon", Value(*beaconRow));
      if (ended) d.emplace("endedAt", Value(*ended));
      storage->insert("KSBeaconVisit", d);
    };
    const auto b1 = rowOf("S1");
    visit(b1, Value("S1"), berlin(6, 11));                                          // start of today
    visit(b1, Value("S1"), berlin(6, 11, 23, 59, 59));                              // last second of today
    visit(b1, Value("S1"), berlin(6, 11, 23, 59, 59).addingTimeInterval(0.5));     // its last half second
    visit(b1, Value("S1"), berlin(6, 10, 23), berlin(6, 11, 0, 30));                // yesterday into today
    visit(b1, Value("S1"), berlin(6, 12));                                          // start of tomorrow
    visit(b1, Value("S1"), berlin(6, 8, 12));                                       // Sunday before
    visit(b1, Value("S1"), berlin(6, 15, 12));                                      // Sunday after
    visit(b1, Value("S1"), berlin(5, 31, 23, 59, 59).addingTimeInterval(0.5));     // end of May
    visit(b1, Value("S1"), now);                                                    // now
    visit(rowOf("S2"), Value("S2"), berlin(6, 11, 10));
    // A visit row of a beacon without a serial number (its row made directly: the manager
    // stores beacons by serial number only).
    const auto b3 = storage->insert("KSBeacon", {{"beaconID", Value("B3")}}).pk;
    storage->insert("KSBeaconCategory", {{"beaconID", Value("B3")}, {"categoryID", Value("C3")}, {"beacon", Value(b3)}});
    visit(b3, Value(), berlin(6, 11, 9));
  }
  void TearDown() override {
    storage.reset();
    mt::setLocale(std::nullopt);
  }

  template <class Record, class Query>
  std::optional<std::uint64_t> count(const Record& record, Query query) {
    std::optional<std::uint64_t> out;
    query(record, [&](std::uint64_t n) { out = n; }, [&](const platform::Error& e) { ADD_FAILURE() << e.localizedDescription; });
    EXPECT_FALSE(out) << "counts arrive on the main queue";
    storage->drain();
    return out;
  }

  bool german() const { return std::string(GetParam()) == "de_DE"; }

  velmora::testing::ScopedTimeZone zone{"Europe/Berlin"};
  Date now;
  std::optional<testing::StorageFixture> storage;
  std::shared_ptr<KSBeacon> s1, s2, noSerial;
};

TEST_P(KSAnalyticsTest, BeaconVisitsCountPerWindow) {
  namespace a = analytics;
  using H = a::CountHandler;
  using F = a::FailureHandler;
  struct Case {
    const char* name;
    std::function<void(const KSBeacon&, H, F)> query;
    std::uint64_t expected;
  };
  const Date farFuture = berlin(12, 31).addingTimeInterval(86400.0 * 365 * 10);
  const std::vector<Case> cases = {
      {"today", [](auto& b, H s, F f) { a::numberOfVisitsToday(b, s, f); }, 4},
      {"yesterday", [](auto& b, H s, F f) { a::numberOfVisitsYesterday(b, s, f); }, 1},
      // en_US weeks run Sunday 8 to Saturday 14 June, de_DE weeks Monday 9 to Sunday 15.
      {"this week", [](auto& b, H s, F f) { a::numberOfVisitsThisWeek(b, s, f); }, 7},
      {"last week", [](auto& b, H s, F f) { a::numberOfVisitsLastWeek(b, s, f); }, german() ? 1u : 0u},
      {"this month", [](auto& b, H s, F f) { a::numberOfVisitsThisMonth(b, s, f); }, 8},
      {"last month", [](auto& b, H s, F f) { a::numberOfVisitsLastMonth(b, s, f); }, 1},
      {"since start of today", [&](auto& b, H s, F f) { a::numberOfVisitsSinceDate(b, berlin(6, 11), s, f); }, 2},
      {"until start of today", [&](auto& b, H s, F f) { a::numberOfVisitsUntilDate(b, berlin(6, 11), s, f); }, 4},
      {"until the far future", [&](auto& b, H s, F f) { a::numberOfVisitsUntilDate(b, farFuture, s, f); }, 9},
      {"from 23:00 yesterday until midnight",
       [&](auto& b, H s, F f) { a::numberOfVisitsFromDate(b, berlin(6, 10, 23), berlin(6, 11), s, f); }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(count(*s1, c.query), c.expected);
  }
  EXPECT_EQ(count(*s2, [](auto& b, H s, F f) { a::numberOfVisitsToday(b, s, f); }), 1u);
  EXPECT_EQ(count(*noSerial, [](auto& b, H s, F f) { a::numberOfVisitsToday(b, s, f); }), 1u)
      << "a beacon without a serial number counts the rows without one";
}

TEST_P(KSAnalyticsTest, CategoryVisitsCountOncePerVisitAndFollowTheBeaconsCategories) {
  namespace a = analytics;
  const auto today = [&](const char* id) {
    return count(*category(id), [](auto& c, a::CountHandler s, a::FailureHandler f) { a::numberOfVisitsToday(c, s, f); });
  };
  EXPECT_EQ(today("C1"), 5u) << "S1's four visits today and S2's one";
  EXPECT_EQ(today("C2"), 4u);
  EXPECT_EQ(today("C3"), 1u);
  EXPECT_EQ(today("none"), 0u);

  // S1 drops C1: its row is unlinked, so S1's visits no longer count for C1.
  storage->manager().storeBeacon(beacon("B1", "S1", {"C2"}));
  storage->drain();
  EXPECT_EQ(today("C1"), 1u);
  EXPECT_EQ(today("C2"), 4u);
}

TEST_P(KSAnalyticsTest, StorageOffCountsZeroAtOnce) {
  storage->setEnabled(false);
  std::optional<std::uint64_t> n;
  analytics::numberOfVisitsToday(*s1, [&](std::uint64_t v) { n = v; });
  EXPECT_EQ(n, 0u);
}

INSTANTIATE_TEST_SUITE_P(Locales, KSAnalyticsTest, ::testing::Values("en_US", "de_DE"));

// --- event summaries ----------------------------------------------------------------------------

TEST(KSEventSummaryQueries, FetchInOrderAndCount) {
  testing::StorageFixture storage;
  for (auto [id, n] : std::vector<std::pair<const char*, int>>{{"b", 2}, {"a", 7}, {"c", 1}}) {
    auto summary = std::make_shared<KSEventSummary>();
    summary->setEventIdentifier(id);
    summary->setTriggeredCount(n);
    storage.manager().storeEventSummary(summary);
  }
  storage.drain();
  std::vector<std::string> ids;
  KSEventSummary::storedEventSummariesWithPredicate(Predicate::gt("triggeredCount", 1), {{"eventIdentifier", true}},
                                                    [&](auto summaries) {
                                                      for (const auto& s : summaries) ids.push_back(*s->eventIdentifier());
                                                    });
  storage.drain();
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));

  std::optional<std::uint64_t> n;
  KSEventSummary::numberOfEventSummariesWithPredicate({}, [&](std::uint64_t v) { n = v; });
  storage.drain();
  EXPECT_EQ(n, 3u);

  std::optional<platform::Error> failed;
  KSEventSummary::storedEventSummariesWithPredicate(Predicate::eq("noSuchKey", 1), {}, [](auto) { ADD_FAILURE(); },
                                                    [&](platform::Error e) { failed = e; });
  KSEventSummary::numberOfEventSummariesWithPredicate(Predicate::eq("noSuchKey", 1), [](std::uint64_t) { ADD_FAILURE(); },
                                                      [&](platform::Error) {});
  storage.drain();
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->domain, "com.kestrine.KSLocalStorageManager");
  EXPECT_EQ(failed->code, -1);
  EXPECT_EQ(failed->localizedDescription, "Unable to fetch entities from local storage");
}

}  // namespace
}  // namespace velmora::kestrine
