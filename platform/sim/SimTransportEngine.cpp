#include "platform/sim/SimTransportEngine.h"

#include <algorithm>

#include "platform/crypto/Crc16.h"

namespace velmora::platform::sim {

namespace {

std::uint16_t crcOf(std::span<const std::uint8_t> bytes) { return crypto::crc16Arc(bytes); }

}  // namespace

std::shared_ptr<SimTransportEngine> SimTransportEngine::create() {
  auto engine = std::make_shared<SimTransportEngine>();
  engine->replyHandler_ = [](const Bytes& request) { return request; };
  return engine;
}

void SimTransportEngine::attach(SimBeaconApplication& application) { application.setRequestHandler(handler()); }

SimBeaconApplication::RequestHandler SimTransportEngine::handler() {
  std::weak_ptr<SimTransportEngine> weak = weak_from_this();
  return [weak](const Bytes& packet) {
    auto self = weak.lock();
    return self ? self->receive(packet) : SimBeaconApplication::Answer::silence();
  };
}

void SimTransportEngine::setReplyHandler(ReplyHandler handler) {
  std::lock_guard lock(mutex_);
  replyHandler_ = std::move(handler);
}

void SimTransportEngine::setFault(Fault fault) {
  std::lock_guard lock(mutex_);
  fault_ = fault;
}

std::vector<Bytes> SimTransportEngine::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<Bytes> SimTransportEngine::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<Bytes> SimTransportEngine::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

Bytes SimTransportEngine::frame(std::uint8_t ctrl, const Bytes& payload) {
  Bytes out{0x00, ctrl, static_cast<std::uint8_t>(payload.size() & 0xFF), static_cast<std::uint8_t>(payload.size() >> 8)};
  out.insert(out.end(), payload.begin(), payload.end());
  const std::uint16_t crc = crcOf(out);
  out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  return out;
}

SimBeaconApplication::Answer SimTransportEngine::sendLocked(Bytes packet) {
  sent_.push_back(packet);
  return SimBeaconApplication::Answer::send(std::move(packet));
}

Bytes SimTransportEngine::replyPacketLocked(std::size_t index) {
  const bool last = index + 1 == reply_->size();
  Bytes packet = frame(last ? kLast : kMore, (*reply_)[index]);
  const bool corrupt = fault_ == Fault::CorruptCrcOnce || (fault_ == Fault::CorruptLastCrcOnce && last);
  if (corrupt) {
    packet.back() ^= 0xFF;
    fault_ = Fault::None;
  }
  return packet;
}

SimBeaconApplication::Answer SimTransportEngine::receive(const Bytes& packet) {
  std::lock_guard lock(mutex_);
  received_.push_back(packet);
  if (packet.size() < 6) return sendLocked(frame(kNack, {}));
  const std::uint8_t ctrl = packet[1];
  const std::size_t length = packet[2] | (static_cast<std::size_t>(packet[3]) << 8);
  if (packet.size() < 6 + length) return sendLocked(frame(kNack, {}));
  const std::span<const std::uint8_t> body(packet.data(), 4 + length);
  const std::uint16_t crc = packet[4 + length] | (static_cast<std::uint16_t>(packet[5 + length]) << 8);

  if (ctrl == kMore || ctrl == kLast) {
    // A request packet.
    switch (fault_) {
      case Fault::Nack: fault_ = Fault::None; return sendLocked(frame(kNack, {}));
      case Fault::Error: fault_ = Fault::None; return sendLocked(frame(kError, {}));
      case Fault::UnknownCtrl: fault_ = Fault::None; return sendLocked(frame(0x07, {}));
      case Fault::ShortPacket: fault_ = Fault::None; return sendLocked(Bytes{0x00, 0x00, 0x00, 0x00, 0x00});
      case Fault::Silence: fault_ = Fault::None; return SimBeaconApplication::Answer::silence();
      case Fault::DataWhileRequesting:
        if (ctrl == kMore) {
          fault_ = Fault::None;
          return sendLocked(frame(kLast, {0x01}));
        }
        break;
      default: break;
    }
    if (crc != crcOf(body)) return sendLocked(frame(kNack, {}));
    request_.insert(request_.end(), packet.begin() + 4, packet.begin() + 4 + static_cast<std::ptrdiff_t>(length));
    if (ctrl == kLast) {
      requests_.push_back(request_);
      const Bytes reply = replyHandler_ ? replyHandler_(request_) : Bytes{};
      request_.clear();
      std::vector<Bytes> chunks;
      for (std::size_t at = 0; at < reply.size(); at += kMaxPayload) {
        const std::size_t n = std::min(kMaxPayload, reply.size() - at);
        chunks.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(at),
                            reply.begin() + static_cast<std::ptrdiff_t>(at + n));
      }
      if (chunks.empty()) chunks.emplace_back();
      reply_ = std::move(chunks);
      next_ = 0;
      awaitingReplyRequest_ = true;
    }
    return sendLocked(frame(kAck, {}));
  }

  if (!reply_) return SimBeaconApplication::Answer::silence();  // nothing to answer
  if (ctrl == kAck) {
    if (awaitingReplyRequest_) {
      awaitingReplyRequest_ = false;
      next_ = 0;
      return sendLocked(replyPacketLocked(0));
    }
    // The phone has the packet last sent.
    ++next_;
    if (next_ >= reply_->size()) {
      reply_.reset();
      return sendLocked(frame(kAck, {}));
    }
    return sendLocked(replyPacketLocked(next_));
  }
  if (ctrl == kNack) return sendLocked(replyPacketLocked(next_));
  return SimBeaconApplication::Answer::silence();
}

}  // namespace velmora::platform::sim
