#include "parking/service/RecordCodec.h"

#include <gtest/gtest.h>

#include <cmath>

#include "parking/service/ClientInfoBlock.h"
#include "platform/core/Json.h"

namespace velmora {
namespace {

using platform::Value;

struct Inner {
  std::int64_t id = 0;
  std::string name;
  static Inner decode(RecordDecoder& d) { return Inner{d.int64("id", -1), d.string("name")}; }
  void encode(RecordEncoder& e) const {
    e.put("id", id);
    e.put("name", name);
  }
};

struct Outer {
  std::string result;
  std::int64_t count = 0;
  double ratio = 0;
  bool flag = false;
  std::optional<std::string> note;
  std::optional<platform::Date> when;
  std::vector<Inner> items;
  std::optional<std::vector<Inner>> extra;

  static Outer decode(RecordDecoder& d) {
    Outer o;
    o.result = d.string("result", "Failure");
    o.count = d.int64("count", -1);
    o.ratio = d.number("ratio", 0.5);
    o.flag = d.boolean("flag");
    o.note = d.optionalString("note");
    o.when = d.optionalDate("when");
    o.items = d.records<Inner>("items");
    o.extra = d.optionalRecords<Inner>("extra");
    return o;
  }
  void encode(RecordEncoder& e) const {
    e.put("result", result);
    e.put("count", count);
    e.put("ratio", ratio);
    e.put("flag", flag);
    e.put("note", note);
    e.put("when", when);
    e.put("items", items);
    e.put("extra", extra);
  }
};

Value parse(const char* text) {
  auto v = platform::json::parse(text);
  EXPECT_TRUE(v) << text;
  return v ? *v : Value();
}

TEST(RecordCodecTest, MissingAndNullKeysTakeFallbacks) {
  for (const char* body : {"{}", R"({"result":null,"count":null,"ratio":null,"flag":null,"note":null,"items":null})"}) {
    auto o = decodeRecord<Outer>(parse(body));
    ASSERT_TRUE(o) << body;
    EXPECT_EQ(o->result, "Failure");
    EXPECT_EQ(o->count, -1);
    EXPECT_EQ(o->ratio, 0.5);
    EXPECT_FALSE(o->flag);
    EXPECT_FALSE(o->note);
    EXPECT_FALSE(o->when);
    EXPECT_TRUE(o->items.empty());
    EXPECT_FALSE(o->extra);
  }
}

TEST(RecordCodecTest, WrongTypesFailWithTheCodingPath) {
  struct Case {
    const char* body;
    const char* path;
  };
  const Case cases[] = {
      {R"({"count":"42"})", "count"},
      {R"({"count":1.5})", "count"},
      {R"({"count":18446744073709551615})", "count"},
      {R"({"flag":1})", "flag"},
      {R"({"result":7})", "result"},
      {R"({"ratio":"x"})", "ratio"},
      {R"({"items":{}})", "items"},
      {R"({"items":[{"id":1},{"id":"2"}]})", "items[1].id"},
      {R"({"items":[{"id":1},7]})", "items[1]"},
      {R"({"when":"2001-01-01"})", "when"},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(decodeRecord<Outer>(parse(c.body), &error)) << c.body;
    EXPECT_EQ(error.domain, platform::coding::kDomain);
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], Value(c.path)) << c.body;
  }
  platform::Error error;
  EXPECT_FALSE(decodeRecord<Outer>(parse("[]"), &error));
  EXPECT_FALSE(decodeRecordJSON<Outer>("not json", &error));
  EXPECT_FALSE(decodeRecordJSON<Outer>("", &error));
}

TEST(RecordCodecTest, IntegersWrittenWithAZeroFractionAreAccepted) {
  auto o = decodeRecord<Outer>(parse(R"({"count":5.0,"ratio":2,"items":[{"id":-3.0}]})"));
  ASSERT_TRUE(o);
  EXPECT_EQ(o->count, 5);
  EXPECT_EQ(o->ratio, 2.0);
  EXPECT_EQ(o->items.at(0).id, -3);
}

// A number that does not fit an Int64 fails the decoding, also just past either end, where
// the reply's number reads as a double that rounds onto the end itself.
TEST(RecordCodecTest, Int64KeysTakeExactlyTheSignedRange) {
  const std::pair<const char*, std::optional<std::int64_t>> rows[] = {
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775809", std::nullopt},
      {"-9223372036854775808.5", std::nullopt},
      {"9223372036854775808", std::nullopt},
      {"9223372036854775807.5", std::nullopt},
      {"-1e19", std::nullopt},
      {"1e300", std::nullopt},
      {"-4611686018427387904.0", -4611686018427387904},
      {"1e3", 1000},
  };
  for (const auto& [number, value] : rows) {
    const std::string body = std::string(R"({"count":)") + number + "}";
    platform::Error error;
    auto o = decodeRecordJSON<Outer>(body, &error);
    ASSERT_EQ(o.has_value(), value.has_value()) << number;
    if (o) {
      EXPECT_EQ(o->count, *value) << number;
    } else {
      EXPECT_EQ(error.domain, platform::coding::kDomain) << number;
      EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], Value("count")) << number;
    }
  }
}

TEST(RecordCodecTest, EncodingOmitsAbsentOptionalsAndRoundTrips) {
  Outer o;
  o.result = "Success";
  o.count = 3;
  o.ratio = 0.1;
  o.when = platform::Date::fromReferenceSeconds(0);
  o.items = {Inner{1, "a"}, Inner{2, "b"}};
  o.extra = std::vector<Inner>{};
  auto value = encodeRecord(o);
  ASSERT_TRUE(value);
  EXPECT_TRUE((*value)["note"].isAbsent());
  EXPECT_EQ((*value)["when"], Value(0.0));
  EXPECT_EQ((*value)["extra"], Value(platform::Array{}));
  EXPECT_EQ((*value)["items"][1]["name"], Value("b"));
  auto back = decodeRecord<Outer>(*value);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ratio, 0.1);
  EXPECT_EQ(back->when, o.when);
  EXPECT_EQ(back->items.size(), 2u);
  EXPECT_EQ(back->extra->size(), 0u);
}

// JSON text keeps each record's declared order, nested records and list elements included;
// an optional left out takes no place.
TEST(RecordCodecTest, TextWritesKeysInEachRecordsDeclaredOrder) {
  Outer o;
  o.result = "Success";
  o.count = 3;
  o.ratio = 0.5;
  o.flag = true;
  o.when = platform::Date::fromReferenceSeconds(2);
  o.items = {Inner{1, "a"}, Inner{2, "b\"q"}};
  platform::Error error;
  auto text = encodeRecordJSON(o, &error);
  ASSERT_TRUE(text) << error.debugDescription();
  EXPECT_EQ(*text,
            R"({"result":"Success","count":3,"ratio":0.5,"flag":true,"when":2.0,)"
            R"("items":[{"id":1,"name":"a"},{"id":2,"name":"b\"q"}]})");
  auto back = decodeRecordJSON<Outer>(*text, &error);
  ASSERT_TRUE(back) << error.debugDescription();
  EXPECT_EQ(back->items[1].name, "b\"q");
}

TEST(RecordCodecTest, NonFiniteDoublesFailEncoding) {
  for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
    Outer o;
    o.ratio = bad;
    platform::Error error;
    EXPECT_FALSE(encodeRecordJSON(o, &error));
    EXPECT_EQ(error.code, platform::coding::kWriteInvalidValue);
    EXPECT_EQ(error.userInfo[std::string(platform::kCodingPathKey)], Value("ratio"));
  }
}

struct Required {
  std::string email;
  std::optional<std::int64_t> userId;
  static Required decode(RecordDecoder& d) { return Required{d.requiredString("email"), d.optionalInt64("userId")}; }
  void encode(RecordEncoder& e) const {
    e.put("email", email);
    e.put("userId", userId);
  }
};

TEST(RecordCodecTest, RequiredKeysMustBePresentAndNotNull) {
  platform::Error error;
  EXPECT_FALSE(decodeRecord<Required>(parse("{}"), &error));
  EXPECT_EQ(error.code, platform::coding::kValueNotFound);
  EXPECT_FALSE(decodeRecord<Required>(parse(R"({"email":null})")));
  auto r = decodeRecord<Required>(parse(R"({"email":""})"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->email, "");
  EXPECT_FALSE(r->userId);
}

TEST(ClientInfoBlockTest, BlankBlockWritesNothingAndReadsBack) {
  ClientInfoBlock blank;
  RecordEncoder e;
  blank.encodeBlock(e);
  EXPECT_EQ(e.take().size(), 0u);

  ClientInfoBlock b;
  b.userId = -1;
  b.appId = "";
  b.currentLatitude = 59.5;
  RecordEncoder e2;
  b.encodeBlock(e2);
  Value v = e2.take();
  RecordDecoder d(v);
  ClientInfoBlock back;
  back.decodeBlock(d);
  EXPECT_FALSE(d.failed());
  EXPECT_EQ(back.userId, -1);
  EXPECT_EQ(back.appId, "");
  EXPECT_EQ(back.currentLatitude, 59.5);
  EXPECT_FALSE(back.clientSecret);
}

}  // namespace
}  // namespace velmora
