#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/configuration/KSTransportPacket.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// Texts of a transport transfer, for the status block and the failure.
inline constexpr std::string_view KSTransportRequestingDataStatus = "Requesting Data";
inline constexpr std::string_view KSTransportNackedError = "Connection NACK'ED";
inline constexpr std::string_view KSTransportConnectionError = "Connection Error";
inline constexpr std::string_view KSTransportUnrecognizedPacketError = "Unrecognized Packet";

// The phone's side of one transport transfer, as bytes only: which packets to send, and what
// to do with each answer of the beacon. It holds no link and no timer; whoever drives it
// sends requestPackets() one exchange each, in order, passes every answer to receive() in the
// order the exchanges were queued, sends the step's reply (if any) as a new exchange, and
// ends the transfer when a step succeeds or fails.
//
// The transfer: the beacon ACKs each request packet; when it has ACKed the last one, the
// phone ACKs back to ask for the reply, and the beacon answers each phone ACK with its next
// data packet (kCtrlMore, then kCtrlLast). Every data packet's CRC is checked, the last one
// included: a mismatch is NACKed and its payload not kept, so the beacon sends it again.
// Once the phone has ACKed the last data packet, the beacon's ACK completes the transfer and
// responseData() holds the payloads joined in order.
class KSTransportSession {
 public:
  struct Step {
    enum class Outcome {
      Continue,   // wait for the next answer
      Succeeded,  // responseData() is the reply
      Failed,     // the transfer is over: failure says why
      Ignored,    // the transfer had already ended; nothing to do
    };
    Outcome outcome = Outcome::Continue;
    std::optional<std::string> status;  // a text for the status block
    std::optional<platform::Bytes> reply;  // a packet to send in a new exchange
    std::string failure;
  };

  explicit KSTransportSession(std::span<const std::uint8_t> request,
                              std::size_t pduSize = KSTransportPacket::kPDUSize);

  const std::vector<platform::Bytes>& requestPackets() const { return requestPackets_; }

  // Handles the beacon's answer to the oldest exchange still queued:
  //   ACK to a request packet before the last: status "%lu packets remaining", the number of
  //     exchanges queued, the answered one included;
  //   ACK to the last request packet: reply ACK, and the reply begins;
  //   data packet: counted ("Received %li Packet(s)" for each kCtrlMore), then ACK (payload
  //     kept) or NACK (bad CRC, payload dropped);
  //   ACK while the reply is coming: success;
  //   NACK: "Connection NACK'ED"; error: "Connection Error";
  //   an unknown ctrl, bytes that are no packet, or a data packet while request packets are
  //     still queued: "Unrecognized Packet".
  // A control packet (ACK, NACK, error) acts by its ctrl even when its CRC is off.
  Step receive(std::span<const std::uint8_t> answer);

  // Exchanges queued and not yet answered: the request packets still to be answered, or the
  // one reply in flight.
  std::size_t queuedExchanges() const { return queued_; }
  bool receivingResponse() const { return receivingResponse_; }
  std::int64_t numResponsePacketsReceived() const { return numResponsePacketsReceived_; }
  // Response payloads kept so far; after success, the whole reply.
  const platform::Bytes& responseData() const { return responseData_; }
  bool isFinished() const { return finished_; }

 private:
  Step fail(std::string_view why);
  Step reply(const KSTransportPacket& packet);

  std::vector<platform::Bytes> requestPackets_;
  std::size_t queued_ = 0;
  bool receivingResponse_ = false;
  std::int64_t numResponsePacketsReceived_ = 0;
  platform::Bytes responseData_;
  bool finished_ = false;
};

}  // namespace velmora::kestrine
