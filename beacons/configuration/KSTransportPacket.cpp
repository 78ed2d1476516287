#include "beacons/configuration/KSTransportPacket.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "platform/core/Log.h"
#include "platform/crypto/Crc16.h"

namespace velmora::kestrine {

namespace {

constexpr std::size_t kMaxDataLength = std::numeric_limits<std::uint16_t>::max();

std::array<std::uint8_t, KSTransportPacket::kHeaderLength> header(std::uint8_t rfu, std::uint8_t ctrl,
                                                                  std::uint16_t length) {
  return {rfu, ctrl, static_cast<std::uint8_t>(length & 0xFF), static_cast<std::uint8_t>(length >> 8)};
}

// The wire bytes of one packet, its CRC computed in passing.
platform::Bytes frame(std::uint8_t rfu, std::uint8_t ctrl, std::span<const std::uint8_t> payload) {
  const auto head = header(rfu, ctrl, static_cast<std::uint16_t>(payload.size()));
  const std::uint16_t crc = platform::crypto::crc16Arc(payload, platform::crypto::crc16Arc(head));
  // Sized once and filled in place: GCC 12 misreads a chain of inserts as an overflow.
  platform::Bytes out(KSTransportPacket::kFramingLength + payload.size());
  std::copy(head.begin(), head.end(), out.begin());
  if (!payload.empty()) std::memcpy(out.data() + KSTransportPacket::kHeaderLength, payload.data(), payload.size());
  out[out.size() - 2] = static_cast<std::uint8_t>(crc & 0xFF);
  out[out.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
  return out;
}

}  // namespace

KSTransportPacket::KSTransportPacket(std::uint8_t ctrl, std::span<const std::uint8_t> payload) : ctrl_(ctrl) {
  setPayloadData(payload);
}

void KSTransportPacket::setRfu(std::uint8_t rfu) {
  rfu_ = rfu;
  crc_ = calculateCRC16();
}

void KSTransportPacket::setCtrl(std::uint8_t ctrl) {
  ctrl_ = ctrl;
  crc_ = calculateCRC16();
}

void KSTransportPacket::setPayloadData(std::span<const std::uint8_t> payload) {
  if (!platform::precondition(payload.size() <= kMaxDataLength, "payload.length <= 65535")) {
    payload = payload.first(kMaxDataLength);
  }
  payload_.assign(payload.begin(), payload.end());
  crc_ = calculateCRC16();
}

std::uint16_t KSTransportPacket::calculateCRC16() const {
  const auto head = header(rfu_, ctrl_, dataLength());
  return platform::crypto::crc16Arc(payload_, platform::crypto::crc16Arc(head));
}

platform::Bytes KSTransportPacket::rawData() const { return frame(rfu_, ctrl_, payload_); }

std::optional<KSTransportPacket> KSTransportPacket::parseData(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFramingLength) return std::nullopt;
  const std::size_t length = bytes[2] | (static_cast<std::size_t>(bytes[3]) << 8);
  if (bytes.size() - kFramingLength < length) return std::nullopt;
  KSTransportPacket packet;
  packet.rfu_ = bytes[0];
  packet.ctrl_ = bytes[1];
  const auto payload = bytes.subspan(kHeaderLength, length);
  packet.payload_.assign(payload.begin(), payload.end());
  packet.crc_ = static_cast<std::uint16_t>(bytes[bytes.size() - 2] | (bytes[bytes.size() - 1] << 8));
  return packet;
}

std::vector<platform::Bytes> KSTransportPacket::transportDataArrayFromData(std::span<const std::uint8_t> data,
                                                                          std::size_t pduSize) {
  if (!platform::precondition(pduSize > kFramingLength, "pduSize > 6")) return {};
  const std::size_t chunkSize = std::min(pduSize - kFramingLength, kMaxDataLength);
  std::vector<platform::Bytes> packets;
  packets.reserve(data.size() / chunkSize + 1);
  std::size_t offset = 0;
  do {
    const std::size_t remaining = data.size() - offset;
    const std::size_t chunk = std::min(remaining, chunkSize);
    packets.push_back(frame(0, remaining > chunkSize ? kCtrlMore : kCtrlLast, data.subspan(offset, chunk)));
    offset += chunk;
  } while (offset < data.size());
  return packets;
}

}  // namespace velmora::kestrine
