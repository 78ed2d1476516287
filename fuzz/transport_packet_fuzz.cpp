// Feeds arbitrary bytes to the transport packet parser, and drives the phone's side of a
// transfer with answers cut from the input. The parser must accept exactly the buffers that
// hold their declared payload, and a buffer that is exactly one packet must come back from
// rawData() unchanged when its crc checks out. The transfer must keep its queue at one
// reply, answer only with ACK or NACK, keep no more bytes than it was given, and ignore
// everything once it has ended.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "beacons/configuration/KSTransportPacket.h"
#include "beacons/configuration/KSTransportSession.h"

using namespace velmora::kestrine;

namespace {

void checkParse(std::span<const std::uint8_t> bytes) {
  const auto packet = KSTransportPacket::parseData(bytes);
  const bool fits = bytes.size() >= 6 && static_cast<std::size_t>(bytes[2] | (bytes[3] << 8)) <= bytes.size() - 6;
  if (packet.has_value() != fits) std::abort();
  if (!packet) return;
  if (packet->dataLength() != packet->payload().size()) std::abort();
  if (bytes.size() == 6 + packet->dataLength()) {
    const bool same = packet->rawData() == velmora::platform::Bytes(bytes.begin(), bytes.end());
    if (same != packet->hasValidCRC()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);
  checkParse(input);
  if (size < 2) return 0;

  // Byte 0 and 1: the request length (up to 65,535 bytes of counting bytes). Then answers,
  // each a length byte followed by that many bytes; a valid packet is made from the bytes
  // when the length byte's top bit is set, so the transfer gets past its first answers.
  const std::size_t requestLength = data[0] | (data[1] << 8);
  velmora::platform::Bytes request(requestLength);
  for (std::size_t i = 0; i < requestLength; ++i) request[i] = static_cast<std::uint8_t>(i);
  KSTransportSession session(request);
  const std::size_t packets = session.requestPackets().size();
  if (packets != (requestLength + 243) / 244 + (requestLength == 0 ? 1 : 0)) std::abort();

  std::size_t given = 0;
  std::size_t at = 2;
  while (at < size) {
    const std::uint8_t head = data[at++];
    const std::size_t length = std::min<std::size_t>(head & 0x7F, size - at);
    auto piece = input.subspan(at, length);
    at += length;
    velmora::platform::Bytes answer(piece.begin(), piece.end());
    if ((head & 0x80) && !piece.empty()) {
      answer = KSTransportPacket(piece[0] % 4 == 3 ? 0xFF : piece[0] % 4, piece.subspan(1)).rawData();
    }
    checkParse(answer);
    given += answer.size();

    const bool wasFinished = session.isFinished();
    const auto step = session.receive(answer);
    if (wasFinished != (step.outcome == KSTransportSession::Step::Outcome::Ignored)) std::abort();
    if (step.reply) {
      const auto reply = KSTransportPacket::parseData(*step.reply);
      if (!reply || step.reply->size() != 6 || reply->ctrl() > 1 || !reply->hasValidCRC()) std::abort();
      if (session.queuedExchanges() != 1) std::abort();
    }
    if (session.queuedExchanges() > packets) std::abort();
    if (session.responseData().size() > given) std::abort();
    if (session.isFinished() && session.queuedExchanges() != 0) std::abort();
  }
  return 0;
}
