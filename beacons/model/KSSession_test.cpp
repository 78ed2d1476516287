#include "beacons/model/KSSession.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSMTDates.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::kestrine {
namespace {

using platform::Date;

std::shared_ptr<KSDateRange> range(std::optional<Date> from, std::optional<Date> through) {
  auto r = std::make_shared<KSDateRange>();
  r->setFromDate(from);
  r->setThroughDate(through);
  return r;
}

TEST(KSSession, DailySumCountsOnlyClosedTimeSinceMidnight) {
  velmora::testing::ScopedTimeZone utc("UTC");
  const Date now = mt::dateFromYear(2026, 3, 10, 12, 0);
  struct Case {
    const char* name;
    std::optional<Date> from, through;
    double want;
  };
  const Case cases[] = {
      {"open range counts nothing", mt::dateFromYear(2026, 3, 10, 11, 0), std::nullopt, 0},
      {"across midnight counts its part today", mt::dateFromYear(2026, 3, 9, 23, 50), mt::dateFromYear(2026, 3, 10, 0, 10),
       600},
      {"today counts whole", mt::dateFromYear(2026, 3, 10, 1, 0), mt::dateFromYear(2026, 3, 10, 1, 2), 120},
      {"yesterday counts nothing", mt::dateFromYear(2026, 3, 9, 22, 0), mt::dateFromYear(2026, 3, 9, 23, 0), 0},
  };
  for (const auto& c : cases) {
    KSSession s;
    s.setBackgroundScanDateRanges({range(c.from, c.through)});
    EXPECT_DOUBLE_EQ(s.backgroundScanTimeIntervalToday(now), c.want) << c.name;
  }
}

TEST(KSSession, DailySumOnAShortDayUsesTheCalendarsMidnight) {
  velmora::testing::ScopedTimeZone berlin("Europe/Berlin");
  mt::reset();
  // 2026-03-29 has 23 hours in Berlin: 02:00 becomes 03:00.
  const Date from = mt::dateFromYear(2026, 3, 29, 0, 30);
  const Date through = mt::dateFromYear(2026, 3, 29, 3, 30);
  KSSession s;
  s.setBackgroundScanDateRanges({range(from, through)});
  EXPECT_DOUBLE_EQ(s.backgroundScanTimeIntervalToday(through), 7200);
  mt::reset();
}

TEST(KSSession, EndUsesTheEstimatedStopOfTheLastScan) {
  const Date t0 = Date::fromUnixSeconds(1'800'000'000);
  for (auto [started, want] : {std::pair{90.0, 93.0}, std::pair{99.0, 100.0}}) {
    auto s = KSSession::sessionBeganAt(t0, std::nullopt);
    s->scanManagerStartedScanAt(t0.addingTimeInterval(started), true);
    s->end(t0.addingTimeInterval(100));
    EXPECT_EQ(*s->throughDate(), t0.addingTimeInterval(want)) << started;
    ASSERT_EQ(s->backgroundScanDateRanges().size(), 1u);
    EXPECT_EQ(*s->backgroundScanDateRanges()[0]->throughDate(), t0.addingTimeInterval(want));
    EXPECT_FALSE(s->currentBackgroundScanDateRange());
  }
  // No scan at all: the session ends where it began.
  auto idle = KSSession::sessionBeganAt(t0, std::nullopt);
  idle->end(t0.addingTimeInterval(50));
  EXPECT_EQ(*idle->throughDate(), t0);
}

TEST(KSSession, BackgroundScansExtendOneRangeUntilAForegroundScan) {
  const Date t0 = Date::fromUnixSeconds(1'800'000'000);
  auto s = KSSession::sessionBeganAt(t0, t0.addingTimeInterval(120));
  EXPECT_EQ(s->identifier()->rfind("ks:", 0), 0u);
  s->scanManagerStoppedScanAt(t0, t0);  // before any scan: ignored
  EXPECT_FALSE(s->lastScanStoppedAt());
  s->scanManagerStartedScanAt(t0, true);
  s->scanManagerStoppedScanAt(t0.addingTimeInterval(3), t0.addingTimeInterval(3.5));
  s->scanManagerStartedScanAt(t0.addingTimeInterval(4), true);
  s->scanManagerStoppedScanAt(t0.addingTimeInterval(7), t0.addingTimeInterval(8));
  ASSERT_EQ(s->backgroundScanDateRanges().size(), 1u);
  EXPECT_EQ(*s->lastBackgroundScanStoppedAt(), t0.addingTimeInterval(7));
  s->scanManagerStartedScanAt(t0.addingTimeInterval(10), false);
  s->scanManagerStartedScanAt(t0.addingTimeInterval(20), true);
  EXPECT_EQ(s->backgroundScanDateRanges().size(), 2u);
  EXPECT_EQ(*s->startedScanningAt(), t0);
  EXPECT_TRUE(s->isExpired(t0.addingTimeInterval(120.000001)));
  EXPECT_FALSE(s->isExpired(t0.addingTimeInterval(120)));
}

TEST(KSSession, StoresExactlyItsSevenKeysAndReadsThemBack) {
  const Date t0 = Date::fromUnixSeconds(1'800'000'000);
  auto s = KSSession::sessionBeganAt(t0, t0.addingTimeInterval(120));
  s->scanManagerStartedScanAt(t0.addingTimeInterval(1), true);
  s->scanManagerStoppedScanAt(t0.addingTimeInterval(4), t0.addingTimeInterval(5));
  s->end(t0.addingTimeInterval(6));
  const platform::Dict dict = s->toDictionary();
  std::vector<std::string> keys;
  for (const auto& [k, v] : dict) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"backgroundScanDateRanges", "dateRange", "expiresAt", "identifier",
                                            "lastScanStartedAt", "lastScanStoppedAt", "startedScanningAt"}));
  auto back = KSSession::initWithDictionary(platform::Value(dict));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->identifier(), s->identifier());
  EXPECT_EQ(back->throughDate(), s->throughDate());
  EXPECT_EQ(back->expiresAt(), s->expiresAt());
  ASSERT_EQ(back->backgroundScanDateRanges().size(), 1u);
  EXPECT_EQ(back->backgroundScanDateRanges()[0]->throughDate(), t0.addingTimeInterval(4));
  EXPECT_DOUBLE_EQ(back->backgroundScanTimeIntervalSinceDate(t0), 3);
}

}  // namespace
}  // namespace velmora::kestrine
