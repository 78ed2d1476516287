#include "platform/core/Log.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

TEST(LogTest, CaptureReadsLinesAndRestoresTheSink) {
  std::vector<std::string> outer;
  Log::setSink([&](LogLevel, std::string_view, std::string_view m) { outer.emplace_back(m); });
  {
    LogCapture capture;
    Log::info("test", "value {} of {}", 1, "two");
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].message, "value 1 of two");
    EXPECT_EQ(capture.lines()[0].category, "test");
    EXPECT_EQ(capture.lines()[0].level, LogLevel::Info);
  }
  Log::warning("test", "after");
  Log::setSink({});
  EXPECT_EQ(outer, std::vector<std::string>{"after"});
}

TEST(LogTest, PreconditionReportsAndCounts) {
  LogCapture capture;
  const auto before = programmingErrorCount();
  EXPECT_TRUE(precondition(true, "x != nil"));
  EXPECT_FALSE(precondition(false, "beacon != nil"));
  EXPECT_EQ(programmingErrorCount(), before + 1);
  EXPECT_EQ(capture.count("Invalid parameter not satisfying: beacon != nil"), 1u);
}

}  // namespace
}  // namespace velmora::platform
