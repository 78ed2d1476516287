#include "platform/bluetooth/bluez/PeripheralIdentifier.h"

#include <gtest/gtest.h>

namespace velmora::platform::bluetooth::bluez {
namespace {

TEST(PeripheralIdentifier, NameBasedUuidMatchesTheVersion5Construction) {
  // The DNS namespace and a name with a published version-5 UUID.
  const auto dns = Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
  ASSERT_TRUE(dns);
  EXPECT_EQ(nameBasedUuid(*dns, "python.org").string(), "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
}

TEST(PeripheralIdentifier, OneDeviceOnOneAdapterHasOneIdentifier) {
  const Uuid id = peripheralIdentifier("00:01:02:03:04:05", "AA:BB:CC:DD:EE:01");
  EXPECT_EQ(peripheralIdentifier("00:01:02:03:04:05", "aa:bb:cc:dd:ee:01"), id) << "the address's case does not count";
  EXPECT_NE(peripheralIdentifier("00:01:02:03:04:06", "AA:BB:CC:DD:EE:01"), id) << "another adapter";
  EXPECT_NE(peripheralIdentifier("00:01:02:03:04:05", "AA:BB:CC:DD:EE:02"), id) << "another device";
  EXPECT_EQ(id.bytes()[6] >> 4, 5);
  EXPECT_EQ(id.bytes()[8] & 0xC0, 0x80);
}

}  // namespace
}  // namespace velmora::platform::bluetooth::bluez
