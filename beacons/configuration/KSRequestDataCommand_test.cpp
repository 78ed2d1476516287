#include "beacons/configuration/KSRequestDataCommand.h"

#include "testing/GattCommandTestSupport.h"
#include "testing/HexBytes.h"

namespace velmora::kestrine {
namespace {

using namespace testsupport;
using velmora::testing::hexBytes;

Bytes counting(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(i);
  return out;
}

struct RequestDataTest : GattFixture {
  std::shared_ptr<platform::bluetooth::GattService> service;
  // Replies the beacon notifies on Indicator once a whole request has come in.
  std::vector<Bytes> replies;

  void SetUp() override {
    connect({makerService()});
    service = discoveredMaker();
    link->server->setWriteHandler(gattUUID(KSCharacteristicUUIDStringControl), [this](SimGattServer& server, const Bytes& packet) {
      received += packet.size() - 3;
      if (received < packet[2]) return;
      for (const auto& r : replies) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), r);
    });
  }
  std::shared_ptr<KSRequestDataCommand> command(Bytes request) {
    received = 0;
    return KSRequestDataCommand::createWithStrings(link->peripheral, commandQueue, service,
                                                   KSCharacteristicUUIDStringIndicator,
                                                   KSCharacteristicUUIDStringControl, std::move(request));
  }
  std::size_t received = 0;
};

TEST_F(RequestDataTest, CutsTheRequestInto17BytePacketsCarryingTheTotalLength) {
  const struct {
    std::size_t length;
    std::vector<std::string_view> packets;
  } cases[] = {
      {40, {"13F028 00010203 04050607 08090a0b 0c0d0e0f 10", "13F028 11121314 15161718 191a1b1c 1d1e1f20 21",
            "13F028 22232425 2627"}},
      {17, {"13F011 00010203 04050607 08090a0b 0c0d0e0f 10"}},
      {18, {"13F012 00010203 04050607 08090a0b 0c0d0e0f 10", "13F012 11"}},
      {0, {"13F000"}},
  };
  replies = {hexBytes("00")};
  for (const auto& c : cases) {
    const auto before = link->server->writes(gattUUID(KSCharacteristicUUIDStringControl)).size();
    auto request = command(counting(c.length));
    const Outcome outcome = run(request);
    EXPECT_EQ(outcome.calls, 1) << c.length;
    EXPECT_FALSE(outcome.error);
    const auto writes = link->server->writes(gattUUID(KSCharacteristicUUIDStringControl));
    std::vector<Bytes> expected;
    for (auto p : c.packets) expected.push_back(hexBytes(p));
    EXPECT_EQ(std::vector<Bytes>(writes.begin() + static_cast<std::ptrdiff_t>(before), writes.end()), expected)
        << c.length;
    EXPECT_TRUE(request->responseData().empty());
  }
}

TEST_F(RequestDataTest, GathersTheReplyFromItsNotificationsAndSwitchesThemOff) {
  Bytes first{0x1E}, second{0x1E};
  for (int i = 0; i < 19; ++i) first.push_back(static_cast<std::uint8_t>(0xA0 + i));
  for (int i = 0; i < 11; ++i) second.push_back(static_cast<std::uint8_t>(0xC0 + i));
  second.push_back(0xFF);  // more than expected: ignored
  replies = {Bytes{}, first, second, Bytes{0x1E, 0x99}};  // an empty one changes nothing; the last comes too late
  auto request = command(counting(3));
  const Outcome outcome = run(request);
  EXPECT_FALSE(outcome.error);
  ASSERT_EQ(request->responseData().size(), 30u);
  EXPECT_EQ(request->responseData()[18], 0xB2);
  EXPECT_EQ(request->responseData()[19], 0xC0);
  EXPECT_EQ(request->responseData()[29], 0xCA);
  EXPECT_FALSE(link->server->isNotifying(gattUUID(KSCharacteristicUUIDStringIndicator)));
}

TEST(RequestDataReplyTest, TakesWhatANotificationCarriesAndNeverMore) {
  const struct {
    std::vector<std::string_view> notifications;
    std::string_view response;
    bool complete;
  } cases[] = {
      {{"00"}, "", true},
      {{""}, "", false},
      {{"03 AA"}, "AA", false},             // shorter than it claims: what it carries
      {{"03 AA", "03 BB CC DD"}, "AA BB CC", true},
      {{"02 AA BB CC"}, "AA BB", true},
      {{"02 AA BB", "02 CC"}, "AA BB", true},  // complete already: adds nothing
  };
  for (const auto& c : cases) {
    Bytes response;
    bool complete = false;
    for (auto n : c.notifications) complete = KSRequestDataCommand::appendReply(response, hexBytes(n));
    EXPECT_EQ(response, hexBytes(c.response));
    EXPECT_EQ(complete, c.complete);
  }
}

TEST_F(RequestDataTest, NamesMissingCharacteristicsAndServicesWithoutAny) {
  auto wrong = KSRequestDataCommand::createWithStrings(link->peripheral, commandQueue, service, "1234",
                                                       KSCharacteristicUUIDStringControl, counting(2));
  Outcome outcome = run(wrong);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, "com.kestrine.KSWriteCharacteristicDataCommand");
  EXPECT_EQ(outcome.error->localizedDescription,
            "Missing read or write characteristic 1234 67A29537-CA4A-4536-ABEC-8B5C0A5B425B");

  connect({{gattUUID("FEC4"), {}}});
  link->peripheral->discoverServices(std::nullopt);
  scheduler->advanceBy(0.1);
  auto empty = KSRequestDataCommand::createWithStrings(link->peripheral, commandQueue, link->peripheral->services()->front(),
                                                       KSCharacteristicUUIDStringIndicator,
                                                       KSCharacteristicUUIDStringControl, counting(2));
  outcome = run(empty);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->localizedDescription, "Service with UUID <fec4> has 0 characteristics.");
}

TEST_F(RequestDataTest, CancelSwitchesNotificationsOffAndReportsNothing) {
  replies = {};  // the beacon never answers
  auto request = command(counting(4));
  Outcome outcome;
  start(request, outcome);
  scheduler->advanceBy(1);
  EXPECT_TRUE(link->server->isNotifying(gattUUID(KSCharacteristicUUIDStringIndicator)));
  request->cancel();
  scheduler->advanceBy(1);
  EXPECT_FALSE(link->server->isNotifying(gattUUID(KSCharacteristicUUIDStringIndicator)));
  EXPECT_EQ(outcome.calls, 0);
}

}  // namespace
}  // namespace velmora::kestrine
