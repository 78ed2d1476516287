#include "platform/defaults/BinaryPropertyList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace velmora::platform::defaults {
namespace {

// Hand-built binary property lists, for structures the writer never makes.
struct RawPlist {
  std::vector<std::string> objects;

  // An array object whose references name the given objects.
  static std::string array(const std::vector<std::uint16_t>& refs) {
    std::string o;
    if (refs.size() < 15) {
      o += static_cast<char>(0xA0 | refs.size());
    } else {
      o += static_cast<char>(0xAF);
      o += static_cast<char>(0x11);
      o += static_cast<char>(refs.size() >> 8);
      o += static_cast<char>(refs.size() & 0xFF);
    }
    for (auto r : refs) {
      o += static_cast<char>(r >> 8);
      o += static_cast<char>(r & 0xFF);
    }
    return o;
  }
  static std::string dict(const std::vector<std::uint16_t>& keys, const std::vector<std::uint16_t>& values) {
    std::string o(1, static_cast<char>(0xD0 | keys.size()));
    for (auto r : keys) o += {static_cast<char>(r >> 8), static_cast<char>(r & 0xFF)};
    for (auto r : values) o += {static_cast<char>(r >> 8), static_cast<char>(r & 0xFF)};
    return o;
  }
  static std::string ascii(const std::string& s) { return std::string(1, static_cast<char>(0x50 | s.size())) + s; }
  // A date object: seconds since 2001 as a big-endian double.
  static std::string date(double seconds) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::string o(1, static_cast<char>(0x33));
    for (int s = 56; s >= 0; s -= 8) o += static_cast<char>((bits >> s) & 0xFF);
    return o;
  }

  std::string bytes(std::uint64_t top = 0) const {
    std::string out = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const auto& o : objects) {
      offsets.push_back(static_cast<std::uint32_t>(out.size()));
      out += o;
    }
    const std::uint64_t table = out.size();
    for (auto off : offsets) {
      for (int s = 24; s >= 0; s -= 8) out += static_cast<char>((off >> s) & 0xFF);
    }
    std::string trailer(6, '\0');
    trailer += static_cast<char>(4);  // offset size
    trailer += static_cast<char>(2);  // reference size
    for (std::uint64_t v : {static_cast<std::uint64_t>(objects.size()), top, table}) {
      for (int s = 56; s >= 0; s -= 8) trailer += static_cast<char>((v >> s) & 0xFF);
    }
    return out + trailer;
  }
};

std::optional<Dict> decode(const std::string& bytes, std::string* why = nullptr) {
  return BinaryPropertyList::decode(bytes.data(), bytes.size(), why);
}

TEST(BinaryPropertyList, ReadsAHandBuiltFile) {
  RawPlist p;
  p.objects = {RawPlist::dict({1}, {2}), RawPlist::ascii("k"), RawPlist::array({1, 1})};
  auto dict = decode(p.bytes());
  ASSERT_TRUE(dict);
  EXPECT_EQ(Value(*dict), Value::makeDict({{"k", Value::makeArray({"k", "k"})}}));
}

// Each file here would make the library recurse without bound, unfold into too many
// values, or read outside the buffer; each is refused as a whole.
TEST(BinaryPropertyList, RefusesHostileStructures) {
  const auto chain = [](std::size_t depth, std::size_t fanout) {
    RawPlist p;
    p.objects.push_back(RawPlist::dict({1}, {2}));
    p.objects.push_back(RawPlist::ascii("k"));
    for (std::size_t i = 0; i < depth; ++i) {
      const auto next = static_cast<std::uint16_t>(p.objects.size() + 1);
      p.objects.push_back(RawPlist::array(std::vector<std::uint16_t>(fanout, next)));
    }
    p.objects.push_back(RawPlist::ascii("x"));
    return p.bytes();
  };
  RawPlist selfRef;
  selfRef.objects = {RawPlist::dict({1}, {2}), RawPlist::ascii("k"), RawPlist::array({2})};
  RawPlist numberKey;
  numberKey.objects = {RawPlist::dict({1}, {1}), std::string("\x10\x07", 2)};
  RawPlist nulKey;
  nulKey.objects = {RawPlist::dict({1}, {1}), std::string("\x53" "a\0b", 4)};
  RawPlist badRef;
  badRef.objects = {RawPlist::dict({1}, {9}), RawPlist::ascii("k")};
  std::string cutTable = chain(1, 1);
  cutTable[cutTable.size() - 1] = static_cast<char>(0x7F);  // offset table starts past the data

  struct Case {
    const char* name;
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"nested 65 deep", chain(65, 1), "nesting deeper than 64"},
      {"shared references 40 deep", chain(40, 2), "too many values"},
      {"container holding itself", selfRef.bytes(), "holds itself"},
      {"reference past the objects", badRef.bytes(), "names no object"},
      {"number as a dictionary key", numberKey.bytes(), "key is not text"},
      {"dictionary key with a NUL", nulKey.bytes(), "key is not text"},
      {"offset table outside", cutTable, "offset table"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(decode(c.bytes, &why)) << c.name;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
  }
  EXPECT_TRUE(decode(chain(64, 1))) << "64 levels below the root are allowed";
  EXPECT_TRUE(decode(chain(16, 2))) << "shared references within the value budget";
}

TEST(BinaryPropertyList, RootMustBeADictionary) {
  RawPlist p;
  p.objects = {RawPlist::array({1}), RawPlist::ascii("x")};
  std::string why;
  EXPECT_FALSE(decode(p.bytes(), &why));
  EXPECT_EQ(why, "the root is not a dictionary");
}

}  // namespace
}  // namespace velmora::platform::defaults

namespace velmora::platform::defaults {
namespace {

TEST(BinaryPropertyListValue, AnyRootInEitherEncodingRoundTrips) {
  Dict d;
  d.emplace("name", Value("caf\xC3\xA9"));
  d.emplace("n", Value(std::int64_t{-7}));
  d.emplace("list", Value(Array{Value(1.5), Value(true), Value(Bytes{1, 2})}));
  const Value values[] = {Value(d), Value(Array{Value("a"), Value(d)}), Value("bare text")};
  for (const Value& v : values) {
    for (auto format : {BinaryPropertyList::Format::Xml, BinaryPropertyList::Format::Binary}) {
      auto bytes = BinaryPropertyList::encodeValue(v, format);
      ASSERT_TRUE(bytes);
      EXPECT_EQ(bytes->starts_with("bplist00"), format == BinaryPropertyList::Format::Binary);
      EXPECT_EQ(BinaryPropertyList::decodeValue(bytes->data(), bytes->size()), v);
    }
  }
  std::string why;
  EXPECT_FALSE(BinaryPropertyList::encodeValue(Value(null), BinaryPropertyList::Format::Xml, &why));
  EXPECT_FALSE(why.empty());
}

TEST(BinaryPropertyListValue, RefusesDeepOrBrokenXml) {
  const auto nested = [](std::size_t levels, std::string_view between = "") {
    std::string s = "<plist version=\"1.0\">";
    for (std::size_t i = 0; i < levels; ++i) s += "<array>" + std::string(between);
    for (std::size_t i = 0; i < levels; ++i) s += "</array>";
    return s + "</plist>";
  };
  struct Case {
    const char* name;
    std::string text;
    bool reads;
  };
  const Case cases[] = {
      {"at the limit", nested(BinaryPropertyList::kMaxNesting), true},
      {"one deeper", nested(BinaryPropertyList::kMaxNesting + 2), false},
      {"very deep", nested(100000), false},
      {"closing tags hidden in comments still count as depth",
       nested(BinaryPropertyList::kMaxNesting + 2, "<!-- </array></array></array> -->"), false},
      {"cut", "<plist><dict><key>a</key>", false},
      {"not a property list", "hello", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(BinaryPropertyList::decodeValue(c.text.data(), c.text.size(), &why).has_value(), c.reads) << c.name << why;
  }
}

// What is read from outside can always be written back: a date the file format holds but
// the writer cannot (beyond 32-bit seconds from 2001, not finite, in the last second of
// 2000) is refused on reading, in either encoding; the library's own date getter would
// convert such a value unchecked.
TEST(BinaryPropertyListValue, ReadsOnlyDatesItCanWriteBack) {
  constexpr double kInt32Min = -2147483648.0;
  const struct {
    const char* name;
    double seconds;
    bool reads;
  } cases[] = {
      {"2001", 0, true},
      {"a fraction after 2001", 1.25, true},
      {"before 2001 with a fraction", -5.5, true},
      {"the earliest writable second", kInt32Min, true},
      {"the last writable second", 2147483647.5, true},
      {"just before the earliest", kInt32Min - 0.5, false},
      {"just after the last", 2147483648.0, false},
      {"the last second of 2000", -0.5, false},
      {"year 2307", 9663676416.0, false},
      {"far past", -1e300, false},
      {"infinite", std::numeric_limits<double>::infinity(), false},
      {"not a number", std::numeric_limits<double>::quiet_NaN(), false},
  };
  for (const auto& k : cases) {
    RawPlist p;
    p.objects = {RawPlist::array({1}), RawPlist::date(k.seconds)};
    const std::string bytes = p.bytes();
    std::string why;
    const auto value = BinaryPropertyList::decodeValue(bytes.data(), bytes.size(), &why);
    ASSERT_EQ(value.has_value(), k.reads) << k.name << " " << why;
    if (value) {
      const Date read = *(*value->array())[0].toDate();
      EXPECT_NEAR(static_cast<double>(read.unixMicros() - Date::kReferenceDateUnixSeconds * 1'000'000) / 1e6,
                  k.seconds, 1e-6)
          << k.name;
      EXPECT_TRUE(BinaryPropertyList::encodeValue(*value, BinaryPropertyList::Format::Binary)) << k.name;
      EXPECT_TRUE(BinaryPropertyList::encodeValue(*value, BinaryPropertyList::Format::Xml)) << k.name;
    }
    // In a defaults file the entry is left out, the rest kept.
    RawPlist file;
    file.objects = {RawPlist::dict({1, 2}, {3, 4}), RawPlist::ascii("d"), RawPlist::ascii("k"),
                    RawPlist::date(k.seconds), RawPlist::ascii("v")};
    const std::string fileBytes = file.bytes();
    std::vector<std::string> skipped;
    const auto dict = BinaryPropertyList::decode(fileBytes.data(), fileBytes.size(), nullptr, &skipped);
    ASSERT_TRUE(dict) << k.name;
    EXPECT_EQ(dict->count("d"), k.reads ? 1u : 0u) << k.name;
    EXPECT_EQ(dict->count("k"), 1u) << k.name;
    EXPECT_EQ(skipped, k.reads ? std::vector<std::string>{} : std::vector<std::string>{"d"}) << k.name;
  }
  const std::string xml[] = {"<plist><date>2300-01-01T00:00:00Z</date></plist>",
                             "<plist><array><date>1900-01-01T00:00:00Z</date></array></plist>"};
  for (const auto& text : xml) {
    const auto value = BinaryPropertyList::decodeValue(text.data(), text.size());
    EXPECT_FALSE(value) << text;
  }
  const std::string inRange = "<plist><date>2024-05-06T07:08:09Z</date></plist>";
  const auto value = BinaryPropertyList::decodeValue(inRange.data(), inRange.size());
  ASSERT_TRUE(value);
  EXPECT_EQ(value->toDate()->unixMicros(), std::int64_t{1714979289} * 1'000'000);
}

}  // namespace
}  // namespace velmora::platform::defaults
