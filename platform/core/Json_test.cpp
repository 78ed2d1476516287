#include "platform/core/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

namespace velmora::platform {
namespace {

TEST(JsonTest, ParseKeepsKinds) {
  Error error;
  auto v = json::parse(
      R"({"i":42,"n":-7,"big":18446744073709551615,"d":1.5,"whole":2.0,"b":true,"z":null,"s":"é","a":[1,"x"]})",
      &error);
  ASSERT_TRUE(v) << error.debugDescription();
  EXPECT_EQ((*v)["i"].kind(), Value::Kind::Int);
  EXPECT_EQ((*v)["n"], Value(-7));
  EXPECT_EQ((*v)["big"], Value(UINT64_MAX));
  EXPECT_EQ((*v)["d"], Value(1.5));
  EXPECT_EQ((*v)["whole"].kind(), Value::Kind::Double);
  EXPECT_EQ((*v)["b"], Value(true));
  EXPECT_TRUE((*v)["z"].isNull());
  EXPECT_TRUE((*v)["missing"].isAbsent());
  EXPECT_EQ((*v)["s"], Value("\xC3\xA9"));
  EXPECT_EQ((*v)["a"][1], Value("x"));
}

TEST(JsonTest, RejectsWhatIsNotADocument) {
  const std::string cases[] = {
      "123", "null", "\"text\"", "true",      // fragments
      "", "   ", "{", "[1,]", "{\"a\":1} x",   // malformed or trailing text
      "{\"a\":\"\xFF\"}", "[\"\xC3\"]",        // invalid UTF-8
      "{\"a\":NaN}",
      std::string(json::kMaxDepth + 1, '[') + std::string(json::kMaxDepth + 1, ']'),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    Error error;
    EXPECT_FALSE(json::parse(text, &error));
    EXPECT_EQ(error.domain, coding::kDomain);
    EXPECT_EQ(error.code, coding::kReadCorrupt);
  }
}

TEST(JsonTest, AcceptsNestingUpToTheLimit) {
  const std::string deep = std::string(json::kMaxDepth, '[') + std::string(json::kMaxDepth, ']');
  EXPECT_TRUE(json::parse(deep));
}

TEST(JsonTest, WritesIntegersWithoutFractionAndDoublesExactly) {
  struct Case {
    Value value;
    const char* text;
  };
  const Case cases[] = {
      {Value::makeDict({{"n", 5}}), R"({"n":5})"},
      {Value::makeDict({{"n", -1}}), R"({"n":-1})"},
      {Value::makeDict({{"u", UINT64_MAX}}), R"({"u":18446744073709551615})"},
      {Value::makeDict({{"b", false}, {"z", null}}), R"({"b":false,"z":null})"},
      {Value::makeDict({{"skip", Value()}, {"k", "v"}}), R"({"k":"v"})"},
      {Value::makeArray({}), "[]"},
      {Value(2.5), "2.5"},
      {Value(2.0), "2.0"},  // a whole double keeps its fraction, so it reads back as a double
      {Value(-0.0), "-0.0"},
      {Value(1e21), "1e+21"},
      // Where the point goes: plain while it falls within 15 digits and at most 4 zeros
      // follow it, an exponent with a sign and two digits or more otherwise.
      {Value(0.0), "0.0"},
      {Value(100.0), "100.0"},
      {Value(12.375), "12.375"},
      {Value(123456789012345.0), "123456789012345.0"},
      {Value(1234567890123456.0), "1.234567890123456e+15"},
      {Value(1e15), "1e+15"},
      {Value(0.0001), "0.0001"},
      {Value(0.00001), "1e-05"},
      {Value(1.5e-7), "1.5e-07"},
      {Value(-7.25e-300), "-7.25e-300"},
      {Value(1e100), "1e+100"},
      {Value(5e-324), "5e-324"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(json::write(c.value), std::string(c.text));
  }
}

TEST(JsonTest, DoublesRoundTripBitForBit) {
  const double values[] = {0.1, 1.0 / 3.0, -2.5e-308, 1.7976931348623157e308, 59.3293371, 18.0686, 1e21,
                           std::numeric_limits<double>::denorm_min()};
  for (double d : values) {
    auto text = json::write(Value::makeArray({d}));
    ASSERT_TRUE(text);
    auto back = json::parse(*text);
    ASSERT_TRUE(back) << *text;
    EXPECT_EQ((*back)[0].kind(), Value::Kind::Double) << *text;
    EXPECT_EQ(*(*back)[0].toDouble(), d) << *text;
  }
}

// Over many random doubles, of every magnitude and of everyday ones, the text reads back to the
// same bits and has the fewest digits that do. It matches the JSON library's own writer byte
// for byte wherever that writer also found the shortest digits; where it did not (its
// algorithm sometimes gives a longer or a farther last digit), ours is the shorter or the
// closer one, with the same layout.
TEST(JsonTest, DoublesAreShortestAndLaidOutAsTheLibraryLaysThemOut) {
  std::mt19937_64 random(20261210);
  int differing = 0;
  constexpr int kValues = 200000;
  for (int i = 0; i < kValues; ++i) {
    double d = 0;
    if (i % 2 == 0) {
      const std::uint64_t bits = random();
      std::memcpy(&d, &bits, sizeof d);
      if (!std::isfinite(d)) continue;
    } else {
      d = std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 90));
    }
    const auto array = json::write(Value::makeArray({d}));
    ASSERT_TRUE(array);
    const std::string text = array->substr(1, array->size() - 2);
    SCOPED_TRACE(text);
    ASSERT_EQ(std::strtod(text.c_str(), nullptr), d);
    ASSERT_TRUE(text.find_first_of(".e") != std::string::npos) << "reads back as a double";

    const auto significant = [](const std::string& t) {
      std::string digits;
      for (char c : t.substr(0, t.find('e'))) {
        if (c >= '0' && c <= '9') digits += c;
      }
      const auto first = digits.find_first_not_of('0');
      digits = first == std::string::npos ? "0" : digits.substr(first);
      while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
      return digits;
    };
    const std::string ours = significant(text);
    if (ours.size() > 1) {
      char shorter[40];
      std::snprintf(shorter, sizeof shorter, "%.*e", static_cast<int>(ours.size()) - 2, d);
      ASSERT_NE(std::strtod(shorter, nullptr), d) << "fewer digits would do: " << shorter;
    }
    const std::string library = nlohmann::json(d).dump();
    if (significant(library) == ours) {
      ASSERT_EQ(text, library);
    } else {
      ++differing;
      ASSERT_LE(ours.size(), significant(library).size()) << library;
      ASSERT_EQ(text.find('e') == std::string::npos, library.find('e') == std::string::npos) << library;
    }
  }
  EXPECT_LT(differing, kValues / 100) << "the library's digits are shortest for almost all values";
}

// The JSON library's reading of a document, as a Value, for comparing readers.
Value fromLibrary(const nlohmann::json& j) {
  switch (j.type()) {
    case nlohmann::json::value_t::object: {
      Dict d;
      for (const auto& [k, v] : j.items()) d.emplace(k, fromLibrary(v));
      return Value(std::move(d));
    }
    case nlohmann::json::value_t::array: {
      Array a;
      for (const auto& v : j) a.push_back(fromLibrary(v));
      return Value(std::move(a));
    }
    case nlohmann::json::value_t::string: return Value(j.get<std::string>());
    case nlohmann::json::value_t::boolean: return Value(j.get<bool>());
    case nlohmann::json::value_t::number_integer: return Value(j.get<std::int64_t>());
    case nlohmann::json::value_t::number_unsigned: {
      const auto u = j.get<std::uint64_t>();
      return u <= static_cast<std::uint64_t>(INT64_MAX) ? Value(static_cast<std::int64_t>(u)) : Value(u);
    }
    case nlohmann::json::value_t::number_float: return Value(j.get<double>());
    default: return Value(null);
  }
}

// Our reader accepts exactly the documents the JSON library accepts (objects and arrays at
// the top), and reads them to the same values: over hand-picked edge cases and many random
// mutations of them.
TEST(JsonTest, ReaderAgreesWithTheJsonLibrary) {
  const std::vector<std::string> seeds = {
      R"({"a":[1,-2,3.5,1e+21,-0.0,null,true,false,{"b":{}}],"u":18446744073709551615,"n":-9223372036854775808})",
      "[\"caf\\u00e9 \\ud83d\\ude00 \\\"q\\\" \\\\ \\/ \\b\\f\\n\\r\\t\", \"\\u0000\", \"caf\xC3\xA9 \xF0\x9F\x85\xBF\"]",
      R"( { "k" : [ 0 , 0.5e-3 , 1E2 , -0 , 18446744073709551616 , -9223372036854775809 , 1e400, 5e-330 ] } )",
      "\xEF\xBB\xBF[1]",
      R"({"dup":1,"dup":2})",
      R"([[[[[[]]]]],{},[{}],"\ud800","\udc00x","\ud800\u0041"])",
      R"([01, 1., .5, +1, 1e, 0x10, tru, nul, "a\x", "\u12", [1,], {"a":1,}, {"a" 1}, {1:2}])",
      "[\"\xC0\xAF\", \"\xED\xA0\x80\", \"\xF4\x90\x80\x80\", \"\x7F\", \"\t\"]",
  };
  const auto check = [](const std::string& text) {
    const auto ours = json::parse(text);
    const auto library = nlohmann::json::parse(text, nullptr, false);
    const bool libraryAccepts = !library.is_discarded() && (library.is_object() || library.is_array());
    ASSERT_EQ(ours.has_value(), libraryAccepts) << text;
    if (ours) {
      ASSERT_EQ(*ours, fromLibrary(library)) << text;
    }
  };
  for (const auto& seed : seeds) check(seed);
  // Each seed's elements one at a time, so a refused one does not hide the others.
  std::mt19937 random(7);
  const std::string alphabet = "{}[]:,\"\\/0123456789.eE+-tfnulrsaxu \t\n\x01\x7f\xc3\xa9\xed\xf0\x9f";
  for (int i = 0; i < 100000; ++i) {
    std::string text = seeds[random() % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 3);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const std::size_t at = random() % text.size();
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 3) {
        case 0: text[at] = c; break;
        case 1: text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), c); break;
        default: text.erase(at, 1 + random() % 3);
      }
    }
    check(text);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(JsonTest, EscapesOnlyWhatJsonRequires) {
  struct Case {
    std::string text;
    const char* written;
  };
  const Case cases[] = {
      {"quote \" back \\ slash /", R"(["quote \" back \\ slash /"])"},
      {"\b\f\n\r\t", R"(["\b\f\n\r\t"])"},
      {std::string("\x00\x01\x1f\x7f", 4), "[\"\\u0000\\u0001\\u001f\x7f\"]"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x85\xBF", "[\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x85\xBF\"]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    const auto text = json::write(Value::makeArray({c.text}));
    EXPECT_EQ(text, std::string(c.written));
    ASSERT_TRUE(text);
    EXPECT_EQ(json::parse(*text), Value::makeArray({c.text}));
  }
  EXPECT_EQ(json::write(Value::makeDict({{"b\n", 1}, {"a\"", 2}})), std::string(R"({"a\"":2,"b\n":1})"));
}

TEST(JsonTest, RefusesToWriteWhatJsonCannotHold) {
  const Value cases[] = {
      Value::makeDict({{"x", std::nan("")}}),
      Value::makeDict({{"x", INFINITY}}),
      Value::makeArray({-INFINITY}),
      Value::makeDict({{"s", "\xFF"}}),
      Value::makeDict({{"\xC3", 1}}),                // a key cut inside a sequence
      Value::makeArray({"\xC0\xAF"}),               // overlong "/"
      Value::makeArray({"\xED\xA0\x80"}),           // a UTF-16 surrogate
      Value::makeArray({"\xF4\x90\x80\x80"}),       // past U+10FFFF
      Value::makeDict({{"d", Date()}}),
      Value::makeDict({{"b", Bytes{1, 2}}}),
      Value::makeArray({Value()}),
      Value(),
  };
  for (const auto& v : cases) {
    Error error;
    EXPECT_FALSE(json::write(v, &error));
    EXPECT_EQ(error.code, coding::kWriteInvalidValue);
  }
}

}  // namespace
}  // namespace velmora::platform
