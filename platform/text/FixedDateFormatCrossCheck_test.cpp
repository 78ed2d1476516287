// The fixed layouts against the calendar library's formatter, on a large generated table of
// texts: on every text of a layout's shape the two agree (both refuse, or both accept with the
// same instant); outside the shape the fixed layout refuses, whatever the library makes of it.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text/DefaultTimeZone.h"
#include "platform/text/FixedDateFormat.h"
#include "platform/text/LibraryDateFormat.h"

namespace velmora::platform::text {
namespace {

struct Layout {
  std::string_view pattern;
  // The shape of the texts it reads: 9 a digit, ± a sign, anything else itself.
  std::string_view shape;
};

constexpr Layout kLayouts[] = {
    {"yyyy-MM-dd'T'HH:mm:ss", "9999-99-99T99:99:99"},
    {"yyyy-MM-dd'T'HH:mm:ss.SSS", "9999-99-99T99:99:99.999"},
    {"yyyy-MM-dd'T'HH:mm:ss.SSSZ", "9999-99-99T99:99:99.999±9999"},
    {"yyyy-MM-dd HH:mm:ss Z", "9999-99-99 99:99:99 ±9999"},
    {"yyyy-MM-dd HH:mm:ss ZZZ", "9999-99-99 99:99:99 ±9999"},
    {"yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", "9999-99-99T99:99:99.999Z"},
    {"yyyy-MM-dd", "9999-99-99"},
};

constexpr std::string_view kZones[] = {
    "Etc/UTC",        "Europe/Berlin",     "America/New_York", "Australia/Lord_Howe",
    "Asia/Kathmandu", "America/Sao_Paulo", "Pacific/Apia",     "America/St_Johns",
};

bool hasExactShape(std::string_view text, std::string_view shape);

// A zone offset "±9999" may also be written "±99:99" or "Z".
bool hasShape(std::string_view text, std::string_view shape) {
  if (hasExactShape(text, shape)) return true;
  const std::size_t at = shape.find("±9999");
  if (at == std::string_view::npos) return false;
  for (std::string_view alternative : {"±99:99", "Z"}) {
    std::string other(shape);
    other.replace(at, std::string_view("±9999").size(), alternative);
    if (hasExactShape(text, other)) return true;
  }
  return false;
}

bool hasExactShape(std::string_view text, std::string_view shape) {
  // "±" is two bytes in the shape and one in the text.
  std::size_t t = 0;
  for (std::size_t s = 0; s < shape.size(); ++s, ++t) {
    if (t >= text.size()) return false;
    const char c = text[t];
    if (shape.substr(s, 2) == "±") {
      if (c != '+' && c != '-') return false;
      ++s;
    } else if (shape[s] == '9') {
      if (c < '0' || c > '9') return false;
    } else if (shape[s] != c) {
      return false;
    }
  }
  return t == text.size();
}

// Fills a shape with field values, some out of range, around the boundaries that matter.
class TextMaker {
 public:
  explicit TextMaker(unsigned seed) : rng_(seed) {}

  std::string make(std::string_view shape) {
    const int year = pick({1583, 1600, 1899, 1900, 1970, 1999, 2000, 2021, 2024, 2038, 2100, 9999}, 1583, 2200);
    const int month = pick({0, 1, 2, 3, 10, 11, 12, 13, 19}, 1, 12);
    const int day = pick({0, 1, 28, 29, 30, 31, 32, 39}, 1, 31);
    const int hour = pick({0, 1, 2, 3, 23, 24, 29}, 0, 23);
    const int minute = pick({0, 30, 45, 59, 60, 99}, 0, 59);
    const int second = pick({0, 59, 60, 99}, 0, 59);
    const int millis = pick({0, 1, 500, 999}, 0, 999);
    const char sign = std::uniform_int_distribution<int>(0, 1)(rng_) ? '+' : '-';
    const int offHours = pick({0, 1, 11, 14, 23, 24, 99}, 0, 14);
    const int offMinutes = pick({0, 30, 45, 59, 60, 99}, 0, 59);
    return fill(shape, year, month, day, hour, minute, second, millis, sign, offHours, offMinutes);
  }

  static std::string fill(std::string_view shape, int year, int month, int day, int hour, int minute, int second,
                          int millis, char sign, int offHours, int offMinutes) {
    const std::string digits = fmt::format("{:04}{:02}{:02}{:02}{:02}{:02}{:03}{:02}{:02}", year, month, day, hour,
                                           minute, second, millis, offHours, offMinutes);
    // The shapes list their digit fields in this same order; a shape without time or
    // milliseconds skips those digits.
    std::string out;
    std::size_t d = 0;
    const bool hasTime = shape.size() > 10;
    const bool hasMillis = shape.find('.') != std::string_view::npos;
    for (std::size_t s = 0; s < shape.size(); ++s) {
      if (shape.substr(s, 2) == "±") {
        out.push_back(sign);
        ++s;
        continue;
      }
      if (shape[s] != '9') {
        out.push_back(shape[s]);
        continue;
      }
      if (d == 8 && !hasTime) d = 21;
      if (d == 14 && !hasMillis) d = 17;
      out.push_back(digits[d++]);
    }
    return out;
  }

 private:
  // Half the time one of the listed values, otherwise any in [lo, hi].
  int pick(std::initializer_list<int> special, int lo, int hi) {
    if (std::uniform_int_distribution<int>(0, 1)(rng_)) {
      const auto i = std::uniform_int_distribution<std::size_t>(0, special.size() - 1)(rng_);
      return *(special.begin() + i);
    }
    return std::uniform_int_distribution<int>(lo, hi)(rng_);
  }

  std::mt19937 rng_;
};

// Every quarter hour of the days around each zone's clock changes of a few years, and of
// some ordinary days: the skipped and repeated wall times of every kind of change.
std::vector<std::string> wallTimesAroundClockChanges(std::string_view shape) {
  std::vector<std::string> out;
  for (int year : {1995, 2011, 2021, 2024}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= 31; day += (month % 3 == 0 || month == 10 || month == 4) ? 1 : 9) {
        for (int quarter = 0; quarter < 96; quarter += (day % 7 == 0 ? 1 : 8)) {
          out.push_back(TextMaker::fill(shape, year, month, day, quarter / 4, quarter % 4 * 15, 0, 0, '+', 0, 0));
        }
      }
    }
  }
  return out;
}

// One character of a canonical text replaced, dropped or doubled.
std::vector<std::string> mutations(const std::string& text) {
  static constexpr std::string_view kChars = "0159-:T .+Z";
  std::vector<std::string> out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    for (char c : kChars) {
      std::string m = text;
      m[i] = c;
      out.push_back(m);
    }
    out.push_back(text.substr(0, i) + text.substr(i + 1));
    out.push_back(text.substr(0, i + 1) + text.substr(i));
  }
  out.push_back(" " + text);
  out.push_back(text + " ");
  return out;
}

struct Tally {
  int agreedAccepted = 0;
  int agreedRefused = 0;
  int looserOutsideShape = 0;  // the library accepts a text that is not of the layout's shape
};

void crossCheck(const Layout& layout, const FixedDateFormat& fast, const LibraryDateFormat& library,
                const std::string& text, Tally& tally) {
  const auto mine = fast.parse(text);
  const auto theirs = library.parse(text);
  if (!hasShape(text, layout.shape)) {
    EXPECT_EQ(mine, std::nullopt) << layout.pattern << " <- \"" << text << "\" is not of the layout's shape";
    if (theirs) ++tally.looserOutsideShape;
    return;
  }
  if (mine != theirs) {
    ADD_FAILURE() << layout.pattern << " <- \"" << text << "\" in " << DefaultTimeZone::identifier()
                  << ": fixed " << (mine ? mine->iso8601() : "refused") << ", library "
                  << (theirs ? theirs->iso8601() : "refused");
    return;
  }
  ++(mine ? tally.agreedAccepted : tally.agreedRefused);
}

// One test per layout: each is a large table, and apart they run side by side.
class FixedDateFormatCrossCheckTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(FixedDateFormatCrossCheckTest, AgreesWithTheCalendarLibraryOnEveryTextOfTheLayoutsShape) {
  DefaultTimeZone::Restorer restore;
  TextMaker maker(20261210 + static_cast<unsigned>(GetParam()));
  {
    const Layout& layout = kLayouts[GetParam()];
    const FixedDateFormat fast(layout.pattern);
    ASSERT_TRUE(fast.isFixedLayout()) << layout.pattern;
    const LibraryDateFormat library(layout.pattern);
    std::vector<std::string> texts = wallTimesAroundClockChanges(layout.shape);
    for (int i = 0; i < 3000; ++i) texts.push_back(maker.make(layout.shape));
    // The same offsets written "+HH:MM" and as "Z" (for a zero offset) are read alike.
    const std::size_t plain = texts.size();
    for (std::size_t i = 0; i < plain; i += 3) {
      const std::string text = texts[i];  // a copy: the pushes below may move the vector
      const std::size_t sign = text.find_last_of("+-");
      if (sign == std::string::npos || sign + 5 != text.size() || sign < 19) continue;
      texts.push_back(text.substr(0, sign + 3) + ":" + text.substr(sign + 3));
      texts.push_back(text.substr(0, sign) + "Z");
    }
    std::vector<std::string> mutated;
    for (int i = 0; i < 8; ++i) {
      for (auto& m : mutations(maker.make(layout.shape))) mutated.push_back(std::move(m));
    }
    for (int i = 0; i < 4; ++i) {
      for (auto& m : mutations(TextMaker::fill(layout.shape, 2021, 3, 4, 5, 6, 7, 890, '+', 11, 0))) {
        mutated.push_back(std::move(m));
      }
    }
    Tally tally;
    for (std::string_view zone : kZones) {
      ASSERT_TRUE(DefaultTimeZone::set(zone)) << zone;
      for (const auto& text : texts) crossCheck(layout, fast, library, text, tally);
      for (const auto& text : mutated) crossCheck(layout, fast, library, text, tally);
    }
    // The table must reach both answers on every layout, or it proves little.
    EXPECT_GT(tally.agreedAccepted, 1000) << layout.pattern;
    EXPECT_GT(tally.agreedRefused, 1000) << layout.pattern;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, FixedDateFormatCrossCheckTest,
                         ::testing::Range<std::size_t>(0, std::size(kLayouts)));

TEST(FixedDateFormatFixedZoneCrossCheckTest, AgreesInAFixedZoneToo) {
  DefaultTimeZone::Restorer restore;
  ASSERT_TRUE(DefaultTimeZone::set("Asia/Tokyo"));  // must not matter
  const auto newYork = TimeZone::named("America/New_York");
  ASSERT_TRUE(newYork);
  const Layout layout = kLayouts[0];
  const FixedDateFormat fast(layout.pattern, *newYork);
  const LibraryDateFormat library(layout.pattern, *newYork);
  Tally tally;
  for (const auto& text : wallTimesAroundClockChanges(layout.shape)) crossCheck(layout, fast, library, text, tally);
  EXPECT_GT(tally.agreedAccepted, 1000);
  EXPECT_GT(tally.agreedRefused, 0);  // the skipped hour of each spring
}

}  // namespace
}  // namespace velmora::platform::text
