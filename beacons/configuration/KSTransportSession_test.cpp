#include "beacons/configuration/KSTransportSession.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/Log.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using Outcome = KSTransportSession::Step::Outcome;
using velmora::testing::hexBytes;
using velmora::testing::hexText;

Bytes countingBytes(std::size_t n, std::uint8_t from = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((from + i) % 256);
  return b;
}

Bytes packet(std::uint8_t ctrl, std::span<const std::uint8_t> payload = {}) {
  return KSTransportPacket(ctrl, payload).rawData();
}

Bytes corrupted(Bytes wire) {
  if (!wire.empty()) wire[wire.size() - 1] ^= 0x01;
  return wire;
}

const Bytes kAck = hexBytes("00 00 00 00 00 00");
const Bytes kNack = hexBytes("00 01 00 00 51 C0");

// Feeds the beacon's answers in order and records what the session says to each.
struct Transcript {
  std::vector<std::string> statuses;
  std::vector<Bytes> replies;
  std::vector<Outcome> outcomes;
  std::string failure;
};

Transcript run(KSTransportSession& session, const std::vector<Bytes>& answers) {
  Transcript t;
  for (const Bytes& answer : answers) {
    const auto step = session.receive(answer);
    if (step.status) t.statuses.push_back(*step.status);
    if (step.reply) t.replies.push_back(*step.reply);
    t.outcomes.push_back(step.outcome);
    if (step.outcome == Outcome::Failed) t.failure = step.failure;
  }
  return t;
}

TEST(KSTransportSessionTest, SendsTheRequestThenJoinsTheReplyPackets) {
  // 600 bytes go out in three packets; the 300-byte reply comes back as 244 + 56.
  const Bytes request = countingBytes(600);
  const Bytes response = countingBytes(300, 7);
  KSTransportSession session(request);
  ASSERT_EQ(session.requestPackets().size(), 3u);
  EXPECT_EQ(session.queuedExchanges(), 3u);

  const Transcript t = run(session, {
                                        kAck,  // packet 1 of 3
                                        kAck,  // packet 2 of 3
                                        kAck,  // the last: the phone asks for the reply
                                        packet(0xFF, std::span(response).first(244)),
                                        packet(0x02, std::span(response).subspan(244)),
                                        kAck,  // the beacon has heard the last ACK
                                    });
  EXPECT_EQ(t.statuses, (std::vector<std::string>{"3 packets remaining", "2 packets remaining", "Received 1 Packet(s)"}));
  EXPECT_EQ(t.replies, (std::vector<Bytes>{kAck, kAck, kAck}));
  EXPECT_EQ(t.outcomes.back(), Outcome::Succeeded);
  EXPECT_EQ(session.responseData(), response);
  EXPECT_EQ(session.numResponsePacketsReceived(), 1);
  EXPECT_TRUE(session.receivingResponse());
  EXPECT_TRUE(session.isFinished());

  // Anything after the end is ignored and changes nothing.
  EXPECT_EQ(session.receive(packet(0x02, Bytes{1})).outcome, Outcome::Ignored);
  EXPECT_EQ(session.responseData(), response);
}

TEST(KSTransportSessionTest, ShortTransfersAndAnEmptyReply) {
  // One request packet, the reply in one last packet.
  KSTransportSession one(Bytes{'a', 'b', 'c'});
  ASSERT_EQ(one.requestPackets(), (std::vector<Bytes>{hexBytes("00 02 03 00 61 62 63 7D 75")}));
  auto t = run(one, {kAck, packet(0x02, Bytes{'o', 'k'}), kAck});
  EXPECT_TRUE(t.statuses.empty());
  EXPECT_EQ(t.outcomes.back(), Outcome::Succeeded);
  EXPECT_EQ(one.responseData(), (Bytes{'o', 'k'}));

  // The beacon may answer with no data at all: ACK, phone ACK, ACK.
  KSTransportSession none(Bytes{});
  ASSERT_EQ(none.requestPackets(), (std::vector<Bytes>{hexBytes("00 02 00 00 A1 C0")}));
  t = run(none, {kAck, kAck});
  EXPECT_EQ(t.outcomes.back(), Outcome::Succeeded);
  EXPECT_TRUE(none.responseData().empty());
}

TEST(KSTransportSessionTest, ABadCrcIsNackedAndTheRetransmissionKept) {
  const Bytes response = countingBytes(400);
  const Bytes first = packet(0xFF, std::span(response).first(244));
  const Bytes last = packet(0x02, std::span(response).subspan(244));
  // A corrupt middle packet, then a corrupt last one: the last packet's CRC is checked too.
  for (bool corruptLast : {false, true}) {
    platform::LogCapture log;
    KSTransportSession session(countingBytes(10));
    std::vector<Bytes> answers = {kAck};
    if (corruptLast) {
      answers.insert(answers.end(), {first, corrupted(last), last, kAck});
    } else {
      answers.insert(answers.end(), {corrupted(first), first, last, kAck});
    }
    const Transcript t = run(session, answers);
    ASSERT_EQ(t.replies.size(), 4u) << corruptLast;
    EXPECT_EQ(t.replies[corruptLast ? 2 : 1], kNack) << corruptLast;
    EXPECT_EQ(t.outcomes.back(), Outcome::Succeeded) << corruptLast;
    EXPECT_EQ(session.responseData(), response) << corruptLast;
    EXPECT_EQ(log.count("CRCs Don't MATCH"), 1u) << corruptLast;
  }
}

TEST(KSTransportSessionTest, FailuresEndTheTransfer) {
  const Bytes data = packet(0xFF, Bytes{1, 2, 3});
  struct Case {
    const char* what;
    std::size_t requestLength;
    std::vector<Bytes> answers;
    std::string_view failure;
  };
  const Case cases[] = {
      {"NACK of a request packet", 500, {kAck, kNack}, "Connection NACK'ED"},
      {"NACK while the reply comes", 10, {kAck, data, kNack}, "Connection NACK'ED"},
      {"error", 10, {packet(0x03)}, "Connection Error"},
      // An error packet with its CRC bytes swapped is still an error.
      {"error, crc off", 10, {hexBytes("00 03 00 00 00 F0")}, "Connection Error"},
      {"unknown ctrl", 10, {packet(0x07)}, "Unrecognized Packet"},
      {"5-byte answer", 10, {hexBytes("00 00 00 00 00")}, "Unrecognized Packet"},
      {"empty answer", 10, {Bytes{}}, "Unrecognized Packet"},
      {"length past the end", 10, {kAck, hexBytes("00 FF 10 00 01 02 03 04")}, "Unrecognized Packet"},
      // Data before the request has been sent: request packets are still queued.
      {"data while request packets remain", 500, {kAck, data}, "Unrecognized Packet"},
      {"last data while request packets remain", 500, {packet(0x02, Bytes{1})}, "Unrecognized Packet"},
  };
  for (const Case& c : cases) {
    KSTransportSession session(countingBytes(c.requestLength));
    const Transcript t = run(session, c.answers);
    EXPECT_EQ(t.outcomes.back(), Outcome::Failed) << c.what;
    EXPECT_EQ(t.failure, c.failure) << c.what;
    EXPECT_TRUE(session.isFinished()) << c.what;
    EXPECT_EQ(session.queuedExchanges(), 0u) << c.what;
    EXPECT_EQ(session.receive(kAck).outcome, Outcome::Ignored) << c.what;
  }
}

TEST(KSTransportSessionTest, CountsEachReplyPacketAndNeverQueuesMoreThanOneReply) {
  // Five data packets; the queue holds the request packets, then at most the one reply.
  const Bytes response = countingBytes(5 * 244);
  KSTransportSession session(countingBytes(300));
  EXPECT_EQ(session.queuedExchanges(), 2u);
  EXPECT_EQ(session.receive(kAck).status, "2 packets remaining");
  EXPECT_EQ(session.queuedExchanges(), 1u);
  EXPECT_EQ(session.receive(kAck).reply, kAck);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(session.queuedExchanges(), 1u);
    const auto step = session.receive(packet(i < 4 ? 0xFF : 0x02, std::span(response).subspan(244 * i, 244)));
    EXPECT_EQ(step.outcome, Outcome::Continue);
    EXPECT_EQ(step.reply, kAck);
    if (i < 4) {
      EXPECT_EQ(step.status, "Received " + std::to_string(i + 1) + " Packet(s)");
    }
  }
  EXPECT_EQ(session.receive(kAck).outcome, Outcome::Succeeded);
  EXPECT_EQ(session.responseData(), response);
}

}  // namespace
}  // namespace velmora::kestrine
