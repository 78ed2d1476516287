#include "beacons/microlocation/KSLassoPacket.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Dict;
using platform::Value;
using velmora::testing::hexBytes;

const platform::Date kNow = platform::Date::fromUnixSeconds(1714564800);  // 2024-05-01T12:00:00Z
const char* const kTime = "C0 2E 32 66";

std::string hex(const Bytes& b) {
  std::string out;
  for (auto c : b) out += fmt::format("{}{:02X}", out.empty() ? "" : " ", c);
  return out;
}

TEST(LassoPacketBuild, EntriesInOrderWithLengthAndTime) {
  struct Case {
    const char* name;
    Dict dictionary;
    std::string expected;
  };
  const Case cases[] = {
      {"amount and value", {{"Amount", 1000}, {"Transaction", "Value"}},
       std::string("13 01 05 22 E8 03 00 00 02 21 01 02 04 01 05 25 ") + kTime},
      {"code transaction", {{"Amount", 1000}, {"Transaction", "Code"}, {"Code", "ABC"}},
       std::string("18 01 05 22 E8 03 00 00 02 21 03 04 23 41 42 43 02 04 01 05 25 ") + kTime},
      {"empty", {}, std::string("0A 01 02 04 01 05 25 ") + kTime},
      {"other transaction text, ids", {{"Transaction", "Gift"}, {"OfferId", "O1"}, {"ReferenceId", "R"}},
       std::string("14 01 02 21 00 03 24 4F 31 02 26 52 02 04 01 05 25 ") + kTime},
      {"whole double amount, code not sent without its transaction", {{"Amount", 4294967295.0}, {"Code", "X"}},
       std::string("10 01 05 22 FF FF FF FF 02 04 01 05 25 ") + kTime},
  };
  for (const auto& c : cases) {
    platform::Error error;
    auto packet = KSKLassoPacketData(c.dictionary, kNow, &error);
    ASSERT_TRUE(packet) << c.name << ": " << error.localizedDescription;
    EXPECT_EQ(hex(*packet), c.expected) << c.name;
  }
}

TEST(LassoPacketBuild, LongOfferIdsUpToTheLengthByte) {
  for (auto [n, size] : {std::pair{237, 250}, {238, 251}, {243, 256}}) {
    auto packet = KSKLassoPacketData({{"OfferId", std::string(static_cast<std::size_t>(n), 'A')}}, kNow);
    ASSERT_TRUE(packet) << n;
    EXPECT_EQ(packet->size(), static_cast<std::size_t>(size));
    EXPECT_EQ((*packet)[0], size - 1);
  }
}

TEST(LassoPacketBuild, RefusesRatherThanWraps) {
  struct Case {
    const char* name;
    Dict dictionary;
  };
  const Case cases[] = {
      {"244-byte offer", {{"OfferId", std::string(244, 'A')}}},
      {"255-byte reference", {{"ReferenceId", std::string(255, 'A')}}},
      {"negative amount", {{"Amount", -1}}},
      {"amount past 32 bits", {{"Amount", std::int64_t{4294967296}}}},
      {"fractional amount", {{"Amount", 1000.5}}},
      {"amount as text", {{"Amount", "1000"}}},
      {"amount as bool", {{"Amount", true}}},
      {"non-ASCII offer", {{"OfferId", "\xC3\xA9"}}},
      {"offer not text", {{"OfferId", 5}}},
      {"code transaction without code", {{"Transaction", "Code"}}},
      {"code not text", {{"Transaction", "Code"}, {"Code", Value(Bytes{1})}}},
  };
  for (const auto& c : cases) {
    platform::Error error;
    EXPECT_FALSE(KSKLassoPacketData(c.dictionary, kNow, &error)) << c.name;
    EXPECT_EQ(error.domain, "com.kestrine.KSLassoManager") << c.name;
    EXPECT_EQ(error.code, -1);
    EXPECT_FALSE(error.localizedDescription.empty()) << c.name;
  }
  EXPECT_FALSE(KSKLassoPacketData({}, platform::Date::fromUnixSeconds(-1)));
}

TEST(LassoPacketParse, DecodesEachValueByItsType) {
  auto reply = KSKLassoParseData(hexBytes("0F 01 03 2A 30 30 03 2B 4F 4B 05 22 E8 03 00 00"));
  ASSERT_TRUE(reply);
  EXPECT_EQ(*reply, (Dict{{"DataType", Value(Bytes{1})},
                          {"ResponseCode", "00"},
                          {"Message", "OK"},
                          {"Amount", Value(std::uint64_t{1000})}}));

  auto built = KSKLassoParseData(*KSKLassoPacketData({}, kNow));
  ASSERT_TRUE(built);
  EXPECT_EQ(*built, (Dict{{"DataType", Value(Bytes{1})}, {"Function", Value(Bytes{1})}, {"DeviceTime", kNow}}));

  auto unknown = KSKLassoParseData(hexBytes("05 01 03 50 AA BB"));
  ASSERT_TRUE(unknown);
  EXPECT_EQ((*unknown)["Unknown Value Type for id 80"], Value(Bytes{0xAA, 0xBB}));
}

TEST(LassoPacketParse, ShortPacketsNonAsciiTextAndTrailingBytes) {
  const Dict dataTypeOnly{{"DataType", Value(Bytes{1})}};
  for (const char* packet : {"02 01", "06 01 04 2A FF 30 30", "01 01 99 99"}) {
    auto parsed = KSKLassoParseData(hexBytes(packet));
    ASSERT_TRUE(parsed) << packet;
    EXPECT_EQ(*parsed, dataTypeOnly) << packet;
  }
  auto trailing = KSKLassoParseData(hexBytes("04 01 02 04 01 FF FF"));
  ASSERT_TRUE(trailing);
  EXPECT_EQ((*trailing)["Function"], Value(Bytes{1}));
}

// Entries are read while their offset is below the length byte: a last byte of the packet
// that is no room for an entry (offset equal to the length) ends the walk instead of being
// read as an empty entry.
TEST(LassoPacketParse, StopsAtAnOffsetEqualToTheLength) {
  const Dict function{{"DataType", Value(Bytes{1})}, {"Function", Value(Bytes{1})}};
  for (const char* packet : {"05 01 02 04 01 00", "05 01 02 04 01 02"}) {
    auto parsed = KSKLassoParseData(hexBytes(packet));
    ASSERT_TRUE(parsed) << packet;
    EXPECT_EQ(*parsed, function) << packet;
  }
  auto timed = KSKLassoParseData(hexBytes("0B 01 02 04 01 05 25 C0 2E 32 66 00"));
  ASSERT_TRUE(timed);
  EXPECT_EQ(*timed, (Dict{{"DataType", Value(Bytes{1})},
                          {"Function", Value(Bytes{1})},
                          {"DeviceTime", platform::Date::fromUnixSeconds(0x66322EC0)}}));
}

TEST(LassoPacketParse, RejectsMalformedPackets) {
  for (const char* packet : {"", "05", "0A 01 02 04", "04 01 00 21 01", "05 01 05 22 E8 03", "06 01 04 22 E8 03 00",
                             "08 01 06 25 01 02 03 04 05"}) {
    EXPECT_FALSE(KSKLassoParseData(hexBytes(packet))) << packet;
  }
}

TEST(LassoPacketParse, RoundTripsWhatItBuilds) {
  const Dict request{{"Amount", 77}, {"Transaction", "Code"}, {"Code", "C-9"}, {"OfferId", "OFF"},
                     {"ReferenceId", "REF"}};
  auto parsed = KSKLassoParseData(*KSKLassoPacketData(request, kNow));
  ASSERT_TRUE(parsed);
  EXPECT_EQ((*parsed)["Amount"], Value(std::uint64_t{77}));
  EXPECT_EQ((*parsed)["Transaction"], Value(Bytes{3}));
  EXPECT_EQ((*parsed)["Code"], Value("C-9"));
  EXPECT_EQ((*parsed)["OfferId"], Value("OFF"));
  EXPECT_EQ((*parsed)["ReferenceId"], Value("REF"));
  EXPECT_EQ((*parsed)["DeviceTime"], Value(kNow));
}

}  // namespace
}  // namespace velmora::kestrine
