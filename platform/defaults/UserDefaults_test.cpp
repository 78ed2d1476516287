#include "platform/defaults/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/Log.h"
#include "testing/TempDir.h"

namespace velmora::platform {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeFile(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

Value nested(std::size_t levels) {
  Value v = "leaf";
  for (std::size_t i = 0; i < levels; ++i) v = (i % 2) ? Value::makeDict({{"d", v}}) : Value::makeArray({v});
  return v;
}

class UserDefaultsTest : public ::testing::Test {
 protected:
  velmora::testing::TempDir dir;
  fs::path file = dir.path() / "prefs" / "defaults.plist";
};

TEST_F(UserDefaultsTest, StorableKindsRoundTripThroughAReopenedFile) {
  const Date withMicros = Date::fromUnixMicros(1'700'000'000'123'457);
  const Date before2001 = Date::fromUnixMicros(946'684'800'000'001);  // 2000-01-01 + 1 µs
  const Date beforeHalf = Date::fromReferenceSeconds(-1.5);
  struct Case {
    const char* key;
    Value stored;
    Value readBack;
  } cases[] = {
      {"true", true, true},
      {"false", false, false},
      {"int", 42, 42},
      {"negative", -5, -5},
      {"int64 min", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min()},
      {"small unsigned", 7u, 7},
      {"largest unsigned", std::uint64_t{9223372036854775807u}, std::int64_t{9223372036854775807}},
      {"double", 3.25, 3.25},
      {"huge double", 1e300, 1e300},
      {"empty text", "", ""},
      {"unicode text", "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x9A\x97", "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9F\x9A\x97"},
      {"no bytes", Bytes{}, Bytes{}},
      {"bytes", Bytes{0, 255, 7}, Bytes{0, 255, 7}},
      {"array", Value::makeArray({1, "two", Value::makeArray({})}), Value::makeArray({1, "two", Value::makeArray({})})},
      {"dict", Value::makeDict({{"a", 1.5}, {"b", Value::makeDict({})}}),
       Value::makeDict({{"a", 1.5}, {"b", Value::makeDict({})}})},
      {"64 levels", nested(64), nested(64)},
  };
  {
    auto d = UserDefaults::open(file);
    for (const auto& c : cases) EXPECT_TRUE(d->setObject(c.key, c.stored)) << c.key;
    EXPECT_TRUE(d->setObject("date", withMicros));
    EXPECT_TRUE(d->setObject("old date", before2001));
    EXPECT_TRUE(d->setObject("old date, half a second", beforeHalf));
    EXPECT_TRUE(d->synchronize());
  }
  auto d = UserDefaults::open(file);
  for (const auto& c : cases) EXPECT_EQ(d->objectForKey(c.key), c.readBack) << c.key;
  // The format's library keeps dates as a double and may read them back a microsecond
  // nearer to 2001.
  for (auto [key, date] : {std::pair{"date", withMicros}, std::pair{"old date", before2001},
                           std::pair{"old date, half a second", beforeHalf}}) {
    auto back = d->dateForKey(key);
    ASSERT_TRUE(back) << key;
    EXPECT_LE(std::abs(date.unixMicros() - back->unixMicros()), 1) << key << " " << back->iso8601();
  }
  EXPECT_EQ(d->dictionaryRepresentation().size(), std::size(cases) + 3);
}

TEST_F(UserDefaultsTest, RefusesWhatTheFileCannotKeepAndKeepsTheOldValue) {
  struct Case {
    const char* name;
    Value value;
  } cases[] = {
      {"null", null},
      {"object", std::shared_ptr<Object>(std::make_shared<Object>())},
      {"unsigned above 2^63-1", std::uint64_t{9223372036854775808u}},
      {"text with NUL", std::string("a\0b", 3)},
      {"invalid UTF-8", "\xC3\x28"},
      {"date after 2069", Date::fromUnixSeconds(4'000'000'000.0)},
      {"date before 1933", Date::fromUnixSeconds(-1'200'000'000.0)},
      {"date in the last second of 2000", Date::fromReferenceSeconds(-0.25)},
      {"65 levels", nested(65)},
      {"null inside an array", Value::makeArray({1, null})},
  };
  auto d = UserDefaults::open(file);
  ASSERT_TRUE(d->setObject("k", "old"));
  for (const auto& c : cases) {
    LogCapture log;
    EXPECT_FALSE(d->setObject("k", c.value)) << c.name;
    EXPECT_EQ(log.count("refused to store \"k\""), 1u) << c.name;
    EXPECT_EQ(d->objectForKey("k"), Value("old")) << c.name;
  }
  EXPECT_FALSE(d->setObject(std::string("bad\0key", 7), 1));
  EXPECT_TRUE(d->setObject("k", Value()));  // Absent removes
  EXPECT_TRUE(d->objectForKey("k").isAbsent());
}

TEST_F(UserDefaultsTest, TypedReadsAnswerNothingForAnotherKind) {
  auto d = UserDefaults::open(file);
  d->setObject("text", "5");
  d->setObject("int", 5);
  d->setObject("double", 2.5);
  d->setObject("date", Date::fromUnixSeconds(1e9));
  EXPECT_EQ(d->stringForKey("text"), "5");
  EXPECT_FALSE(d->stringForKey("int"));
  EXPECT_FALSE(d->integerForKey("text"));
  EXPECT_FALSE(d->integerForKey("double"));
  EXPECT_EQ(d->doubleForKey("int"), 5.0);
  EXPECT_FALSE(d->boolForKey("int"));
  EXPECT_FALSE(d->dateForKey("text"));
  EXPECT_FALSE(d->dataForKey("text"));
  EXPECT_FALSE(d->arrayForKey("int"));
  EXPECT_FALSE(d->dictionaryForKey("missing"));
}

TEST_F(UserDefaultsTest, UnreadableFilesOpenEmptyAndStaleTemporariesAreRemoved) {
  {
    auto d = UserDefaults::open(file);
    d->setObject("a", Value::makeArray({"one", "two", "three"}));
    d->setObject("b", 1);
    ASSERT_TRUE(d->synchronize());
  }
  const std::string good = readFile(file);
  std::string corrupt = good;
  corrupt[1] = 'X';
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"cut in half", good.substr(0, good.size() / 2)},
      {"cut by one byte", good.substr(0, good.size() - 1)},
      {"corrupt magic", corrupt},
      {"text", "not a property list at all, just some words"},
  };
  for (const auto& c : cases) {
    writeFile(file, c.bytes);
    LogCapture log;
    auto d = UserDefaults::open(file);
    EXPECT_TRUE(d->dictionaryRepresentation().empty()) << c.name;
    EXPECT_EQ(log.count("starting empty"), 1u) << c.name;
  }

  writeFile(file, good);
  const fs::path stale = file.parent_path() / "defaults.plist.tmp-0123";
  writeFile(stale, "half-written");
  auto d = UserDefaults::open(file);
  EXPECT_EQ(d->integerForKey("b"), 1);
  EXPECT_FALSE(fs::exists(stale));
}

TEST_F(UserDefaultsTest, WritesOnlyWhenChangedAndKeepsChangesAfterAFailedWrite) {
  fs::create_directories(dir.path() / "blocked");
  const fs::path blocked = dir.path() / "blocked" / "defaults.plist";
  fs::create_directory(blocked);  // a directory where the file should be: rename fails
  auto d = UserDefaults::open(blocked);
  d->setObject("k", 1);
  {
    LogCapture log;
    EXPECT_FALSE(d->synchronize());
    EXPECT_EQ(log.count("cannot write"), 1u);
  }
  EXPECT_EQ(d->integerForKey("k"), 1);
  for (const auto& e : fs::directory_iterator(dir.path() / "blocked")) {
    EXPECT_EQ(e.path().filename(), "defaults.plist") << "no temporary file is left behind";
  }
  fs::remove(blocked);
  EXPECT_TRUE(d->synchronize());
  EXPECT_EQ(UserDefaults::open(blocked)->integerForKey("k"), 1);

  const auto stamp = fs::last_write_time(blocked);
  fs::last_write_time(blocked, stamp - std::chrono::hours(1));
  EXPECT_TRUE(d->synchronize());  // nothing changed: the file is not rewritten
  EXPECT_EQ(fs::last_write_time(blocked), stamp - std::chrono::hours(1));
}

TEST_F(UserDefaultsTest, EightWritingThreadsLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kKeys = 25;
  {
    auto d = UserDefaults::open(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int k = 0; k < kKeys; ++k) {
          d->setObject(fmt::format("t{}.k{}", t, k), t * 1000 + k);
          if (k % 5 == 0) d->removeObjectForKey(fmt::format("t{}.k{}", t, k));
          d->synchronize();
          (void)d->integerForKey(fmt::format("t{}.k{}", (t + 1) % kThreads, k));
        }
      });
    }
    for (auto& th : threads) th.join();
  }
  auto d = UserDefaults::open(file);
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      const auto v = d->integerForKey(fmt::format("t{}.k{}", t, k));
      if (k % 5 == 0) {
        EXPECT_FALSE(v);
      } else {
        EXPECT_EQ(v, t * 1000 + k);
      }
    }
  }
}

}  // namespace
}  // namespace velmora::platform
