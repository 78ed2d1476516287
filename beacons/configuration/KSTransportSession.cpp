#include "beacons/configuration/KSTransportSession.h"

#include <fmt/format.h>

#include "platform/core/Log.h"

namespace velmora::kestrine {

namespace {

constexpr std::string_view kLog = "transport";

KSTransportSession::Step makeStep(KSTransportSession::Step::Outcome outcome) {
  KSTransportSession::Step step;
  step.outcome = outcome;
  return step;
}

}  // namespace

KSTransportSession::KSTransportSession(std::span<const std::uint8_t> request, std::size_t pduSize)
    : requestPackets_(KSTransportPacket::transportDataArrayFromData(request, pduSize)),
      queued_(requestPackets_.size()) {
  if (requestPackets_.empty()) finished_ = true;
}

KSTransportSession::Step KSTransportSession::fail(std::string_view why) {
  finished_ = true;
  queued_ = 0;
  Step step = makeStep(Step::Outcome::Failed);
  step.failure = std::string(why);
  return step;
}

KSTransportSession::Step KSTransportSession::reply(const KSTransportPacket& packet) {
  KSTransportPacket answer = KSTransportPacket::ack();
  if (packet.ctrl() == KSTransportPacket::kCtrlMore || packet.ctrl() == KSTransportPacket::kCtrlLast) {
    if (packet.hasValidCRC()) {
      responseData_.insert(responseData_.end(), packet.payload().begin(), packet.payload().end());
    } else {
      platform::Log::debug(kLog, "CRCs Don't MATCH {} {}", packet.crc(), packet.calculateCRC16());
      answer = KSTransportPacket::nack();
    }
  }
  ++queued_;
  Step step;
  step.reply = answer.rawData();
  return step;
}

KSTransportSession::Step KSTransportSession::receive(std::span<const std::uint8_t> answer) {
  if (finished_) return makeStep(Step::Outcome::Ignored);
  // The answered exchange leaves the queue; `queued` still counts it, as the texts do.
  const std::size_t queued = queued_;
  --queued_;

  const auto packet = KSTransportPacket::parseData(answer);
  if (!packet) return fail(KSTransportUnrecognizedPacketError);
  const bool onlyThisExchange = queued == 1;

  switch (packet->ctrl()) {
    case KSTransportPacket::kCtrlMore: {
      if (!onlyThisExchange) return fail(KSTransportUnrecognizedPacketError);
      ++numResponsePacketsReceived_;
      Step step = reply(*packet);
      step.status = fmt::format("Received {} Packet(s)", numResponsePacketsReceived_);
      return step;
    }
    case KSTransportPacket::kCtrlLast:
      if (!onlyThisExchange) return fail(KSTransportUnrecognizedPacketError);
      return reply(*packet);
    case KSTransportPacket::kCtrlAck: {
      if (receivingResponse_) {
        finished_ = true;
        return makeStep(Step::Outcome::Succeeded);
      }
      if (onlyThisExchange) {
        receivingResponse_ = true;
        numResponsePacketsReceived_ = 0;
        return reply(*packet);
      }
      Step step;
      step.status = fmt::format("{} packets remaining", queued);
      return step;
    }
    case KSTransportPacket::kCtrlNack:
      return fail(KSTransportNackedError);
    case KSTransportPacket::kCtrlError:
      return fail(KSTransportConnectionError);
    default:
      return fail(KSTransportUnrecognizedPacketError);
  }
}

}  // namespace velmora::kestrine
