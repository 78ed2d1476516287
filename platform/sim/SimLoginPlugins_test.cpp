#include <gtest/gtest.h>

#include "platform/bluetooth/GattCharacteristic.h"
#include "platform/crypto/Aes.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimEddystoneLock.h"
#include "platform/sim/SimLoginResponder.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {
namespace {

using bluetooth::BluetoothUUID;

BluetoothUUID uuid(const char* text) { return *BluetoothUUID::parse(text); }

// A GATT server driven from its central side directly: notifications are collected.
struct PluginWorld {
  std::shared_ptr<dispatch::VirtualScheduler> scheduler = std::make_shared<dispatch::VirtualScheduler>();
  std::shared_ptr<SimTimeline> timeline = SimTimeline::create(scheduler, "sim");
  std::shared_ptr<SimGattServer> server;
  std::vector<std::pair<BluetoothUUID, Bytes>> notifications;

  explicit PluginWorld(std::vector<SimGattServer::Characteristic> characteristics) {
    server = SimGattServer::create(timeline, {{uuid("180A"), std::move(characteristics)}});
    server->attach([this](const BluetoothUUID& c, const Bytes& v) { notifications.emplace_back(c, v); });
  }
  std::optional<Error> write(const BluetoothUUID& c, Bytes value) {
    std::optional<Error> error;
    server->write(c, std::move(value), true, [&](const SimGattServer::Reply& r) { error = r.error; });
    scheduler->advanceBy(0.1);
    return error;
  }
  Bytes read(const BluetoothUUID& c) {
    Bytes value;
    server->read(c, [&](const SimGattServer::Reply& r) { value = r.value; });
    scheduler->advanceBy(0.1);
    return value;
  }
};

const BluetoothUUID kWater = uuid("2A01");
const BluetoothUUID kMilk = uuid("2A02");
const BluetoothUUID kIndicator = uuid("2A03");

TEST(SimLoginResponder, VerdictFollowsTheExpectedMilkAndOnlyWhileNotifying) {
  PluginWorld world({{kWater, 0, {}}, {kMilk, 0, {}}, {kIndicator, bluetooth::kPropertyNotify, {}}});
  auto responder = SimLoginResponder::install(world.server, {kWater, kMilk, kIndicator});
  responder->setWater({0x01, 0x02});
  responder->setStatusBlock({0xFB, 0xFF});
  responder->setMilkFunction([](const Bytes& water) { return Bytes{water[1], water[0]}; });
  EXPECT_EQ(world.read(kIndicator), (Bytes{0xFB, 0xFF}));

  // Notifications off: the milk is checked but nothing reaches the central.
  world.write(kMilk, {0x02, 0x01});
  EXPECT_TRUE(world.notifications.empty());
  EXPECT_TRUE(responder->loggedIn());

  world.server->setNotify(kIndicator, true, [](const auto&) {});
  world.write(kMilk, {0x01, 0x02});
  world.write(kMilk, {0x02, 0x01});
  responder->setVerdict(Bytes{0x03});
  world.write(kMilk, {0x02, 0x01});
  ASSERT_EQ(world.notifications.size(), 3u);
  EXPECT_EQ(world.notifications[0].second, (Bytes{0x00, 0x02}));
  EXPECT_EQ(world.notifications[1].second, (Bytes{0x00, 0x01}));
  EXPECT_EQ(world.notifications[2].second, (Bytes{0x03}));
  EXPECT_FALSE(responder->loggedIn());
  EXPECT_EQ(responder->milkWrites().size(), 4u);
}

TEST(SimLoginResponder, CloudTypeIsCheckedAgainstTheSharedSecret) {
  const Bytes secret(16, 0x42);
  const Bytes payload{0xAA, 0xBB, 0xCC};
  Bytes block(16, 0);
  std::copy(payload.begin(), payload.end(), block.begin());
  Bytes expected = *crypto::aes128EcbEncrypt(secret, block);
  expected.resize(8);
  EXPECT_EQ(SimLoginResponder::cloudAnswer(secret, payload), expected);
  EXPECT_TRUE(SimLoginResponder::cloudAnswer(Bytes(5, 1), payload).empty());

  PluginWorld world({{kWater, 0, {}}, {kMilk, 0, {}}, {kIndicator, bluetooth::kPropertyNotify, {}}});
  auto responder = SimLoginResponder::install(world.server, {kWater, kMilk, kIndicator});
  responder->setCloudSecret(secret);
  // The milk function would refuse everything; a type-3 value does not ask it.
  responder->setMilkFunction([](const Bytes&) { return Bytes{}; });
  responder->setWater({0x03, 0x03, 0xAA, 0xBB, 0xCC});
  world.server->setNotify(kIndicator, true, [](const auto&) {});
  world.write(kMilk, expected);
  ASSERT_EQ(world.notifications.size(), 1u);
  EXPECT_EQ(world.notifications[0].second, (Bytes{0x00, 0x01}));
}

TEST(SimEddystoneLock, UnlocksOnTheRightAnswerAndChangesThePasscode) {
  const BluetoothUUID lockState = uuid("2A10");
  const BluetoothUUID unlock = uuid("2A11");
  PluginWorld world({{lockState, 0, {}}, {unlock, 0, {}}});
  const Bytes passcode(16, 0x11);
  auto lock = SimEddystoneLock::install(world.server, {lockState, unlock}, passcode);
  const Bytes challenge{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  lock->setChallenge(challenge);
  EXPECT_EQ(world.read(lockState), Bytes{0x00});
  EXPECT_EQ(world.read(unlock), challenge);

  world.write(unlock, Bytes(16, 0));
  EXPECT_EQ(world.read(lockState), Bytes{0x00});
  EXPECT_EQ(world.read(unlock), challenge);
  // A passcode change is refused while locked.
  world.write(lockState, Bytes(17, 0));
  EXPECT_EQ(lock->passcode(), passcode);

  world.write(unlock, *crypto::aes128EcbEncrypt(passcode, challenge));
  EXPECT_FALSE(lock->locked());
  EXPECT_EQ(world.read(lockState), Bytes{0x01});

  const Bytes next(16, 0x22);
  Bytes change{0x00};
  auto sealed = *crypto::aes128EcbEncrypt(passcode, next);
  change.insert(change.end(), sealed.begin(), sealed.end());
  world.write(lockState, change);
  EXPECT_EQ(lock->passcode(), next);
  world.write(lockState, {0x00});
  EXPECT_TRUE(lock->locked());
  EXPECT_EQ(world.read(lockState), Bytes{0x00});
  EXPECT_EQ(lock->answers().size(), 2u);
}

}  // namespace
}  // namespace velmora::platform::sim
