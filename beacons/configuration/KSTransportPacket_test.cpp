#include "beacons/configuration/KSTransportPacket.h"

#include <gtest/gtest.h>

#include "platform/core/Log.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using velmora::testing::hexBytes;
using velmora::testing::hexText;

Bytes countingBytes(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i % 256);
  return b;
}

TEST(KSTransportPacketTest, BuildsTheControlPacketsAndASmallDataPacket) {
  const std::pair<KSTransportPacket, const char*> cases[] = {
      {KSTransportPacket::ack(), "00 00 00 00 00 00"},
      {KSTransportPacket::nack(), "00 01 00 00 51 C0"},
      // The CRC of 00 03 00 00 is 0x00F0, sent low byte first.
      {KSTransportPacket::error(), "00 03 00 00 F0 00"},
      {KSTransportPacket(KSTransportPacket::kCtrlLast, Bytes{'a', 'b', 'c'}), "00 02 03 00 61 62 63 7D 75"},
  };
  for (const auto& [packet, wire] : cases) {
    EXPECT_EQ(hexText(packet.rawData()), wire);
    EXPECT_EQ(packet.crc(), packet.calculateCRC16());
    EXPECT_EQ(packet.dataLength(), packet.payload().size());
  }
  // Setters keep the length and the CRC in step.
  KSTransportPacket packet = KSTransportPacket::ack();
  packet.setCtrl(KSTransportPacket::kCtrlLast);
  packet.setPayloadData(Bytes{'a', 'b', 'c'});
  EXPECT_EQ(hexText(packet.rawData()), "00 02 03 00 61 62 63 7D 75");
  EXPECT_EQ(packet.crc(), 0x757D);
  packet.setRfu(1);
  EXPECT_EQ(packet.rawData()[0], 1);
  EXPECT_TRUE(packet.hasValidCRC());
}

TEST(KSTransportPacketTest, CutsARequestInto244BytePackets) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> payloads;  // payload length of each packet
    std::vector<const char*> crcs;      // the last two wire bytes of each packet, when fixed here
  };
  const Case cases[] = {
      {0, {0}, {}},
      {1, {1}, {}},
      {244, {244}, {"9F FA"}},
      {245, {244, 1}, {"21 7C", "51 FF"}},
      {488, {244, 244}, {"21 7C", "47 B8"}},
      {489, {244, 244, 1}, {}},
      {1000, {244, 244, 244, 244, 24}, {}},
  };
  for (const Case& c : cases) {
    const Bytes request = countingBytes(c.length);
    const auto packets = KSTransportPacket::transportDataArrayFromData(request);
    ASSERT_EQ(packets.size(), c.payloads.size()) << c.length;
    Bytes joined;
    for (std::size_t i = 0; i < packets.size(); ++i) {
      const Bytes& wire = packets[i];
      ASSERT_EQ(wire.size(), c.payloads[i] + 6) << c.length << " packet " << i;
      EXPECT_EQ(wire[0], 0);
      EXPECT_EQ(wire[1], i + 1 == packets.size() ? 0x02 : 0xFF) << c.length << " packet " << i;
      EXPECT_EQ(wire[2] | (wire[3] << 8), c.payloads[i]);
      const auto parsed = KSTransportPacket::parseData(wire);
      ASSERT_TRUE(parsed);
      EXPECT_TRUE(parsed->hasValidCRC());
      joined.insert(joined.end(), parsed->payload().begin(), parsed->payload().end());
      if (i < c.crcs.size()) {
        EXPECT_EQ(hexText(std::span(wire).last(2)), c.crcs[i]) << c.length << " packet " << i;
      }
    }
    EXPECT_EQ(joined, request) << c.length;
  }

  const auto two = KSTransportPacket::transportDataArrayFromData(countingBytes(245));
  EXPECT_EQ(hexText(std::span(two[0]).first(4)), "00 FF F4 00");
  EXPECT_EQ(hexText(two[1]), "00 02 01 00 F4 51 FF");
}

TEST(KSTransportPacketTest, CutsToOtherPduSizesAndRefusesOnesThatCarryNothing) {
  const auto packets = KSTransportPacket::transportDataArrayFromData(countingBytes(30), 20);
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].size(), 20u);
  EXPECT_EQ(packets[2].size(), 8u);

  platform::LogCapture capture;
  const std::size_t before = platform::programmingErrorCount();
  EXPECT_TRUE(KSTransportPacket::transportDataArrayFromData(countingBytes(30), 6).empty());
  EXPECT_TRUE(KSTransportPacket::transportDataArrayFromData(countingBytes(30), 0).empty());
  EXPECT_EQ(platform::programmingErrorCount(), before + 2);
}

TEST(KSTransportPacketTest, ParsesWhatItBuildsAndReadsTheCrcAsReceived) {
  for (const Bytes& wire : {KSTransportPacket::ack().rawData(), KSTransportPacket::nack().rawData(),
                            KSTransportPacket(KSTransportPacket::kCtrlMore, countingBytes(244)).rawData()}) {
    const auto packet = KSTransportPacket::parseData(wire);
    ASSERT_TRUE(packet) << hexText(wire);
    EXPECT_EQ(packet->rawData(), wire);
    EXPECT_TRUE(packet->hasValidCRC());
  }

  // The crc covers exactly the first 4 + dataLength bytes: changing any of them, or the crc
  // itself, is caught.
  const Bytes wire = hexBytes("00 02 03 00 61 62 63 7D 75");
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (i == 2 || i == 3) continue;  // the length bytes change what is read, covered below
    Bytes changed = wire;
    changed[i] ^= 0x10;
    const auto packet = KSTransportPacket::parseData(changed);
    ASSERT_TRUE(packet) << i;
    EXPECT_FALSE(packet->hasValidCRC()) << "byte " << i;
  }

  // rfu is read, not required to be 0; the received crc is kept as it came.
  const auto odd = KSTransportPacket::parseData(hexBytes("07 00 00 00 12 34"));
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->rfu(), 7);
  EXPECT_EQ(odd->crc(), 0x3412);
  EXPECT_FALSE(odd->hasValidCRC());

  // Bytes after the declared payload: the crc is read from the buffer's end, so a packet with
  // a tail fails its check rather than being taken on a crc that was never meant for it.
  const auto tailed = KSTransportPacket::parseData(hexBytes("00 02 03 00 61 62 63 7D 75 AA BB"));
  ASSERT_TRUE(tailed);
  EXPECT_EQ(tailed->payload(), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(tailed->crc(), 0xBBAA);
  EXPECT_FALSE(tailed->hasValidCRC());
}

TEST(KSTransportPacketTest, BytesThatAreNoPacketParseToNothing) {
  const char* cases[] = {
      "",
      "00",
      "00 00 00 00 00",              // one byte short of the smallest packet
      "00 FF 01 00 AA BB",           // the payload byte leaves no room for a crc
      "00 FF 05 00 01 02 03 04 05",  // five payload bytes declared, three of them there
      "00 FF FF FF 00 00",           // a length of 65,535 in a 6-byte buffer
  };
  for (const char* text : cases) EXPECT_EQ(KSTransportPacket::parseData(hexBytes(text)), std::nullopt) << text;
}

}  // namespace
}  // namespace velmora::kestrine
