#include "platform/core/BytesDescription.h"

#include <gtest/gtest.h>

namespace velmora::platform {
namespace {

TEST(BytesDescriptionTest, GroupsFourBytesInLowerCaseHex) {
  const struct {
    std::optional<Bytes> bytes;
    std::string_view text;
  } cases[] = {
      {std::nullopt, "(null)"},
      {Bytes{}, "<>"},
      {Bytes{0xAB}, "<ab>"},
      {Bytes{0x00, 0x01, 0x02, 0x03}, "<00010203>"},
      {Bytes{0x00, 0x01, 0x02, 0x03, 0x04}, "<00010203 04>"},
      {Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33, 0xFF}, "<deadbeef 00112233 ff>"},
  };
  for (const auto& c : cases) EXPECT_EQ(describeBytes(c.bytes), c.text);
}

}  // namespace
}  // namespace velmora::platform
