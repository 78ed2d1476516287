// The lane exit reply's "entryTime" as the exit call reads it.

#include <gtest/gtest.h>

#include "testing/CarParkTestSupport.h"
#include "parking/carpark_api/ExitResult.h"
#include "parking/service/DateDecoding.h"
#include "testing/ScopedTimeZone.h"

namespace velmora {
namespace {

using carpark_test::codingPath;

// The exit call reads "entryTime" with the lane exit date rule: a date and time to the
// second, or to the millisecond, and no zone designator.
TEST(ExitResultTest, EntryTimeTakesTwoFormatsAndRejectsAZone) {
  velmora::testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  const DateRule* rule = &laneExitDateRule();
  auto read = [&](const char* body, platform::Error* error) {
    return decodeRecordJSON<ExitResult>(body, error, rule);
  };
  platform::Error error;
  auto seconds = read(R"({"entryTime":"2021-03-04T05:06:07","secondsInCarPark":90,"amount":2.5})", &error);
  ASSERT_TRUE(seconds) << error.debugDescription();
  ASSERT_TRUE(seconds->entryTime);
  EXPECT_EQ(seconds->entryTime->unixMicros(), 1614834367LL * 1'000'000) << "2021-03-04T05:06:07Z";
  EXPECT_EQ(seconds->secondsInCarPark, 90);
  EXPECT_EQ(seconds->amount, 2.5);
  auto millis = read(R"({"entryTime":"2021-03-04T05:06:07.890"})", &error);
  ASSERT_TRUE(millis) << error.debugDescription();
  ASSERT_TRUE(millis->entryTime);
  EXPECT_EQ(millis->entryTime->unixMicros() - seconds->entryTime->unixMicros(), 890000);

  for (const char* bad : {R"({"entryTime":"2021-03-04T05:06:07Z"})", R"({"entryTime":"2021-03-04T05:06:07.890+0000"})",
                          R"({"entryTime":"2021-03-04T05:06:07+01:00"})", R"({"entryTime":"04/03/2021"})"}) {
    platform::Error e;
    EXPECT_FALSE(read(bad, &e)) << bad;
    EXPECT_EQ(codingPath(e), "entryTime") << bad;
  }
  platform::Error e;
  EXPECT_FALSE(read(R"({"entryTime":"garbage"})", &e));
  EXPECT_NE(e.debugDescription().find("Cannot decode date string garbage"), std::string::npos)
      << e.debugDescription();
  EXPECT_FALSE(read(R"({"entryTime":634021567})", &e)) << "a number is not a date text";
  auto absent = read(R"({"entryTime":null})", &e);
  ASSERT_TRUE(absent);
  EXPECT_FALSE(absent->entryTime);
}

}  // namespace
}  // namespace velmora
