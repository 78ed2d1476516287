#include "beacons/microlocation/KSEventFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"

namespace velmora::kestrine {
namespace {

using Beacons = KSEventFiltering::Beacons;
using platform::Date;

const Date kStart = Date::fromUnixSeconds(1'700'000'000);

std::shared_ptr<KSBeacon> beacon(const std::string& id, double accuracy = 1.0) {
  auto b = std::make_shared<KSBeacon>();
  b->setBeaconID(id);
  b->setSerialNumber("sn-" + id);
  b->setAccuracy(accuracy);
  return b;
}

// One pass of a filter at t seconds after the start.
std::optional<Beacons> pass(KSEventFilter& filter, double t, const std::optional<Beacons>& beacons,
                            std::optional<Date> lastTriggeredAt = std::nullopt) {
  KSEventFilterContext context;
  context.setNow(kStart.addingTimeInterval(t));
  context.setBeaconsToFilter(beacons);
  context.setLastTriggeredAt(lastTriggeredAt);
  return filter.filterBeaconsForEvent(context);
}

std::vector<std::string> ids(const std::optional<Beacons>& beacons) {
  std::vector<std::string> out;
  if (!beacons) return {"<none>"};
  for (const auto& b : *beacons) out.push_back(b->beaconID().value_or("?"));
  return out;
}
const std::vector<std::string> kNone{"<none>"};
const std::vector<std::string> kEmpty{};
std::vector<std::string> only(const std::string& id) { return {id}; }

TEST(KSEventFilter, BlocksAndState) {
  KSEventFilter bare;
  EXPECT_EQ(ids(pass(bare, 0, Beacons{beacon("a")})), kEmpty);
  EXPECT_TRUE(bare.filterState().dict());
  EXPECT_FALSE(bare.shouldApplyFilterWhenNoBeaconsRemaining());

  // A host block keeps its memory in the state dictionary.
  KSEventFilter counting([](KSEventFilterContext& c, platform::Value& state) -> std::optional<Beacons> {
    state.set("n", state["n"].toInt64().value_or(0) + 1);
    return c.beaconsToFilter();
  });
  pass(counting, 0, Beacons{});
  pass(counting, 1, Beacons{});
  EXPECT_EQ(counting.filterState()["n"].toInt64(), 2);

  EXPECT_TRUE(KSEventFilter::filterByExitedBeaconAfterTimeIntervalUnmatched(1)->shouldApplyFilterWhenNoBeaconsRemaining());
  EXPECT_TRUE(KSEventFilter::filterByExitedAllBeaconsAfterTimeInterval(1)->shouldApplyFilterWhenNoBeaconsRemaining());
  EXPECT_TRUE(KSEventFilter::filterByReassembledBlockDataWithDataType(1)->shouldApplyFilterWhenNoBeaconsRemaining());
  EXPECT_FALSE(KSEventFilter::filterByClosestBeacon()->shouldApplyFilterWhenNoBeaconsRemaining());
}

TEST(KSEventFilter, Closest) {
  auto closest = KSEventFilter::filterByClosestBeacon();
  EXPECT_EQ(ids(pass(*closest, 0, Beacons{beacon("u1", -1), beacon("u2", -1), beacon("z", 0.0), beacon("t", 2.0)})),
            only("z"));
  EXPECT_EQ(ids(pass(*closest, 0, Beacons{beacon("u1", -1)})), kNone);
  EXPECT_EQ(ids(pass(*closest, 0, Beacons{beacon("nan", std::nan("")), beacon("t", 2.0)})), only("t"));

  auto changed = KSEventFilter::filterByClosestBeaconChanged();
  auto a = beacon("A", 1.0), b = beacon("B", 0.5), unknown = beacon("U", -1.0);
  EXPECT_EQ(ids(pass(*changed, 0, Beacons{a})), only("A"));
  EXPECT_EQ(ids(pass(*changed, 1, Beacons{a})), kNone);
  EXPECT_EQ(ids(pass(*changed, 2, Beacons{b, a})), only("B"));
  EXPECT_EQ(ids(pass(*changed, 3, Beacons{unknown, b})), kNone);  // state untouched: B stays previous
  EXPECT_EQ(ids(pass(*changed, 4, Beacons{b})), kNone);
  EXPECT_EQ(ids(pass(*changed, 5, Beacons{beacon("N", std::nan("")), a})), kNone);
}

TEST(KSEventFilter, SmoothedAccuracy) {
  auto f = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5);
  auto a = beacon("A");
  std::vector<std::optional<double>> expected{std::nullopt, 1.5, 1.5, 2.0};
  std::vector<double> samples{1.0, 2.0, -1.0, 3.0};
  for (std::size_t i = 0; i < samples.size(); ++i) {
    a->setAccuracy(samples[i]);
    auto out = pass(*f, static_cast<double>(i), Beacons{a});
    ASSERT_TRUE(out);
    if (!expected[i]) {
      EXPECT_TRUE(out->empty()) << "pass " << i;
    } else {
      ASSERT_EQ(out->size(), 1u) << "pass " << i;
      EXPECT_EQ(out->front()->accuracy(), *expected[i]) << "pass " << i;
      EXPECT_NE(out->front(), a);  // a copy
    }
  }
  EXPECT_EQ(a->accuracy(), 3.0);

  // The mean is taken in single precision.
  auto g = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5);
  a->setAccuracy(0.1);
  pass(*g, 0, Beacons{a});
  a->setAccuracy(0.2);
  auto out = pass(*g, 1, Beacons{a});
  ASSERT_EQ(out->size(), 1u);
  EXPECT_EQ(out->front()->accuracy(), 0.15000000596046448);

  // A NaN never enters the mean.
  a->setAccuracy(std::nan(""));
  out = pass(*g, 2, Beacons{a});
  EXPECT_EQ(out->front()->accuracy(), 0.15000000596046448);
}

TEST(KSEventFilter, SmoothedAccuracyWindowGapAndShortInterval) {
  auto f = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(2);
  auto a = beacon("A");
  // T = 2 keeps three samples: the 4th pass averages passes 2-4.
  std::optional<Beacons> out;
  for (int i = 0; i < 4; ++i) {
    a->setAccuracy(static_cast<double>(i + 1) * 10);  // 10, 20, 30, 40
    out = pass(*f, i, Beacons{a});
  }
  EXPECT_EQ(out->front()->accuracy(), 30.0);
  // Not heard for 2.0 s: the history restarts, so one sample is too few.
  a->setAccuracy(1.0);
  EXPECT_TRUE(pass(*f, 5, Beacons{a})->empty());

  auto passThrough = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(1.5);
  auto same = pass(*passThrough, 0, Beacons{a});
  ASSERT_EQ(same->size(), 1u);
  EXPECT_EQ(same->front(), a);
  EXPECT_EQ(ids(pass(*passThrough, 0, std::nullopt)), kNone);
}

TEST(KSEventFilter, IntervalsThatAreNotANumberNegativeOrInfiniteAreBounded) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {std::nan(""), -5.0, -inf}) {
    // Counted as 0: shorter than any smoothing window, so the beacons pass as they are.
    auto f = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(bad);
    auto a = beacon("A", 2.0);
    for (int i = 0; i < 3; ++i) {
      auto out = pass(*f, i, Beacons{a});
      ASSERT_EQ(out->size(), 1u) << bad;
      EXPECT_EQ(out->front(), a) << bad;
    }
  }
  // An infinite window keeps the longest window allowed (its whole part plus one samples),
  // not every sample.
  auto f = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(inf);
  auto a = beacon("A");
  std::optional<Beacons> out;
  for (int i = 0; i < 1000; ++i) {
    a->setAccuracy(static_cast<double>(i));
    out = pass(*f, i, Beacons{a});
  }
  const double kept = KSEventFilter::kMaximumSmoothingTimeInterval + 1;
  ASSERT_EQ(out->size(), 1u);
  EXPECT_EQ(out->front()->accuracy(), 999.0 - (kept - 1) / 2);

  // A timing filter given an infinite interval still lets a beacon pass again, a week on.
  auto between = KSEventFilter::filterByMinTimeIntervalBetweenBeaconMatches(inf);
  EXPECT_EQ(ids(pass(*between, 0, Beacons{a})), only("A"));
  EXPECT_EQ(ids(pass(*between, 86400, Beacons{a})), kEmpty);
  EXPECT_EQ(ids(pass(*between, KSEventFilter::kMaximumTimeInterval + 1, Beacons{a})), only("A"));
}

TEST(KSEventFilter, PassingBeaconsLeaveThePerBeaconTablesAsTheyWouldBeFresh) {
  // Thousands of beacons each heard once, then one of the first ones again: it is treated as
  // new (its old entry was stale, whether swept or not), and the recent ones keep their state.
  auto entered = KSEventFilter::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(10);
  auto smoothed = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5);
  for (int i = 0; i < 5000; ++i) {
    auto b = beacon(fmt::format("P{}", i));
    EXPECT_EQ(ids(pass(*entered, i, Beacons{b})).size(), 1u);
    pass(*smoothed, i, Beacons{b});
  }
  EXPECT_EQ(ids(pass(*entered, 5000, Beacons{beacon("P0")})), only("P0"));
  EXPECT_EQ(ids(pass(*entered, 5001, Beacons{beacon("P4999")})), kEmpty);  // heard 2 s ago
  EXPECT_TRUE(pass(*smoothed, 5000, Beacons{beacon("P0")})->empty());      // history restarted
  EXPECT_EQ(ids(pass(*smoothed, 5001, Beacons{beacon("P4999")})), only("P4999"));
}

TEST(KSEventFilter, SmoothedAccuracySortsNearestFirstAndSkipsBeaconsWithoutID) {
  auto f = KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5);
  auto far = beacon("far", 9.0), near = beacon("near", 1.0), anonymous = std::make_shared<KSBeacon>();
  anonymous->setAccuracy(0.1);
  pass(*f, 0, Beacons{far, anonymous, near});
  EXPECT_EQ(ids(pass(*f, 1, Beacons{far, anonymous, near})), (std::vector<std::string>{"near", "far"}));
}

TEST(KSEventFilter, SmoothedRSSI) {
  struct Case {
    std::vector<std::optional<std::int64_t>> samples;
    std::optional<std::int64_t> power;
    std::int64_t rssi;
    const char* accuracy;  // as printed with 8 significant digits
  };
  const std::vector<Case> cases{
      {{-69, -69}, -59, -69, "3.1622777"},
      {{-70, -69}, -59, -70, "3.5481339"},   // -69.5 rounds away from zero
      {{-69, 0, 5, -69}, -59, -69, "3.1622777"},  // samples >= 0 stay out
      {{-69, -69}, std::nullopt, -69, "2818.3829"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    auto f = KSEventFilter::filterApplySmoothedRSSIOverTimeInterval(5);
    auto a = beacon("A");
    if (c.power) a->setMeasuredPowerAt1Meter(platform::Value(*c.power));
    std::optional<Beacons> out;
    for (std::size_t s = 0; s < c.samples.size(); ++s) {
      a->setRssi(platform::Value(*c.samples[s]));
      out = pass(*f, static_cast<double>(s), Beacons{a});
    }
    ASSERT_TRUE(out && out->size() == 1) << "case " << i;
    EXPECT_EQ(out->front()->rssi().toInt64(), c.rssi) << "case " << i;
    EXPECT_EQ(fmt::format("{:.8g}", out->front()->accuracy()), c.accuracy) << "case " << i;
    EXPECT_EQ(a->rssi().toInt64(), *c.samples.back()) << "the source keeps its own signal";
  }
}

TEST(KSEventFilter, SmoothedRSSISkipsBeaconsWithoutSignalAndSortsNearestFirst) {
  auto f = KSEventFilter::filterApplySmoothedRSSIOverTimeInterval(5);
  auto weak = beacon("weak"), strong = beacon("strong"), silent = beacon("silent");
  weak->setMeasuredPowerAt1Meter(platform::Value(-59));
  strong->setMeasuredPowerAt1Meter(platform::Value(-59));
  weak->setRssi(platform::Value(-90));
  strong->setRssi(platform::Value(-60));
  for (int t = 0; t < 2; ++t) {
    auto out = pass(*f, t, Beacons{weak, silent, strong});
    if (t == 1) {
      EXPECT_EQ(ids(out), (std::vector<std::string>{"strong", "weak"}));
    }
  }
}

TEST(KSEventFilter, MinimumHeard) {
  auto f = KSEventFilter::filterByMinTimeIntervalBeaconMatched(10, 5);
  auto a = beacon("A");
  std::vector<int> kept;
  for (int t = 0; t <= 11; ++t) {
    if (!pass(*f, t, Beacons{a})->empty()) kept.push_back(t);
  }
  EXPECT_EQ(kept, std::vector<int>{11});
  kept.clear();
  for (int t = 18; t <= 30; ++t) {
    if (!pass(*f, t, Beacons{a})->empty()) kept.push_back(t);
  }
  EXPECT_EQ(kept, (std::vector<int>{29, 30}));
}

TEST(KSEventFilter, BetweenMatchesAndBetweenTriggers) {
  auto f = KSEventFilter::filterByMinTimeIntervalBetweenBeaconMatches(30);
  auto a = beacon("A");
  std::vector<int> kept;
  for (int t = 0; t <= 70; ++t) {
    if (!pass(*f, t, Beacons{a})->empty()) kept.push_back(t);
  }
  EXPECT_EQ(kept, (std::vector<int>{0, 31, 62}));

  auto g = KSEventFilter::filterByMinTimeIntervalBetweenTriggers(30);
  EXPECT_EQ(ids(pass(*g, 100, Beacons{a}, kStart.addingTimeInterval(70))), kNone);
  EXPECT_EQ(ids(pass(*g, 100, Beacons{a}, kStart.addingTimeInterval(69))), only("A"));
  EXPECT_EQ(ids(pass(*g, 100, Beacons{a})), only("A"));
}

TEST(KSEventFilter, Entered) {
  auto f = KSEventFilter::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(60);
  auto a = beacon("A"), b = beacon("B");
  EXPECT_EQ(ids(pass(*f, 0, Beacons{a})), only("A"));
  EXPECT_EQ(ids(pass(*f, 1, Beacons{a})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 62, Beacons{a})), only("A"));  // away 61 s
  EXPECT_EQ(ids(pass(*f, 122, Beacons{a, b})), only("B"));  // away exactly 60 s
}

TEST(KSEventFilter, NeverEnteredGoesBySerialNumber) {
  auto f = KSEventFilter::filterByNeverEnteredBeacon();
  auto a = beacon("A");
  auto sameSerial = beacon("A2");
  sameSerial->setSerialNumber("sn-A");
  auto noSerial = beacon("X");
  noSerial->setSerialNumber(std::nullopt);
  EXPECT_EQ(ids(pass(*f, 0, Beacons{a, noSerial})), only("A"));
  EXPECT_EQ(ids(pass(*f, 1000, Beacons{sameSerial, noSerial})), kEmpty);
}

TEST(KSEventFilter, EnteredAny) {
  auto f = KSEventFilter::filterByEnteredAnyBeaconResetAfterTimeIntervalAllUnmatched(10);
  auto a = beacon("A");
  EXPECT_EQ(ids(pass(*f, 0, Beacons{a})), only("A"));
  EXPECT_EQ(ids(pass(*f, 5, Beacons{a})), kNone);
  EXPECT_EQ(ids(pass(*f, 16, Beacons{a})), only("A"));
}

TEST(KSEventFilter, Exited) {
  auto f = KSEventFilter::filterByExitedBeaconAfterTimeIntervalUnmatched(10);
  auto a = beacon("A"), unheard = beacon("U", -1.0);
  for (int t = 0; t <= 5; ++t) EXPECT_EQ(ids(pass(*f, t, Beacons{a, unheard})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 15, Beacons{})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 16, Beacons{})), only("A"));
  EXPECT_EQ(ids(pass(*f, 17, Beacons{})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 100, std::nullopt)), kEmpty);  // the unknown-distance beacon never entered
}

TEST(KSEventFilter, ExitedAll) {
  auto f = KSEventFilter::filterByExitedAllBeaconsAfterTimeInterval(10);
  auto a = beacon("A"), b = beacon("B");
  for (int t = 0; t <= 5; ++t) pass(*f, t, Beacons{a, b});
  for (int t = 6; t <= 8; ++t) pass(*f, t, Beacons{b});
  EXPECT_EQ(ids(pass(*f, 16, Beacons{})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 18, Beacons{})), kEmpty);
  EXPECT_EQ(ids(pass(*f, 19, Beacons{})), only("B"));
  EXPECT_EQ(ids(pass(*f, 40, Beacons{})), kEmpty);
}

TEST(KSEventFilter, CustomValuesAndCategories) {
  auto a = beacon("A"), b = beacon("B"), plain = beacon("P");
  auto cv = [](std::string k, std::string v) {
    auto c = std::make_shared<KSCustomValue>();
    c->setKey(std::move(k));
    c->setValue(std::move(v));
    return c;
  };
  a->setCustomValues(std::vector{cv("k1", "x"), cv("k2", "y")});
  b->setCustomValues(std::vector{cv("k2", "z")});
  auto food = std::make_shared<KSCategory>();
  food->setName("Food");
  food->setCategoryID("c-food");
  food->setCustomValues(std::vector{cv("zone", "north")});
  auto gate = std::make_shared<KSCategory>();
  gate->setName("Gate");
  gate->setCategoryID("c-gate");
  a->setCategories(std::vector{food, gate});
  b->setCategories(std::vector{gate});
  const Beacons all{plain, a, b};

  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCustomValuesWithKeys({"k1", "k2"}), 0, all)),
            (std::vector<std::string>{"A", "A", "B"}));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterBeaconsWithCustomValuesWithKey("k2", {"y", "z"}), 0, all)), only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterBeaconsWithCustomValuesWithKey("k2", {"q"}), 0, all)), kEmpty);
  // Category filters give each beacon once, even with two matching categories.
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCategoriesNamed({"Food", "Gate"}), 0, all)),
            (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCategoriesWithIDs({"c-food"}), 0, all)), only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCategoriesWithCustomValueKeys({"zone", "other"}), 0, all)), only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCategorieswithCustomValuesWithKey("zone", {"north"}), 0, all)),
            only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByCategorieswithCustomValuesWithKey("zone", {"south"}), 0, all)), kEmpty);
  EXPECT_TRUE(KSEventFilter::beaconHasCategoryMatchingPredicate(
      *a, [](const KSCategory& c) { return c.name() == std::optional<std::string>("Gate"); }));
  EXPECT_FALSE(KSEventFilter::beaconHasCategoryMatchingPredicate(*plain, [](const KSCategory&) { return true; }));
}

TEST(KSEventFilter, IdentityProximityRangeAndSites) {
  auto a = beacon("A", 0.0), b = beacon("B", 2.5), c = beacon("C", 2.6), n = beacon("N", std::nan(""));
  a->setProximity(1);
  b->setProximity(2);
  c->setProximity(2);
  a->setSiteID("s1");
  a->setSiteName("North");
  b->setSiteID("s2");
  const Beacons all{a, b, c, n};
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByIDs({"C", "A"}), 0, all)), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByProximity(2), 0, all)), (std::vector<std::string>{"B", "C"}));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByProximities({1, 3}), 0, all)), only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByAccuracyRange(0, 2.5), 0, all)), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterBySitesWithIDs({"s2"}), 0, all)), only("B"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterBySitesNamed({"North"}), 0, all)), only("A"));
  EXPECT_EQ(ids(pass(*KSEventFilter::filterByPredicate([](const KSBeacon& x) { return x.accuracy() > 2.55; }), 0, all)),
            only("C"));

  auto site2 = std::make_shared<KSSite>();
  site2->setSiteID("s2");
  site2->setName("South");
  KSEventFilterContext context;
  context.setBeaconsToFilter(all);
  context.setSiteForSiteID({{"s2", site2}});
  auto bySite = KSEventFilter::filterBySitesWithPredicate(
      [](const KSSite& s) { return s.name() == std::optional<std::string>("South"); });
  EXPECT_EQ(ids(bySite->filterBeaconsForEvent(context)), only("B"));
}

TEST(KSEventFilter, BlockDataOncePerNewCompletion) {
  auto f = KSEventFilter::filterByReassembledBlockDataWithDataType(7);
  auto a = beacon("A"), quiet = beacon("Q");
  auto record = [](double at) {
    platform::Value r;
    r.set(KSBlockDataTypeKey, platform::Value(std::uint64_t{7}));
    r.set(KSBlockDataReassembledAtKey, platform::Value(Date::fromUnixSeconds(at)));
    return std::make_shared<const platform::Value>(std::move(r));
  };
  a->setReassembledBlockData({record(1)});
  EXPECT_EQ(ids(pass(*f, 0, Beacons{a, quiet})), only("A"));
  EXPECT_EQ(ids(pass(*f, 1, Beacons{a, quiet})), kEmpty);
  a->setReassembledBlockData({record(1), record(2)});
  EXPECT_EQ(ids(pass(*f, 2, Beacons{a})), only("A"));
  EXPECT_EQ(ids(pass(*f, 3, Beacons{a})), kEmpty);
}

// A beacon without the key a stateful filter keeps its memory by is left out, and the other
// beacons' output is what it would have been without it.
TEST(KSEventFilter, BeaconsWithoutIdentityLeaveOthersUnchanged) {
  auto anonymous = std::make_shared<KSBeacon>();
  anonymous->setAccuracy(0.5);
  anonymous->setRssi(platform::Value(-60));
  using Factory = std::function<std::shared_ptr<KSEventFilter>()>;
  const std::vector<std::pair<const char*, Factory>> factories{
      {"minHeard", [] { return KSEventFilter::filterByMinTimeIntervalBeaconMatched(1, 5); }},
      {"betweenMatches", [] { return KSEventFilter::filterByMinTimeIntervalBetweenBeaconMatches(1); }},
      {"smoothedAccuracy", [] { return KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(5); }},
      {"smoothedRSSI", [] { return KSEventFilter::filterApplySmoothedRSSIOverTimeInterval(5); }},
      {"entered", [] { return KSEventFilter::filterByEnteredBeaconResetAfterTimeIntervalUnmatched(1); }},
      {"neverEntered", [] { return KSEventFilter::filterByNeverEnteredBeacon(); }},
      {"exited", [] { return KSEventFilter::filterByExitedBeaconAfterTimeIntervalUnmatched(1); }},
      {"exitedAll", [] { return KSEventFilter::filterByExitedAllBeaconsAfterTimeInterval(1); }},
  };
  for (const auto& [name, factory] : factories) {
    auto with = factory(), without = factory();
    auto a = beacon("A", 1.0), b = beacon("B", 2.0);
    a->setRssi(platform::Value(-65));
    b->setRssi(platform::Value(-70));
    for (int t = 0; t < 6; ++t) {
      const Beacons heard = t < 3 ? Beacons{a, b} : Beacons{};
      Beacons heardWithAnonymous = heard;
      heardWithAnonymous.insert(heardWithAnonymous.begin() + (heard.empty() ? 0 : 1), anonymous);
      auto expected = pass(*without, t, heard);
      auto got = pass(*with, t, heardWithAnonymous);
      EXPECT_EQ(ids(got), ids(expected)) << name << " at " << t;
    }
  }
}

}  // namespace
}  // namespace velmora::kestrine
