#include "parking/service/DateDecoding.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "parking/user_api/StatusResult.h"
#include "testing/ScopedTimeZone.h"

namespace velmora::platform {
// Readable dates in assertion messages.
static void PrintTo(const Date& d, std::ostream* os) { *os << d.iso8601(); }
}  // namespace velmora::platform

namespace velmora {
namespace {

using platform::Date;

// 2021-03-04T05:06:07Z on the Unix epoch.
constexpr std::int64_t kWallSeconds = 1614834367;
constexpr std::int64_t kHourMicros = 3600LL * 1'000'000;

Date wallClock(std::int64_t millis = 0, std::int64_t offsetHours = 0) {
  return Date::fromUnixMicros((kWallSeconds * 1000 + millis) * 1000 - offsetHours * kHourMicros);
}

std::optional<StatusResult> decodeStatus(const std::string& body, platform::Error* error = nullptr,
                                         const DateRule* rule = &statusDateRule()) {
  return decodeRecordJSON<StatusResult>(body, error, rule);
}

std::string entryTimeBody(std::string_view value) { return fmt::format(R"({{"entryTime":{}}})", value); }

TEST(DateDecodingTest, StatusRuleTriesTheThreeFormatsInOrder) {
  testing::ScopedTimeZone zone("Etc/UTC");
  ASSERT_TRUE(zone.ok());
  struct Case {
    std::string_view text;
    Date expected;
  };
  const std::vector<Case> cases = {
      {"2021-03-04T05:06:07", wallClock()},                  // format 1
      {"2021-03-04T05:06:07.890", wallClock(890)},           // format 2
      {"2021-03-04T05:06:07.890+1100", wallClock(890, 11)},  // format 3, in the offset's zone
      {"2021-03-04T05:06:07.000-0200", wallClock(0, -2)},
  };
  for (const auto& c : cases) {
    platform::Error error;
    auto status = decodeStatus(entryTimeBody(fmt::format("\"{}\"", c.text)), &error);
    ASSERT_TRUE(status) << c.text << ": " << error.debugDescription();
    EXPECT_EQ(status->entryTime, c.expected) << c.text;
  }
}

TEST(DateDecodingTest, TextNoFormatReadsIsDataCorruptedAtTheKey) {
  testing::ScopedTimeZone zone("Etc/UTC");
  // A fraction of 40 digits: refused, and never handed to a parser that divides by zero on it.
  const std::string longFraction = "2021-03-04T05:06:07." + std::string(40, '0');
  for (std::string_view text :
       {std::string_view("2021-03-04"), std::string_view("2021-03-04T05:06:07Z"), std::string_view(""),
        std::string_view("yesterday"), std::string_view("2021-03-04T05:06:07.890+1100 "),
        std::string_view(longFraction)}) {
    platform::Error error;
    const std::string body =
        fmt::format(R"({{"result":"Success","entryTime":"2021-03-04T05:06:07","serverTime":"{}"}})", text);
    EXPECT_FALSE(decodeStatus(body, &error)) << text;
    EXPECT_EQ(error.domain, platform::coding::kDomain);
    EXPECT_EQ(error.code, platform::coding::kReadCorrupt);
    EXPECT_EQ(error.debugDescription(), fmt::format("Cannot decode date string {}", text));
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], platform::Value("serverTime"));
    // The person-facing text is the platform's generic one, not the debug description.
    EXPECT_EQ(error.localizedDescription, "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
  }
}

TEST(DateDecodingTest, NonStringDateIsTypeErrorAndAbsentOrNullIsNoDate) {
  for (std::string_view value : {"1234", "true", "[]"}) {
    platform::Error error;
    EXPECT_FALSE(decodeStatus(entryTimeBody(value), &error)) << value;
    EXPECT_EQ(error.code, platform::coding::kReadCorrupt) << value;
    EXPECT_NE(error.debugDescription().find("Expected to decode String"), std::string::npos) << value;
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], platform::Value("entryTime"));
  }
  for (std::string_view body : {R"({"serverTime":null})", R"({"result":"Success"})"}) {
    auto status = decodeStatus(std::string(body));
    ASSERT_TRUE(status) << body;
    EXPECT_FALSE(status->serverTime);
    EXPECT_FALSE(status->entryTime);
  }
}

TEST(DateDecodingTest, DecodeDateStringReportsAtTheGivenPath) {
  const platform::text::FixedDateFormat seconds("yyyy-MM-dd'T'HH:mm:ss");
  platform::Error error;
  EXPECT_FALSE(decodeDateString(platform::Value("2021-03-04"), "lanes[2].when", {&seconds}, &error));
  EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], platform::Value("lanes[2].when"));
  EXPECT_EQ(error.debugDescription(), "Cannot decode date string 2021-03-04");
  // With no formats at all, every text fails the same way.
  EXPECT_FALSE(decodeDateString(platform::Value("2021-03-04T05:06:07"), "k", {}, &error));
}

TEST(DateDecodingTest, LaneExitRuleReadsTheFirstTwoFormatsOnly) {
  testing::ScopedTimeZone zone("Etc/UTC");
  const DateRule& rule = laneExitDateRule();
  platform::Error error;
  EXPECT_EQ(rule(platform::Value("2021-03-04T05:06:07"), "entryTime", &error), wallClock());
  EXPECT_EQ(rule(platform::Value("2021-03-04T05:06:07.890"), "entryTime", &error), wallClock(890));
  EXPECT_FALSE(rule(platform::Value("2021-03-04T05:06:07.890+1100"), "entryTime", &error));
  EXPECT_EQ(error.debugDescription(), "Cannot decode date string 2021-03-04T05:06:07.890+1100");
}

TEST(DateDecodingTest, TextWithoutOffsetIsReadInTheDevicesZone) {
  const std::string local = entryTimeBody(R"("2021-03-04T05:06:07.890")");
  const std::string offset = entryTimeBody(R"("2021-03-04T05:06:07.890+0100")");
  struct Case {
    std::string_view zone;
    std::int64_t utcOffsetHours;
  };
  for (const Case c : {Case{"Etc/UTC", 0}, Case{"Asia/Tokyo", 9}, Case{"America/Los_Angeles", -8}}) {
    testing::ScopedTimeZone zone(c.zone);
    ASSERT_TRUE(zone.ok()) << c.zone;
    EXPECT_EQ(decodeStatus(local)->entryTime, wallClock(890, c.utcOffsetHours)) << c.zone;
    EXPECT_EQ(decodeStatus(offset)->entryTime, wallClock(890, 1)) << c.zone;
  }
}

TEST(DateDecodingTest, RepliesDecodeDatesOnManyThreadsAtOnce) {
  testing::ScopedTimeZone zone("Etc/UTC");
  constexpr int kThreads = 8;
  constexpr int kRounds = 100;
  std::atomic<int> ready{0};
  std::array<int, kThreads> wrong{};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) {
        const int ms = (t * kRounds + i) % 1000;
        const std::string body = fmt::format(
            R"({{"entryTime":"2021-03-04T05:06:07","entryTimeUTC":"2021-03-04T05:06:07.{:03}",)"
            R"("serverTime":"2021-03-04T05:06:07.{:03}+0000"}})",
            ms, ms);
        auto status = decodeStatus(body);
        if (!status || status->entryTime != wallClock() || status->entryTimeUTC != wallClock(ms) ||
            status->serverTime != wallClock(ms)) {
          ++wrong[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

}  // namespace
}  // namespace velmora
