#include "platform/core/Date.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmora::platform {
namespace {

struct DateCase {
  const char* iso;
  double referenceSeconds;
};

TEST(DateTest, ReferenceSecondsConvertExactlyBothWays) {
  const DateCase cases[] = {
      {"2001-01-01T00:00:00.000000Z", 0.0},
      {"2001-01-02T00:00:00.000000Z", 86400.0},
      {"2001-01-01T00:00:00.500000Z", 0.5},
      {"2000-12-31T23:59:59.000000Z", -1.0},
      {"1970-01-01T00:00:00.000000Z", -978307200.0},
      {"2021-03-04T05:06:07.890000Z", 636527167.89},
      {"2000-12-31T23:59:59.999999Z", -0.000001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.iso);
    const Date d = Date::fromReferenceSeconds(c.referenceSeconds);
    EXPECT_EQ(d.iso8601(), c.iso);
    EXPECT_EQ(d.timeIntervalSinceReferenceDate(), c.referenceSeconds);
  }
}

TEST(DateTest, UnixEpochAndReferenceDateAgree) {
  EXPECT_EQ(Date::fromReferenceSeconds(0).unixMicros(), Date::kReferenceDateUnixSeconds * 1'000'000);
  EXPECT_EQ(Date::fromUnixSeconds(0).timeIntervalSinceReferenceDate(), -978307200.0);
  EXPECT_EQ(Date().iso8601(), "1970-01-01T00:00:00.000000Z");
}

TEST(DateTest, ArithmeticAndOrdering) {
  const Date a = Date::fromReferenceSeconds(10);
  const Date b = a.addingTimeInterval(2.25);
  EXPECT_EQ(b.timeIntervalSince(a), 2.25);
  EXPECT_EQ(a.timeIntervalSince(b), -2.25);
  EXPECT_LT(a, b);
  EXPECT_EQ(a.addingTimeInterval(0), a);
}

TEST(DateTest, NonFiniteSecondsDoNotOverflow) {
  EXPECT_EQ(Date::fromUnixSeconds(std::nan("")).unixMicros(), 0);
  EXPECT_EQ(Date::fromUnixSeconds(INFINITY).unixMicros(), INT64_MAX);
  EXPECT_EQ(Date::fromUnixSeconds(-INFINITY).unixMicros(), INT64_MIN);
  EXPECT_EQ(Date::fromReferenceSeconds(1e300).unixMicros(), INT64_MAX);
}

}  // namespace
}  // namespace velmora::platform
