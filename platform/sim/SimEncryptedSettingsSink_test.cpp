#include "platform/sim/SimEncryptedSettingsSink.h"

#include <gtest/gtest.h>

#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"

namespace velmora::platform::sim {
namespace {

Bytes range(std::size_t n, std::uint8_t from = 0) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(from + i);
  return out;
}
Bytes with(std::initializer_list<std::uint8_t> head, const Bytes& tail) {
  Bytes out(head);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

struct Transfer {
  Bytes iv = range(16, 0x40);
  Bytes ciphertext, mac;
  Transfer(const Bytes& key, const Bytes& payload) {
    auto ct = crypto::aes128CbcEncrypt(key, iv, payload);
    ciphertext.assign(ct->begin(), ct->end());
    Bytes message = with({}, iv);
    message.insert(message.end(), ciphertext.begin(), ciphertext.end());
    auto tag = crypto::aesCmac(key, message);
    mac.assign(tag->begin(), tag->end());
  }
  Bytes chunk(std::uint8_t i) const {
    return with({0x16, i}, Bytes(ciphertext.begin() + 16 * i, ciphertext.begin() + 16 * (i + 1)));
  }
};

TEST(SimEncryptedSettingsSink, DecryptsUnderTheKeyThatVerifiesAndAnswersItsResult) {
  const Bytes shared(16, 0x11), passcode(16, 0x22), payload = range(32, 0x80);
  SimEncryptedSettingsSink sink;
  sink.setKeys({shared, passcode});
  const Transfer t(passcode, payload);
  EXPECT_FALSE(sink.written(with({0x15}, t.iv)));
  EXPECT_FALSE(sink.written(t.chunk(0)));
  EXPECT_FALSE(sink.written(t.chunk(1)));
  const auto answer = sink.written(with({0x17}, t.mac));
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, SimEncryptedSettingsSink::resultFor(passcode, t.mac));
  EXPECT_EQ(answer->size(), 16u);
  EXPECT_EQ(sink.payloads(), std::vector<Bytes>{payload});
  EXPECT_EQ(sink.vectors(), std::vector<Bytes>{t.iv});
}

TEST(SimEncryptedSettingsSink, RefusesBrokenTransfersWithACode) {
  const Bytes key(16, 0x11);
  const Transfer t(key, range(32));
  struct Row {
    const char* name;
    std::vector<Bytes> writes;
    Bytes answer;
  };
  Bytes badMac = t.mac;
  badMac[0] ^= 1;
  const std::vector<Row> rows{
      {"chunks out of order", {with({0x15}, t.iv), t.chunk(1), t.chunk(0), with({0x17}, t.mac)}, {0x00, 0x04}},
      {"no IV", {t.chunk(0), t.chunk(1), with({0x17}, t.mac)}, {0x00, 0x04}},
      {"part of a block", {with({0x15}, t.iv), t.chunk(0), Bytes{0x16, 0x01, 0xAA}, with({0x17}, t.mac)}, {0x00, 0x04}},
      {"MAC under no key", {with({0x15}, t.iv), t.chunk(0), t.chunk(1), with({0x17}, badMac)}, {0x00, 0x05}},
  };
  for (const auto& row : rows) {
    SimEncryptedSettingsSink sink;
    sink.setKeys({key});
    std::optional<Bytes> answer;
    for (const auto& w : row.writes) answer = sink.written(w);
    EXPECT_EQ(answer, row.answer) << row.name;
    EXPECT_TRUE(sink.payloads().empty()) << row.name;
  }

  SimEncryptedSettingsSink scripted;
  scripted.setKeys({key});
  scripted.scriptAnswer({0x01, 0x02, 0x03});
  for (const auto& w : {with({0x15}, t.iv), t.chunk(0), t.chunk(1)}) scripted.written(w);
  EXPECT_EQ(scripted.written(with({0x17}, t.mac)), (Bytes{0x01, 0x02, 0x03}));
  for (const auto& w : {with({0x15}, t.iv), t.chunk(0), t.chunk(1)}) scripted.written(w);
  EXPECT_EQ(scripted.written(with({0x17}, t.mac)), SimEncryptedSettingsSink::resultFor(key, t.mac)) << "once only";
}

}  // namespace
}  // namespace velmora::platform::sim
