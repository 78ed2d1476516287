#include "testing/GattCommandTestSupport.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSServiceDiscoveryCommands.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {
namespace {

using namespace testsupport;
using platform::bluetooth::kPropertyNotify;
using platform::bluetooth::kPropertyRead;

SimGattServer::Service plain(std::string_view uuid) {
  return {gattUUID(uuid), {characteristic(KSCharacteristicUUIDStringBatteryLevel, kPropertyRead, {0x64})}};
}

using BasicCommandsTest = GattFixture;

TEST_F(BasicCommandsTest, MakerDiscoveryTakesEitherFormAndTheFirstListedWins) {
  const struct {
    std::vector<SimGattServer::Service> services;
    std::optional<std::string_view> found;  // nullopt: the service is missing
  } cases[] = {
      {{plain(KSServiceUUIDStringBattery), makerService(KSServiceUUIDStringKestrineLong)}, KSServiceUUIDStringKestrineLong},
      {{makerService(KSServiceUUIDStringKestrineShort)}, KSServiceUUIDStringKestrineShort},
      {{makerService(KSServiceUUIDStringKestrineShort), makerService(KSServiceUUIDStringKestrineLong)},
       KSServiceUUIDStringKestrineShort},
      {{makerService(KSServiceUUIDStringKestrineLong), makerService(KSServiceUUIDStringKestrineShort)},
       KSServiceUUIDStringKestrineLong},
      {{plain(KSServiceUUIDStringBattery)}, std::nullopt},
  };
  for (const auto& c : cases) {
    connect(c.services);
    auto command = KSDiscoverKestrineServiceCommand::create(
        link->peripheral, commandQueue,
        std::vector{gattUUID(KSCharacteristicUUIDStringControl), gattUUID(KSCharacteristicUUIDStringMinor)});
    const Outcome outcome = run(command);
    ASSERT_EQ(outcome.calls, 1);
    if (!c.found) {
      ASSERT_TRUE(outcome.error);
      EXPECT_EQ(outcome.error->domain, "com.kestrine.KSDiscoverKestrineService");
      EXPECT_EQ(outcome.error->code, -1);
      EXPECT_EQ(outcome.error->localizedDescription, "KSDiscoverKestrineService Kestrine Service missing.");
      continue;
    }
    EXPECT_FALSE(outcome.error);
    ASSERT_TRUE(command->kestrineService());
    EXPECT_EQ(command->kestrineService()->uuid(), gattUUID(*c.found));
    // What the service holds is keyed by its upper-case text; the lower-case constants are
    // found through their parsed UUID.
    ASSERT_TRUE(command->discoveredCharacteristics());
    EXPECT_EQ(command->discoveredCharacteristics()->size(), 2u);
    EXPECT_TRUE(command->discoveredCharacteristics()->contains("67A29537-CA4A-4536-ABEC-8B5C0A5B425B"));
    EXPECT_TRUE(characteristicFor(*command->discoveredCharacteristics(), KSCharacteristicUUIDStringMinor));
    EXPECT_TRUE(command->discoveredCharacteristics()->contains("226BE94B-741E-4776-9333-89D1DD647339"));
  }
}

TEST_F(BasicCommandsTest, DiscoveryWithoutAListLeavesTheMapUnsetAndEddystoneHasItsOwnError) {
  connect({makerService()});
  auto maker = KSDiscoverKestrineServiceCommand::create(link->peripheral, commandQueue, std::nullopt);
  EXPECT_FALSE(run(maker).error);
  EXPECT_TRUE(maker->kestrineService());
  EXPECT_FALSE(maker->discoveredCharacteristics());

  auto eddystone = KSDiscoverEddystoneServiceCommand::create(link->peripheral, commandQueue, std::nullopt);
  const Outcome outcome = run(eddystone);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->domain, "com.kestrine.KSDiscoverEddystoneService");
  EXPECT_EQ(outcome.error->localizedDescription, "KSDiscoverEddystoneServiceCommand Service missing.");
}

TEST_F(BasicCommandsTest, ReadsTheValueOfItsOwnCharacteristicAndPassesErrorsOn) {
  connect({makerService()});
  auto service = discoveredMaker();
  auto minor = find(service, KSCharacteristicUUIDStringMinor);
  auto read = KSReadCharacteristicDataCommand::create(link->peripheral, commandQueue, service, minor);
  EXPECT_FALSE(run(read).error);
  EXPECT_EQ(read->characteristicData(), (Bytes{0x00, 0x07}));

  link->server->failNth(SimGattServer::Kind::Read, minor->uuid(), 1, platform::Error("test", 7, "no"));
  auto failing = KSReadCharacteristicDataCommand::create(link->peripheral, commandQueue, service, minor);
  const Outcome outcome = run(failing);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code, 7);

  platform::LogCapture capture;
  const auto before = platform::programmingErrorCount();
  auto noService = KSReadCharacteristicDataCommand::create(link->peripheral, commandQueue, nullptr, minor);
  const Outcome missing = run(noService);
  ASSERT_TRUE(missing.error);
  EXPECT_EQ(missing.error->localizedDescription, "Service missing.");
  EXPECT_EQ(platform::programmingErrorCount(), before + 1);
}

TEST_F(BasicCommandsTest, WritesBlocksOneAfterAnotherEachAcknowledged) {
  connect({makerService()});
  auto service = discoveredMaker();
  Bytes data(45);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i);
  const auto since = nowMicros();
  auto write = KSWriteCharacteristicDataCommand::create(link->peripheral, commandQueue, service,
                                                        find(service, KSCharacteristicUUIDStringControl), data);
  const Outcome outcome = run(write);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.calls, 1);
  std::vector<std::string> kinds;
  for (const auto& line : traceOf(KSCharacteristicUUIDStringControl, since)) kinds.push_back(line.substr(line.find(' ') + 1));
  EXPECT_EQ(kinds, (std::vector<std::string>{
                       "write <00010203 04050607 08090a0b 0c0d0e0f 10111213>", "write!",
                       "write <14151617 18191a1b 1c1d1e1f 20212223 24252627>", "write!", "write <28292a2b 2c>",
                       "write!"}));
}

TEST_F(BasicCommandsTest, WithANotifyCharacteristicWritesAfterTheSwitchAndFinishesAfterItIsOff) {
  connect({makerService()});
  auto service = discoveredMaker();
  auto control = find(service, KSCharacteristicUUIDStringControl);
  auto indicator = find(service, KSCharacteristicUUIDStringIndicator);
  // The beacon acknowledges the last block on Indicator.
  link->server->setWriteHandler(control->uuid(), [](SimGattServer& server, const Bytes& value) {
    if (value.size() < 20) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), {0x01});
  });
  const auto since = nowMicros();
  auto write = KSWriteCharacteristicDataCommand::create(link->peripheral, commandQueue, service, control,
                                                        Bytes(25, 0xAA), indicator);
  Outcome outcome;
  start(write, outcome);
  scheduler->advanceBy(5);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(outcome.calls, 1);

  // Merge the two characteristics' traces in time order.
  std::vector<std::pair<std::int64_t, std::string>> events;
  for (const auto& t : link->server->trace()) {
    if (t.micros < since || (t.uuid != control->uuid() && t.uuid != indicator->uuid())) continue;
    static const char* names[] = {"", "", "read", "write", "write-nr", "switch", "notify"};
    events.emplace_back(t.micros, std::string(t.uuid == control->uuid() ? "C " : "I ") +
                                      names[static_cast<int>(t.kind)] + (t.answer ? "!" : ""));
  }
  std::vector<std::string> order;
  for (const auto& e : events) order.push_back(e.second);
  EXPECT_EQ(order, (std::vector<std::string>{"I switch", "I switch!", "C write", "C write!", "C write", "C write!",
                                             "I notify!", "I switch", "I switch!"}));
  // Completion after the switch-off was confirmed, not at the notification.
  EXPECT_GE(outcome.atMicros, events.back().first);
  EXPECT_FALSE(link->server->isNotifying(indicator->uuid()));
}

TEST_F(BasicCommandsTest, EmptyDataSucceedsAtOnceWithoutTraffic) {
  connect({makerService()});
  auto service = discoveredMaker();
  for (bool withNotify : {false, true}) {
    const auto traced = link->server->trace().size();
    auto write = KSWriteCharacteristicDataCommand::create(
        link->peripheral, commandQueue, service, find(service, KSCharacteristicUUIDStringControl), Bytes{},
        withNotify ? find(service, KSCharacteristicUUIDStringIndicator) : nullptr);
    Outcome outcome;
    start(write, outcome);
    scheduler->runUntilIdle();
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(link->server->trace().size(), traced);
  }
}

TEST_F(BasicCommandsTest, ReportsOnceAndNothingAfterCancel) {
  connect({makerService()});
  auto service = discoveredMaker();
  auto minor = find(service, KSCharacteristicUUIDStringMinor);

  auto read = KSReadCharacteristicDataCommand::create(link->peripheral, commandQueue, service, minor);
  Outcome outcome;
  start(read, outcome);
  scheduler->advanceBy(1);
  ASSERT_EQ(outcome.calls, 1);
  read->finish();
  read->finishWithError(platform::Error("x", 1, "late"));
  EXPECT_EQ(outcome.calls, 1);
  EXPECT_FALSE(outcome.error);
  EXPECT_EQ(read->error()->localizedDescription, "late");  // stored, told to nobody
  EXPECT_EQ(read->state(), KSPeripheralCommand::kStateFinished);

  auto canceled = KSReadCharacteristicDataCommand::create(link->peripheral, commandQueue, service, minor);
  Outcome none;
  start(canceled, none);
  scheduler->runUntilIdle();
  canceled->cancel();
  scheduler->advanceBy(1);  // the value still arrives and finishes the command, silently
  EXPECT_EQ(none.calls, 0);
  EXPECT_EQ(canceled->state(), KSPeripheralCommand::kStateFinished);
  EXPECT_EQ(canceled->characteristicData(), (Bytes{0x00, 0x07}));
}

TEST_F(BasicCommandsTest, ADyingCommandLeavesItsSuccessorAsDelegate) {
  connect({makerService()});
  auto first = KSDiscoverKestrineServiceCommand::create(link->peripheral, commandQueue, std::nullopt);
  auto second = KSDiscoverKestrineServiceCommand::create(link->peripheral, commandQueue, std::nullopt);
  first.reset();
  EXPECT_EQ(link->peripheral->delegate().get(), second.get());
  second.reset();
  EXPECT_EQ(link->peripheral->delegate(), nullptr);
  EXPECT_EQ(KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringControl),
                                                        std::make_shared<platform::bluetooth::GattService>(
                                                            gattUUID(KSServiceUUIDStringKestrineLong))),
            nullptr);
}

}  // namespace
}  // namespace velmora::kestrine
