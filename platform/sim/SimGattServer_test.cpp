#include "platform/sim/SimGattServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/core/BytesDescription.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/SimGattLink.h"

namespace velmora::platform::sim {
namespace {

using bluetooth::BluetoothUUID;
using Kind = SimGattServer::Kind;

BluetoothUUID uuid(const char* text) { return *BluetoothUUID::parse(text); }

// Writes every GATT answer as one line with the virtual time in ms.
class Recorder final : public bluetooth::PeripheralDelegate {
 public:
  explicit Recorder(dispatch::VirtualScheduler& s) : s_(s) {}
  std::vector<std::string> lines;

  void peripheralDidDiscoverServices(const std::shared_ptr<bluetooth::Peripheral>& p,
                                     const std::optional<Error>& e) override {
    std::string names;
    for (const auto& s : p->services().value_or(std::vector<std::shared_ptr<bluetooth::GattService>>{})) {
      names += " " + s->uuid().string();
    }
    log("services" + names, e);
  }
  void peripheralDidDiscoverCharacteristics(const std::shared_ptr<bluetooth::Peripheral>&,
                                            const std::shared_ptr<bluetooth::GattService>& s,
                                            const std::optional<Error>& e) override {
    std::string names;
    for (const auto& c : s->characteristics().value_or(std::vector<std::shared_ptr<bluetooth::GattCharacteristic>>{})) {
      names += " " + c->uuid().string();
    }
    log("characteristics" + names, e);
  }
  void peripheralDidUpdateValue(const std::shared_ptr<bluetooth::Peripheral>&,
                                const std::shared_ptr<bluetooth::GattCharacteristic>& c,
                                const std::optional<Error>& e) override {
    log("value " + c->uuid().string() + " " + describeBytes(c->value()), e);
  }
  void peripheralDidWriteValue(const std::shared_ptr<bluetooth::Peripheral>&,
                               const std::shared_ptr<bluetooth::GattCharacteristic>& c,
                               const std::optional<Error>& e) override {
    log("written " + c->uuid().string(), e);
  }
  void peripheralDidUpdateNotificationState(const std::shared_ptr<bluetooth::Peripheral>&,
                                            const std::shared_ptr<bluetooth::GattCharacteristic>& c,
                                            const std::optional<Error>& e) override {
    log(std::string("notify ") + c->uuid().string() + (c->isNotifying() ? " on" : " off"), e);
  }

 private:
  void log(std::string what, const std::optional<Error>& e) {
    const auto ms = s_.manualClock()->uptime().count() / 1000;
    lines.push_back(std::to_string(ms) + " " + what + (e ? " error " + std::to_string(e->code) : ""));
  }
  dispatch::VirtualScheduler& s_;
};

struct GattServerFixture : ::testing::Test {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  SimGattServer::Latencies latencies{.discovery = 0.010, .read = 0.030, .write = 0.005, .notifySwitch = 0.002,
                                     .notification = 0.001};
  velmora::testing::SimGattLink link = velmora::testing::SimGattLink::make(
      scheduler,
      {{uuid("FEC4"), {{uuid("AAAA"), bluetooth::kPropertyRead | bluetooth::kPropertyWrite, {0x01, 0x02}},
                       {uuid("BBBB"), bluetooth::kPropertyNotify, {}}}},
       {uuid("180F"), {{uuid("2A19"), bluetooth::kPropertyRead, {0x64}}}}},
      latencies);
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(*scheduler);

  void SetUp() override {
    link.peripheral->setDelegate(recorder);
    scheduler->advanceBy(0.1);  // connected at 50 ms
    recorder->lines.clear();
  }
  // Discovers everything and returns the characteristic objects by UUID text.
  std::shared_ptr<bluetooth::GattCharacteristic> discovered(const char* text) {
    if (!link.peripheral->services()) {
      link.peripheral->discoverServices(std::nullopt);
      scheduler->advanceBy(0.1);
      const auto services = *link.peripheral->services();
      for (const auto& s : services) link.peripheral->discoverCharacteristics(std::nullopt, s);
      scheduler->advanceBy(0.1);
      recorder->lines.clear();
    }
    const auto services = *link.peripheral->services();
    for (const auto& s : services) {
      for (const auto& c : s->characteristics().value_or(std::vector<std::shared_ptr<bluetooth::GattCharacteristic>>{})) {
        if (c->uuid() == uuid(text)) return c;
      }
    }
    return nullptr;
  }
};

TEST_F(GattServerFixture, DiscoveryFindsTheListedServicesInTheServersOrder) {
  const struct {
    std::optional<std::vector<BluetoothUUID>> list;
    std::string_view line;
  } cases[] = {
      {std::nullopt, "services FEC4 180F"},
      {std::vector{uuid("180F"), uuid("FEC4")}, "services FEC4 180F"},
      {std::vector{uuid("180F"), uuid("1234")}, "services 180F"},
      {std::vector<BluetoothUUID>{}, "services"},
  };
  for (const auto& c : cases) {
    recorder->lines.clear();
    link.peripheral->discoverServices(c.list);
    scheduler->advanceBy(0.05);
    ASSERT_EQ(recorder->lines.size(), 1u);
    EXPECT_EQ(recorder->lines[0].substr(recorder->lines[0].find(' ') + 1), c.line);
  }
  link.peripheral->discoverServices(std::nullopt);
  scheduler->advanceBy(0.05);
  recorder->lines.clear();
  const auto maker = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::vector{uuid("BBBB")}, maker);
  scheduler->advanceBy(0.05);
  link.peripheral->discoverCharacteristics(std::nullopt, maker);
  scheduler->advanceBy(0.05);
  EXPECT_EQ(recorder->lines, (std::vector<std::string>{"360 characteristics BBBB", "410 characteristics BBBB AAAA"}));
}

TEST_F(GattServerFixture, AnswersKeepTheirOrderWhateverTheLatencies) {
  auto a = discovered("AAAA");
  auto b = discovered("BBBB");
  // The read takes 30 ms; the write's 5 ms and the switch's 2 ms do not let them overtake it.
  link.peripheral->readValue(a);
  link.peripheral->writeValue({0x09}, a, bluetooth::WriteType::WithResponse);
  link.peripheral->setNotifyValue(true, b);
  scheduler->advanceBy(0.1);
  EXPECT_EQ(recorder->lines, (std::vector<std::string>{"330 value AAAA <0102>", "330 written AAAA", "330 notify BBBB on"}));
  EXPECT_EQ(link.server->value(uuid("AAAA")), Bytes{0x09});
}

TEST_F(GattServerFixture, NotificationsOnlyWhileSwitchedOnAndLongWritesRefused) {
  auto a = discovered("AAAA");
  auto b = discovered("BBBB");
  link.server->setWriteHandler(uuid("AAAA"), [](SimGattServer& server, const Bytes& value) {
    server.notify(BluetoothUUID::from16(0xBBBB), value);
  });
  link.peripheral->writeValue({0x01}, a, bluetooth::WriteType::WithResponse);  // not subscribed: no notification
  link.peripheral->setNotifyValue(true, b);
  link.peripheral->writeValue({0x02}, a, bluetooth::WriteType::WithoutResponse);
  link.peripheral->writeValue(Bytes(21, 0x03), a, bluetooth::WriteType::WithResponse);
  link.peripheral->setNotifyValue(false, b);
  link.peripheral->writeValue({0x04}, a, bluetooth::WriteType::WithResponse);
  scheduler->advanceBy(0.1);
  EXPECT_EQ(recorder->lines,
            (std::vector<std::string>{"305 written AAAA", "305 notify BBBB on", "305 value BBBB <02>",
                                      "305 written AAAA error 13", "305 notify BBBB off", "305 written AAAA"}));
  EXPECT_EQ(link.server->writes(uuid("AAAA")), (std::vector<Bytes>{{0x01}, {0x02}, {0x04}}));
  // The trace holds each request and each answer, the notification among them.
  int notifications = 0;
  for (const auto& t : link.server->trace()) notifications += t.kind == Kind::Notification ? 1 : 0;
  EXPECT_EQ(notifications, 1);
}

TEST_F(GattServerFixture, FaultScriptFailsDropsReplacesAndStalls) {
  auto a = discovered("AAAA");
  auto b = discovered("BBBB");
  link.server->failNth(Kind::Read, uuid("AAAA"), 2, Error("test", 42, "second read fails"));
  link.server->replaceNextValue(uuid("AAAA"), {0xEE});
  link.server->setWriteHandler(uuid("AAAA"), [](SimGattServer& server, const Bytes& value) {
    server.notify(BluetoothUUID::from16(0xBBBB), value);
  });
  link.server->dropNextNotification(uuid("BBBB"));
  link.peripheral->setNotifyValue(true, b);
  link.peripheral->readValue(a);
  link.peripheral->readValue(a);
  link.peripheral->readValue(a);
  link.peripheral->writeValue({0x05}, a, bluetooth::WriteType::WithoutResponse);  // its notification is dropped
  link.peripheral->writeValue({0x06}, a, bluetooth::WriteType::WithoutResponse);
  scheduler->advanceBy(0.2);
  EXPECT_EQ(recorder->lines, (std::vector<std::string>{"302 notify BBBB on", "330 value AAAA <ee>",
                                                       "330 value AAAA <ee> error 42", "330 value AAAA <0102>",
                                                       "330 value BBBB <06>"}));
  recorder->lines.clear();
  link.server->setStalled(true);
  link.peripheral->readValue(a);
  scheduler->advanceBy(1);
  EXPECT_TRUE(recorder->lines.empty());
  EXPECT_EQ(link.server->trace().back().kind, Kind::Read);
  EXPECT_FALSE(link.server->trace().back().answer);
}

TEST_F(GattServerFixture, ADroppedConnectionLosesItsAnswersAndSwitches) {
  auto b = discovered("BBBB");
  link.peripheral->setNotifyValue(true, b);
  scheduler->advanceBy(0.01);
  EXPECT_TRUE(link.server->isNotifying(uuid("BBBB")));
  link.peripheral->readValue(discovered("AAAA"));
  link.central->cancelPeripheralConnection(link.peripheral);
  scheduler->advanceBy(0.1);
  EXPECT_FALSE(link.server->isNotifying(uuid("BBBB")));
  link.peripheral->readValue(discovered("AAAA"));
  scheduler->advanceBy(0.1);
  // The read sent before the drop is never answered; the one after fails at once.
  ASSERT_EQ(recorder->lines.size(), 2u);
  EXPECT_NE(recorder->lines[1].find("error 100"), std::string::npos);
}

// On real threads the connection is made on the radio's thread while the central's owner
// watches for it: a request sent the moment the peripheral reads as connected belongs to that
// connection and is answered. Many links made at once, so a window between the two shows up.
TEST(SimGattServerThreads, ARequestSentOnSeeingTheLinkUpIsAnswered) {
  auto scheduler = std::make_shared<dispatch::ThreadScheduler>();
  auto radio = SimRadio::create(scheduler);
  radio->setDefaultConnectScript({.latencySeconds = 0});
  auto server = SimGattServer::create(
      radio->timeline(), {{uuid("FEC4"), {{uuid("AAAA"), bluetooth::kPropertyRead, {0x01}}}}},
      SimGattServer::Latencies{.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0, .notification = 0});
  const Uuid id = Uuid::random();
  radio->setGattServer(id, server);
  struct Quiet final : bluetooth::CentralDelegate {
    void centralDidUpdateState(bluetooth::CentralState) override {}
    void centralDidDiscoverPeripheral(const std::shared_ptr<bluetooth::Peripheral>&, const bluetooth::AdvertisementData&,
                                      int) override {}
  };
  struct Answers final : bluetooth::PeripheralDelegate {
    std::promise<void> answered;
    void peripheralDidDiscoverServices(const std::shared_ptr<bluetooth::Peripheral>&, const std::optional<Error>&) override {
      answered.set_value();
    }
  };
  auto quiet = std::make_shared<Quiet>();
  auto central = radio->makeCentral(quiet, scheduler->makeSerialQueue("central"));
  auto peripheral = central->retrievePeripherals({id}).front();
  constexpr auto kBound = std::chrono::seconds(30);
  for (int i = 0; i < 300; ++i) {
    auto answers = std::make_shared<Answers>();
    peripheral->setDelegate(answers);
    central->connect(peripheral);
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (peripheral->state() != bluetooth::PeripheralState::Connected) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "link " << i << " never came up";
    }
    peripheral->discoverServices(std::nullopt);
    ASSERT_EQ(answers->answered.get_future().wait_for(kBound), std::future_status::ready) << "link " << i;
    central->cancelPeripheralConnection(peripheral);
  }
}

}  // namespace
}  // namespace velmora::platform::sim
