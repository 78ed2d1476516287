#include "beacons/model/KSBlockDataReassembler.h"

#include <gtest/gtest.h>

#include "beacons/model/KSAdDataConstants.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Date;
using platform::Value;

struct Frame {
  int identifier;
  int index;
  int count;
  Bytes chunk;
  int type = 2;
  int encoding = 0;
};

Value frameValue(const Frame& f) {
  return Value(platform::Dict{{std::string(KSBlockDataIdentifierKey), Value(f.identifier)},
                              {std::string(KSBlockDataIndexKey), Value(f.index)},
                              {std::string(KSBlockDataCountKey), Value(f.count)},
                              {std::string(KSBlockDataTypeKey), Value(f.type)},
                              {std::string(KSBlockDataEncodingKey), Value(f.encoding)},
                              {std::string(KSBlockDataDataKey), Value(f.chunk)}});
}

const Date kNow = Date::fromReferenceSeconds(1000);

TEST(KSBlockDataReassembler, IndexesTwoZeroTwoOneCompleteOnTheFourthFrameInIndexOrder) {
  KSBlockDataReassembler r;
  EXPECT_FALSE(r.reassemble(frameValue({5, 2, 3, {0xC0}}), kNow));
  EXPECT_FALSE(r.reassemble(frameValue({5, 0, 3, {0xA0}}), kNow));
  EXPECT_FALSE(r.reassemble(frameValue({5, 2, 3, {0xC1, 0xC2}}), kNow));  // replaces the first chunk 2
  auto partial = r.partialBlockData();
  ASSERT_TRUE(partial);
  EXPECT_EQ((*partial)[KSBlockDataDataForIndexKey].size(), 2u);
  auto record = r.reassemble(frameValue({5, 1, 3, {0xB0}}), kNow);
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)[KSBlockDataDataKey], Value(Bytes{0xA0, 0xB0, 0xC1, 0xC2}));
  EXPECT_EQ((*record)[KSBlockDataIdentifierKey].toInt64(), 5);
  EXPECT_EQ((*record)[KSBlockDataCountKey].toInt64(), 3);
  EXPECT_EQ((*record)[KSBlockDataTypeKey].toInt64(), 2);
  EXPECT_EQ((*record)[KSBlockDataReassembledAtKey].toDate(), kNow);
  EXPECT_EQ(record->size(), 6u);
  EXPECT_FALSE(r.hasPartial());
}

TEST(KSBlockDataReassembler, ACompletedIdentifierIsIgnoredUntilAnotherCompletes) {
  KSBlockDataReassembler r;
  ASSERT_TRUE(r.reassemble(frameValue({5, 0, 1, {1}}), kNow));
  EXPECT_FALSE(r.reassemble(frameValue({5, 0, 1, {2}}), kNow));
  EXPECT_FALSE(r.hasPartial());
  ASSERT_TRUE(r.reassemble(frameValue({6, 0, 0, {3}}), kNow));  // a count of 0 completes at once too
  ASSERT_TRUE(r.reassemble(frameValue({5, 0, 1, {4}}), kNow));
  EXPECT_EQ(r.reassembledBlockData().size(), 3u);
}

TEST(KSBlockDataReassembler, AnotherIdentifierDropsThePartial) {
  KSBlockDataReassembler r;
  r.reassemble(frameValue({5, 0, 2, {1}}), kNow);
  r.reassemble(frameValue({6, 0, 2, {2}}), kNow);
  auto record = r.reassemble(frameValue({6, 1, 2, {3}}), kNow);
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)[KSBlockDataDataKey], Value(Bytes{2, 3}));
  EXPECT_FALSE(r.reassemble(frameValue({5, 1, 2, {9}}), kNow));  // chunk 0 of 5 is gone
}

// Without these guards a lost frame could complete a record with a hole in it, or from the
// chunks of two different blocks that share an identifier.
TEST(KSBlockDataReassembler, NeverJoinsAHoleOrTwoBlocks) {
  {
    KSBlockDataReassembler r;
    r.reassemble(frameValue({5, 0, 2, {1}}), kNow);
    EXPECT_FALSE(r.reassemble(frameValue({5, 2, 2, {3}}), kNow)) << "index past the count";
    EXPECT_EQ((*r.partialBlockData())[KSBlockDataDataForIndexKey].size(), 1u);
  }
  {
    KSBlockDataReassembler r;
    r.reassemble(frameValue({5, 0, 3, {1}}), kNow);
    r.reassemble(frameValue({5, 1, 3, {2}}), kNow);
    // Frame 2 of that block is lost; a new block with identifier 5 but two chunks begins.
    EXPECT_FALSE(r.reassemble(frameValue({5, 1, 2, {8}}), kNow));
    auto record = r.reassemble(frameValue({5, 0, 2, {7}}), kNow);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)[KSBlockDataDataKey], Value(Bytes{7, 8}));
  }
  {
    KSBlockDataReassembler r;
    auto noChunk = frameValue({5, 0, 1, {}});
    noChunk.set(KSBlockDataDataKey, Value());
    EXPECT_FALSE(r.reassemble(noChunk, kNow));
    EXPECT_FALSE(r.hasPartial());
  }
}

TEST(KSBlockDataReassembler, KeepsTwentyRecordsAndFindsByType) {
  KSBlockDataReassembler r;
  for (int i = 0; i < 21; ++i) {
    ASSERT_TRUE(r.reassemble(frameValue({i % 16, 0, 1, {static_cast<std::uint8_t>(i)}, i % 2}), kNow));
  }
  ASSERT_EQ(r.reassembledBlockData().size(), KSBlockDataReassembler::kMaxRecords);
  EXPECT_EQ((*r.reassembledBlockData().front())[KSBlockDataDataKey], Value(Bytes{1}));
  auto odd = r.reassembledBlockDataWithDataType(1);
  ASSERT_EQ(odd.size(), 10u);
  EXPECT_EQ((*odd.front())[KSBlockDataDataKey], Value(Bytes{1}));
  EXPECT_EQ((*r.lastReassembledBlockDataWithDataType(0))[KSBlockDataDataKey], Value(Bytes{20}));
  EXPECT_FALSE(r.lastReassembledBlockDataWithDataType(7));
}

}  // namespace
}  // namespace velmora::kestrine
