#include "platform/bluetooth/BluetoothUUID.h"

#include <gtest/gtest.h>

#include "platform/bluetooth/AdvertisementData.h"

namespace velmora::platform::bluetooth {
namespace {

TEST(BluetoothUUIDTest, ParsesAndShortensBaseUuids) {
  struct Case {
    const char* text;
    std::size_t size;  // 0: refused
    const char* string;
  };
  const Case cases[] = {
      {"FEAA", 2, "FEAA"},
      {"fec4", 2, "FEC4"},
      {"0000FEC4-0000-1000-8000-00805F9B34FB", 2, "FEC4"},
      {"0000fec4-0000-1000-8000-00805f9b34fb", 2, "FEC4"},
      {"1234FEC4-0000-1000-8000-00805F9B34FB", 4, "1234FEC4"},
      {"0000FEC4", 2, "FEC4"},
      {"ABCD1234", 4, "ABCD1234"},
      {"F41EF1EE-FDE5-23BE-5F4B-589C71BABFDD", 16, "F41EF1EE-FDE5-23BE-5F4B-589C71BABFDD"},
      {"0000FEC4-0000-1000-8000-00805F9B34FC", 16, "0000FEC4-0000-1000-8000-00805F9B34FC"},
      {"FEC", 0, ""},
      {"FEC4A", 0, ""},
      {"GGGG", 0, ""},
      {"", 0, ""},
      {"0000FEC4-0000-1000-8000-00805F9B34F", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto uuid = BluetoothUUID::parse(c.text);
    if (c.size == 0) {
      EXPECT_FALSE(uuid);
      continue;
    }
    ASSERT_TRUE(uuid);
    EXPECT_EQ(uuid->data().size(), c.size);
    EXPECT_EQ(uuid->string(), c.string);
    EXPECT_EQ(BluetoothUUID::fromUuid(uuid->uuid()), *uuid);
  }
}

TEST(BluetoothUUIDTest, LongAndShortFormsCompareEqual) {
  EXPECT_EQ(*BluetoothUUID::parse("FEAA"), *BluetoothUUID::parse("0000FEAA-0000-1000-8000-00805F9B34FB"));
  EXPECT_EQ(BluetoothUUID::from16(0xFEC4), *BluetoothUUID::parse("FEC4"));
  EXPECT_NE(*BluetoothUUID::parse("FEAA"), *BluetoothUUID::parse("FEC4"));
  EXPECT_EQ(BluetoothUUID::parse("FEC4")->uuid().string(), "0000FEC4-0000-1000-8000-00805F9B34FB");
  const std::uint8_t three[] = {1, 2, 3};
  EXPECT_FALSE(BluetoothUUID::fromBytes(three, 3));
}

TEST(AdvertisementDataTest, FilterPassesServiceUuidsAndServiceDataKeys) {
  const auto fec4 = *BluetoothUUID::parse("FEC4");
  const auto feaa = *BluetoothUUID::parse("FEAA");
  AdvertisementData listed{.serviceUUIDs = {feaa, fec4}};
  AdvertisementData withData{.serviceData = {{fec4, Bytes{1, 2}}}};
  AdvertisementData other{.manufacturerData = Bytes{0x4C, 0x00}, .serviceData = {{feaa, Bytes{}}}};
  EXPECT_TRUE(listed.passes({fec4}));
  EXPECT_TRUE(withData.passes({fec4}));
  EXPECT_FALSE(other.passes({fec4}));
  EXPECT_TRUE(other.passes({}));
  EXPECT_TRUE(other.passes({fec4, feaa}));
}

}  // namespace
}  // namespace velmora::platform::bluetooth
