#include "beacons/foundation/KSVersions.h"

#include <gtest/gtest.h>

#include "beacons/foundation/KSCacher.h"

namespace velmora::kestrine {
namespace {

TEST(KSVersionsTest, ComparesDottedVersionsByNumber) {
  const std::tuple<std::string_view, std::string_view, int> cases[] = {
      {"1.2", "1.2.0", 0},  {"1.10", "1.9", 1},  {"2", "10", -1},   {"1.2.3", "1.2.4", -1}, {"1.02", "1.2", 0},
      {"", "0", -1},        {"1.0.0.1", "1", 1}, {"1.2a", "1.2b", -1}, {"1.2b", "1.10a", -1}, {"3.0", "3", 0},
  };
  for (const auto& [a, b, order] : cases) {
    EXPECT_EQ(compareVersions(a, b), order) << a << " vs " << b;
    EXPECT_EQ(compareVersions(b, a), -order) << b << " vs " << a;
  }
}

TEST(KSVersionsTest, ThisHostIsNewerThanEveryThreshold) {
  EXPECT_TRUE(isIOS7OrHigher());
  EXPECT_TRUE(isIOS8OrHigher());
  EXPECT_FALSE(isIOS7OrLower());
}

TEST(KSCacherTest, ExpiresStrictlyAfterThirtyMinutes) {
  platform::ManualClock clock(platform::Date::fromReferenceSeconds(800'000'000));
  const platform::Date now = clock.now();
  const std::pair<std::optional<platform::Date>, bool> cases[] = {
      {std::nullopt, true},
      {now, false},
      {now.addingTimeInterval(-29 * 60), false},
      {now.addingTimeInterval(-1800), false},  // exactly 30 minutes: not yet
      {now.addingTimeInterval(-1800.000001), true},
      {now.addingTimeInterval(-31 * 60), true},
      {now.addingTimeInterval(3600), false},  // cached "in the future": not expired
  };
  for (const auto& [cachedAt, expired] : cases) {
    EXPECT_EQ(cacher::hasCacheExpiredForObjectsCachedAt(cachedAt, clock), expired)
        << (cachedAt ? cachedAt->iso8601() : "nil");
  }
}

}  // namespace
}  // namespace velmora::kestrine
