#include "beacons/foundation/DataConverter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace velmora::kestrine::data_converter {
namespace {

using V = std::vector<std::uint8_t>;

TEST(DataConverterTest, ReadsTheFirstBytesInEachReadersOrder) {
  EXPECT_EQ(toNumberWithInt16(V{0x01, 0x02}), 258);
  EXPECT_EQ(toNumberWithTwosComplementOfInt16(V{0x01, 0x02}), 513);
  EXPECT_EQ(toNumberWithTwosComplementOfInt16(V{0xff, 0xff}), -1);
  EXPECT_EQ(toNumberWithTwosComplementOfInt16(V{0x00, 0x80}), -32768);
  EXPECT_EQ(toNumberWithInt16(V{0xff, 0xfe, 0x99}), 65534);  // extra bytes are not read
  EXPECT_EQ(toNumberWithTwosComplementOfInt8(V{0xc5}), -59);
  EXPECT_EQ(toNumberWithInt8(V{0xc5}), 197);
  EXPECT_EQ(toNumberWithTwosComplementOfInt8(V{0x7f}), 127);
  EXPECT_EQ(toNumberWithInt32(V{0x01, 0x02, 0x03, 0x04}), 0x01020304u);
  EXPECT_EQ(toNumberWithInt32(V{0xff, 0xff, 0xff, 0xff}), 0xffffffffu);
  EXPECT_EQ(toUUIDString(V{0xe2, 0xc5, 0x6d, 0xb5, 0xdf, 0xfb, 0x48, 0xd2, 0xb0, 0x60, 0xd0, 0xf5, 0xa7, 0x10, 0x96,
                           0xe0, 0x42}),
            "E2C56DB5-DFFB-48D2-B060-D0F5A71096E0");
}

TEST(DataConverterTest, ShortDataGivesNoValueAndIsNeverReadPastItsEnd) {
  // Each input is a heap block of exactly its size, so AddressSanitizer catches a read of
  // one byte more.
  for (std::size_t size = 0; size <= 16; ++size) {
    std::vector<std::uint8_t> block(size);
    std::iota(block.begin(), block.end(), std::uint8_t{0xa0});
    const Bytes data(block.data(), block.size());
    EXPECT_EQ(toNumberWithInt8(data).has_value(), size >= 1) << size;
    EXPECT_EQ(toNumberWithTwosComplementOfInt8(data).has_value(), size >= 1) << size;
    EXPECT_EQ(toNumberWithInt16(data).has_value(), size >= 2) << size;
    EXPECT_EQ(toNumberWithTwosComplementOfInt16(data).has_value(), size >= 2) << size;
    EXPECT_EQ(toNumberWithInt32(data).has_value(), size >= 4) << size;
    EXPECT_EQ(toUUIDString(data).has_value(), size >= 16) << size;
    EXPECT_EQ(toHexStringReversed(data, true).size(), 2 * size);
    EXPECT_EQ(toHexStringReversed(data, false).size(), 2 * size);
    (void)toLegacyModelNumber(data);
    (void)toLegacyFirmwareVersion(data);
  }
}

TEST(DataConverterTest, HexAndLegacyTexts) {
  EXPECT_EQ(toHexStringReversed(V{0x01, 0x02, 0x0a}, true), "0a0201");
  EXPECT_EQ(toHexStringReversed(V{0x01, 0x02, 0x0a}, false), "01020a");
  EXPECT_EQ(toHexStringReversed(V{}, true), "");
  const std::pair<V, std::string_view> models[] = {
      {V{0x01, 0x1a}, "KS11-A"}, {V{0x12, 0x34}, "KS1234"}, {V{}, "KS"}, {V{0x0f}, "KS-F"}, {V{0xab}, "KSA-B"},
  };
  for (const auto& [bytes, text] : models) EXPECT_EQ(toLegacyModelNumber(bytes), text) << text;
  const std::pair<V, std::string_view> firmware[] = {
      {V{0x01, 0x23}, "1.2.3"}, {V{0x21, 0x0a}, "2.1.0.a"}, {V{}, ""}, {V{0x05}, "5"}, {V{0x10}, "1.0"},
  };
  for (const auto& [bytes, text] : firmware) EXPECT_EQ(toLegacyFirmwareVersion(bytes), text) << text;
}

}  // namespace
}  // namespace velmora::kestrine::data_converter
