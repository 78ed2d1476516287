#include "platform/text/FixedDateFormatter.h"

#include <gtest/gtest.h>

#include "platform/text/DefaultTimeZone.h"
#include "platform/text/FixedDateFormat.h"

namespace velmora::platform::text {
namespace {

class ZoneScope {
 public:
  explicit ZoneScope(std::string_view id) { EXPECT_TRUE(DefaultTimeZone::set(id)); }

 private:
  DefaultTimeZone::Restorer restorer_;
};

const Date kMay6 = Date::fromUnixSeconds(1399368030.0);  // 2014-05-06T09:20:30Z

TEST(FixedDateFormatter, WritesInTheDefaultZoneAsItIsAtEachCall) {
  const FixedDateFormatter formatter("yyyy-MM-dd'T'HH:mm:ssZZZ");
  ASSERT_TRUE(formatter.valid());
  struct Case {
    const char* zone;
    const char* text;
  };
  for (const Case& c : {Case{"Asia/Kolkata", "2014-05-06T14:50:30+0530"}, Case{"Etc/UTC", "2014-05-06T09:20:30+0000"},
                        Case{"America/New_York", "2014-05-06T05:20:30-0400"}}) {
    ZoneScope zone(c.zone);
    EXPECT_EQ(formatter.format(kMay6), c.text) << c.zone;
  }
}

TEST(FixedDateFormatter, TextReadsBackToTheSameInstant) {
  ZoneScope zone("Asia/Kolkata");
  const FixedDateFormatter formatter("yyyy-MM-dd'T'HH:mm:ssZZZ");
  const FixedDateFormat parser("yyyy-MM-dd'T'HH:mm:ssZZZ");
  EXPECT_EQ(parser.parse(formatter.format(kMay6)), kMay6);
}

TEST(FixedDateFormatter, DropsFractionsDownwardsAlsoBeforeTheEpoch) {
  ZoneScope zone("Etc/UTC");
  const FixedDateFormatter formatter("yyyy-MM-dd'T'HH:mm:ss.SSS");
  EXPECT_EQ(formatter.format(Date::fromUnixMicros(999'999)), "1970-01-01T00:00:00.999");
  EXPECT_EQ(formatter.format(Date::fromUnixMicros(-1)), "1969-12-31T23:59:59.999");
}

}  // namespace
}  // namespace velmora::platform::text
