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

TEST(DateTest, ArithmeticSaturatesAtTheEndsOfTheRange) {
  const Date now = Date::fromReferenceSeconds(786'000'000);
  struct Case {
    const char* name;
    Date from;
    double seconds;
    Date expected;
  };
  const Case cases[] = {
      {"+1e300 s", now, 1e300, Date::distantFuture()},
      {"-1e300 s", now, -1e300, Date::distantPast()},
      {"+inf", now, INFINITY, Date::distantFuture()},
      {"-inf", now, -INFINITY, Date::distantPast()},
      {"a retry time of 9.3e12 s", now, 9300000000000.0, Date::distantFuture()},
      {"a session of 1e13 s", now, 1e13, Date::distantFuture()},
      {"NaN adds nothing", now, std::nan(""), now},
      {"one second past the end", Date::distantFuture(), 1, Date::distantFuture()},
      {"one second before the start", Date::distantPast(), -1, Date::distantPast()},
      {"back from the end", Date::distantFuture(), -1, Date::fromUnixMicros(INT64_MAX - 1'000'000)},
      {"the whole range", Date::distantPast(), 1e300, Date::distantFuture()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.from.addingTimeInterval(c.seconds).iso8601(), c.expected.iso8601()) << c.name;
  }
  EXPECT_EQ(now.addingMicroseconds(INT64_MAX), Date::distantFuture());
  EXPECT_EQ(Date::fromUnixMicros(-1).addingMicroseconds(INT64_MIN), Date::distantPast());
  EXPECT_EQ(Date::distantFuture().addingMicroseconds(INT64_MIN), Date::fromUnixMicros(-1));
  EXPECT_EQ(Date::fromReferenceSeconds(-1e300), Date::distantPast());
  // Intervals between the ends are not wrapped either.
  EXPECT_EQ(Date::distantFuture().microsecondsSince(Date::distantPast()), INT64_MAX);
  EXPECT_EQ(Date::distantPast().microsecondsSince(Date::distantFuture()), INT64_MIN);
  EXPECT_DOUBLE_EQ(Date::distantFuture().timeIntervalSince(Date::distantPast()), 18446744073709.551615);
  EXPECT_GT(Date::distantFuture().timeIntervalSince(now), 0);
  EXPECT_LT(Date::distantPast().timeIntervalSinceReferenceDate(), -9.2e12);
  EXPECT_EQ(Date::distantPast().iso8601(), "-290308-12-21T19:59:05.224192Z");
  EXPECT_EQ(Date::distantFuture().iso8601(), "294247-01-10T04:00:54.775807Z");
}

}  // namespace
}  // namespace velmora::platform
