#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/core/Value.h"
#include "platform/sim/SimBeaconApplication.h"

namespace velmora::platform::sim {

// The beacon's side of the serial transport, as a request handler of a SimBeaconApplication:
// each request-data request is one packet (rfu, ctrl, length LE, payload, CRC-16/ARC LE).
//
// The beacon ACKs every request packet with a good CRC and NACKs one with a bad CRC (the
// phone sends it again). Once it has ACKed the last request packet (ctrl 02), it computes the
// reply with its reply handler (echo by default), cuts it into 244-byte packets (FF, the last
// 02) and answers each ACK of the phone with the next of them, sending a packet again on a
// NACK; the phone's ACK of the last one is answered with an ACK, which ends the transfer.
//
// Faults, each used once, take the place of the answer they name.
class SimTransportEngine : public std::enable_shared_from_this<SimTransportEngine> {
 public:
  enum class Fault {
    None,
    CorruptCrcOnce,        // the next reply packet goes out with a wrong CRC, once
    CorruptLastCrcOnce,    // the last reply packet goes out with a wrong CRC, once
    Nack,                  // the next request packet is answered with a NACK
    Error,                 // ... with an error packet (ctrl 03)
    UnknownCtrl,           // ... with a packet of ctrl 07
    ShortPacket,           // ... with 5 bytes
    DataWhileRequesting,   // the next request packet with more to follow is answered with a data packet
    Silence,               // the next request packet gets no answer
  };
  using ReplyHandler = std::function<Bytes(const Bytes& request)>;

  static constexpr std::uint8_t kAck = 0x00;
  static constexpr std::uint8_t kNack = 0x01;
  static constexpr std::uint8_t kLast = 0x02;
  static constexpr std::uint8_t kError = 0x03;
  static constexpr std::uint8_t kMore = 0xFF;
  static constexpr std::size_t kMaxPayload = 244;

  static std::shared_ptr<SimTransportEngine> create();
  // Makes the engine the application's request handler.
  void attach(SimBeaconApplication& application);
  SimBeaconApplication::RequestHandler handler();

  void setReplyHandler(ReplyHandler handler);
  void setFault(Fault fault);

  // The whole requests received, in order.
  std::vector<Bytes> requests() const;
  // Every packet the engine sent, in order.
  std::vector<Bytes> sent() const;
  // Every packet the engine received, in order.
  std::vector<Bytes> received() const;

  // The wire bytes of a packet.
  static Bytes frame(std::uint8_t ctrl, const Bytes& payload);

 private:
  SimBeaconApplication::Answer receive(const Bytes& packet);
  SimBeaconApplication::Answer sendLocked(Bytes packet);
  Bytes replyPacketLocked(std::size_t index);

  mutable std::mutex mutex_;
  ReplyHandler replyHandler_;
  Fault fault_ = Fault::None;
  Bytes request_;
  std::vector<Bytes> requests_;
  std::vector<Bytes> sent_;
  std::vector<Bytes> received_;
  // The reply being sent: its payload chunks and the index of the one last sent.
  std::optional<std::vector<Bytes>> reply_;
  std::size_t next_ = 0;
  bool awaitingReplyRequest_ = false;
};

}  // namespace velmora::platform::sim
