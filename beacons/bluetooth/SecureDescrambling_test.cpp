#include "beacons/bluetooth/SecureDescrambling.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace velmora::kestrine {
namespace {

TEST(SecureDescrambling, RegisterStep) {
  const std::pair<std::uint16_t, std::uint16_t> steps[] = {
      {0x0000, 0x0000}, {0x0001, 0x8000}, {0x8000, 0x4000}, {0xFFFF, 0x7FFF}, {0x0002, 0x0001}, {0x0004, 0x8002},
  };
  for (const auto& [from, to] : steps) EXPECT_EQ(turn_water_into_milk(from), to) << std::hex << from;
}

TEST(SecureDescrambling, RegisterVisitsEveryNonZeroStateOnce) {
  std::vector<bool> seen(65536, false);
  std::uint16_t x = 1;
  int period = 0;
  do {
    ASSERT_FALSE(seen[x]) << "state repeated early: " << x;
    seen[x] = true;
    x = turn_water_into_milk(x);
    ++period;
  } while (x != 1);
  EXPECT_EQ(period, 65535);
  EXPECT_FALSE(seen[0]);
}

TEST(SecureDescrambling, SecureDataCancellingSeedAndZeroBytesGiveZeroes) {
  // m = 3, c = 10 (Secure2): seed bytes 11-12 equal bytes 3-4, so the seed is zero, and zero
  // stays zero through every step.
  std::vector<std::uint8_t> d(22, 0);
  d[3] = 0x12;
  d[4] = 0x34;
  d[11] = 0x12;
  d[12] = 0x34;
  d[10] = 0xFF;  // bytes c and c+3 are not read
  d[13] = 0xFF;
  auto out = adData::decypherSecureDataFromMfrData(d, 3, 10);
  ASSERT_TRUE(out);
  EXPECT_EQ(std::string_view(out->bluetoothAddress.data(), 12), "000000000000");
  EXPECT_EQ(out->sequenceNumber, 0);

  d.resize(21);
  EXPECT_FALSE(adData::decypherSecureDataFromMfrData(d, 3, 10));
  EXPECT_FALSE(adData::decypherSecureDataFromMfrData({}, 3, 10));
}

TEST(SecureDescrambling, BlockDataBoundsWhateverTheLocations) {
  std::vector<std::uint8_t> d(26, 0);
  // Too short for m + 26, or a seed word beyond the data: nothing, and nothing read.
  EXPECT_FALSE(adData::decypherSecureDataAdFromMfrData(d, 1, 3, 8, 5));
  EXPECT_FALSE(adData::decypherSecureDataAdFromMfrData(d, 0, 25, 8, 5));
  // A payload location past byte 25 unscrambles nothing: an empty payload and no address.
  auto none = adData::decypherSecureDataAdFromMfrData(d, 0, 3, 26, 5);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->payloadLength, 0u);
  EXPECT_FALSE(none->bluetoothAddress);
  // The payload is never longer than what was unscrambled (two words from 22).
  auto shortRun = adData::decypherSecureDataAdFromMfrData(d, 0, 3, 22, 15);
  ASSERT_TRUE(shortRun);
  EXPECT_EQ(shortRun->payloadLength, 4u);
}

}  // namespace
}  // namespace velmora::kestrine
