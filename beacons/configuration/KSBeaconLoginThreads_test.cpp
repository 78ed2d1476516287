// Logins on real threads: the central's events, the beacon's answers and the command's
// steps run on their own queues while a host thread cancels some of them midway.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/LoginTestSupport.h"
#include "testing/SimGattLink.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimGattServer;

constexpr auto kBound = std::chrono::seconds(30);

template <class Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(LoginThreadsTest, HostThreadCancelsLoginsAtAnyStep) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  const Bytes passcode = testsupport::md5Passcode("123456");
  auto queue = scheduler->makeSerialQueue("com.kestrine.configuration");
  struct Report {
    std::atomic<int> calls{0};
    std::atomic<bool> failed{false};
  };
  constexpr int kRounds = 24;
  int completed = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    // A beacon of its own per round: what a cancelled login left on the air cannot reach
    // the next one.
    auto link = velmora::testing::SimGattLink::make(
        scheduler, {testsupport::makerLoginService(), testsupport::eddystoneService()},
        SimGattServer::Latencies{.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0, .notification = 0});
    auto responder = platform::sim::SimLoginResponder::install(
        link.server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
                      gattUUID(KSCharacteristicUUIDStringIndicator)});
    responder->setWater({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08});
    responder->setMilkFunction([passcode](const Bytes& water) {
      auto random = platform::crypto::RandomSource::constant(0xA5);
      return KSBeaconLoginCommand::milkForWater(water, passcode, *random);
    });
    auto lock = platform::sim::SimEddystoneLock::install(
        link.server, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)}, passcode);
    lock->setChallenge(Bytes(16, 0x3C));
    ASSERT_TRUE(eventually([&] { return link.peripheral->state() == platform::bluetooth::PeripheralState::Connected; }));

    auto report = std::make_shared<Report>();
    std::shared_ptr<KSPeripheralCommand> command;
    if (round % 2 == 0) {
      command = KSBeaconLoginCommand::create(nullptr, link.peripheral, queue, passcode);
    } else {
      command = KSBeaconLoginEddystoneCommand::create(nullptr, link.peripheral, queue, passcode);
    }
    command->setCompletionBlock([report](const auto&, const std::optional<platform::Error>& error) {
      report->failed = error.has_value();
      ++report->calls;
    });
    const bool cancel = round % 3 == 1;
    command->execute();
    if (cancel) {
      // From a host thread, after a number of yields that moves with the round.
      std::thread host([command, round] {
        for (int i = 0; i < round * 50; ++i) std::this_thread::yield();
        command->cancel();
      });
      host.join();
      // Whatever the step it met, the command reports at most once and then goes quiet.
      queue->sync([] {});
      EXPECT_LE(report->calls.load(), 1);
    } else {
      ASSERT_TRUE(eventually([&] { return report->calls.load() > 0; })) << "the login never reported";
      EXPECT_FALSE(report->failed.load());
      ++completed;
    }
    queue->sync([] {});
    command.reset();
    link.central->cancelPeripheralConnection(link.peripheral);
  }
  EXPECT_EQ(completed, kRounds - kRounds / 3);
}

}  // namespace
}  // namespace velmora::kestrine
