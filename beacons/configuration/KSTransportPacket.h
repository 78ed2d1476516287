#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/core/Value.h"

namespace velmora::kestrine {

// One packet of the beacon's serial transport. On the wire, little-endian:
//   rfu (1, 0 when sent) | ctrl (1) | dataLength (2) | payload (dataLength) | crc (2)
// where crc is CRC-16/ARC over everything before it. A request longer than one request-data
// exchange is cut into such packets; the beacon answers each with an ACK, a NACK, an error
// or a data packet of its reply.
class KSTransportPacket {
 public:
  enum Ctrl : std::uint8_t {
    kCtrlAck = 0x00,
    kCtrlNack = 0x01,   // the CRC did not match; the other side sends the packet again
    kCtrlLast = 0x02,   // the last (or only) data packet
    kCtrlError = 0x03,  // sent by the beacon only
    kCtrlMore = 0xFF,   // a data packet with more to follow
  };

  static constexpr std::size_t kHeaderLength = 4;
  static constexpr std::size_t kFramingLength = 6;
  // One request-data exchange carries 250 bytes, so a packet holds at most 244 payload bytes.
  static constexpr std::size_t kPDUSize = 250;
  static constexpr std::size_t kMaxPayloadLength = kPDUSize - kFramingLength;

  KSTransportPacket() = default;
  KSTransportPacket(std::uint8_t ctrl, std::span<const std::uint8_t> payload);

  // An ACK or NACK as the phone sends it: rfu 0, empty payload.
  static KSTransportPacket ack() { return KSTransportPacket(kCtrlAck, {}); }
  static KSTransportPacket nack() { return KSTransportPacket(kCtrlNack, {}); }
  static KSTransportPacket error() { return KSTransportPacket(kCtrlError, {}); }

  std::uint8_t rfu() const { return rfu_; }
  void setRfu(std::uint8_t rfu);
  std::uint8_t ctrl() const { return ctrl_; }
  void setCtrl(std::uint8_t ctrl);
  // The number of payload bytes, kept equal to the payload's length.
  std::uint16_t dataLength() const { return static_cast<std::uint16_t>(payload_.size()); }
  const platform::Bytes& payload() const { return payload_; }
  // A payload over 65,535 bytes cannot be framed: it is reported as a programming error and
  // cut to that length.
  void setPayloadData(std::span<const std::uint8_t> payload);

  // The CRC the packet carries: the one read from the wire for a parsed packet, else the
  // computed one (kept up to date by the setters).
  std::uint16_t crc() const { return crc_; }
  // CRC-16/ARC over rfu, ctrl, dataLength (little-endian) and the payload.
  std::uint16_t calculateCRC16() const;
  bool hasValidCRC() const { return crc_ == calculateCRC16(); }

  // The wire bytes, with the computed CRC.
  platform::Bytes rawData() const;

  // A packet from received bytes: rfu, ctrl and length from the header, the payload the
  // dataLength bytes after it, the crc from the buffer's last two bytes (right after the
  // payload when the buffer is exactly one packet). nullopt for a buffer under 6 bytes or
  // one too short for the length it declares. The crc is not checked here: see hasValidCRC().
  static std::optional<KSTransportPacket> parseData(std::span<const std::uint8_t> bytes);

  // The wire bytes of the packets that carry a request: chunks of pduSize - 6 bytes, each
  // with ctrl kCtrlMore but the last, which has kCtrlLast. An empty request is one empty
  // last packet, so the beacon still hears that a request is complete. A pduSize of 6 or less
  // carries nothing: it is reported as a programming error and gives no packets.
  static std::vector<platform::Bytes> transportDataArrayFromData(std::span<const std::uint8_t> data,
                                                                 std::size_t pduSize = kPDUSize);

  friend bool operator==(const KSTransportPacket&, const KSTransportPacket&) = default;

 private:
  std::uint8_t rfu_ = 0;
  std::uint8_t ctrl_ = 0;
  platform::Bytes payload_;
  std::uint16_t crc_ = 0;
};

}  // namespace velmora::kestrine
