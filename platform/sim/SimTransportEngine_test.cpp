#include "platform/sim/SimTransportEngine.h"

#include <gtest/gtest.h>

namespace velmora::platform::sim {
namespace {

using Engine = SimTransportEngine;

Bytes pattern(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
  return out;
}

// The engine's answer to one packet from the phone (nullopt: silence).
std::optional<Bytes> answer(Engine& engine, const Bytes& packet) { return engine.handler()(packet).reply; }

const Bytes kAck{0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kNack{0x00, 0x01, 0x00, 0x00, 0x51, 0xC0};

TEST(SimTransportEngineTest, FramesWithTheCrcOfEverythingBeforeIt) {
  EXPECT_EQ(Engine::frame(0x00, {}), kAck);
  EXPECT_EQ(Engine::frame(0x01, {}), kNack);
  EXPECT_EQ(Engine::frame(0x03, {}), (Bytes{0x00, 0x03, 0x00, 0x00, 0xF0, 0x00}));  // CRC 0x00F0, low byte first
  EXPECT_EQ(Engine::frame(0x02, {0x61, 0x62, 0x63}), (Bytes{0x00, 0x02, 0x03, 0x00, 0x61, 0x62, 0x63, 0x7D, 0x75}));
}

TEST(SimTransportEngineTest, AcksTheRequestThenSendsTheReplyPacketByPacket) {
  auto engine = Engine::create();
  engine->setReplyHandler([](const Bytes&) { return pattern(300); });
  const Bytes request = pattern(245);
  EXPECT_EQ(answer(*engine, Engine::frame(0xFF, Bytes(request.begin(), request.begin() + 244))), kAck);
  Bytes corrupt = Engine::frame(0x02, {request.back()});
  corrupt.back() ^= 0x01;
  EXPECT_EQ(answer(*engine, corrupt), kNack) << "a request packet with a bad CRC is asked for again";
  EXPECT_EQ(answer(*engine, Engine::frame(0x02, {request.back()})), kAck);
  EXPECT_EQ(engine->requests(), (std::vector<Bytes>{request}));

  const Bytes reply = pattern(300);
  const Bytes first = Engine::frame(0xFF, Bytes(reply.begin(), reply.begin() + 244));
  const Bytes second = Engine::frame(0x02, Bytes(reply.begin() + 244, reply.end()));
  EXPECT_EQ(answer(*engine, kAck), first);
  EXPECT_EQ(answer(*engine, kNack), first) << "a NACKed packet is sent again";
  EXPECT_EQ(answer(*engine, kAck), second);
  EXPECT_EQ(answer(*engine, kAck), kAck) << "the phone has the whole reply";
  EXPECT_EQ(answer(*engine, kAck), std::nullopt) << "nothing more to send";
}

TEST(SimTransportEngineTest, FaultsTakeThePlaceOfOneAnswer) {
  struct Row {
    Engine::Fault fault;
    std::optional<Bytes> answer;
  };
  const Bytes packet = Engine::frame(0xFF, {0x01});
  for (const Row& row : {Row{Engine::Fault::Nack, kNack}, Row{Engine::Fault::Error, Engine::frame(0x03, {})},
                         Row{Engine::Fault::UnknownCtrl, Engine::frame(0x07, {})},
                         Row{Engine::Fault::ShortPacket, Bytes{0x00, 0x00, 0x00, 0x00, 0x00}},
                         Row{Engine::Fault::DataWhileRequesting, Engine::frame(0x02, {0x01})},
                         Row{Engine::Fault::Silence, std::nullopt}}) {
    auto engine = Engine::create();
    engine->setFault(row.fault);
    EXPECT_EQ(answer(*engine, packet), row.answer);
    EXPECT_EQ(answer(*engine, packet), kAck) << "used once";
  }
  auto engine = Engine::create();
  engine->setFault(Engine::Fault::CorruptLastCrcOnce);
  engine->setReplyHandler([](const Bytes&) { return Bytes{0x4F, 0x4B}; });
  ASSERT_EQ(answer(*engine, Engine::frame(0x02, {0x01})), kAck);
  Bytes bad = Engine::frame(0x02, {0x4F, 0x4B});
  bad.back() ^= 0xFF;
  EXPECT_EQ(answer(*engine, kAck), bad);
  EXPECT_EQ(answer(*engine, kNack), Engine::frame(0x02, {0x4F, 0x4B}));
}

}  // namespace
}  // namespace velmora::platform::sim
