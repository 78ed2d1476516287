// A notify stream on real threads: the central's events, the stream's pacing and the
// beacon's answers run on their own queues while a host thread cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/SimGattLink.h"

namespace kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimGattServer;

TEST(StreamThreadsTest, HostThreadCancelsANotifyStreamMidway) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  using namespace platform::bluetooth;
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}},
      SimGattServer::Latencies{.discovery = 0, .read = 0, .write = 0, .notifySwitch = 0, .notification = 0});

  // Discovery through a small delegate that tells the test when each step is done.
  struct Steps final : PeripheralDelegate {
    std::promise<void> services, characteristics;
    void peripheralDidDiscoverServices(const std::shared_ptr<Peripheral>&, const std::optional<platform::Error>&) override {
      services.set_value();
    }
    void peripheralDidDiscoverCharacteristics(const std::shared_ptr<Peripheral>&, const std::shared_ptr<GattService>&,
                                              const std::optional<platform::Error>&) override {
      characteristics.set_value();
    }
  };
  auto steps = std::make_shared<Steps>();
  link.peripheral->setDelegate(steps);
  while (link.peripheral->state() != PeripheralState::Connected) std::this_thread::yield();
  link.peripheral->discoverServices(std::nullopt);
  steps->services.get_future().wait();
  auto service = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::nullopt, service);
  steps->characteristics.get_future().wait();

  // The beacon asks for retries now and then while the stream runs.
  std::promise<void> underWay;
  std::atomic<int> writes{0};
  link.server->setWriteHandler(gattUUID(KSCharacteristicUUIDStringGravy), [&](SimGattServer& server, const Bytes&) {
    const int n = ++writes;
    if (n % 7 == 0) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), {0x01, 0x01, 0x00, 0x02});
    if (n == 20) underWay.set_value();
  });

  auto queue = scheduler->makeSerialQueue("com.kestrine.configuration");
  auto command = KSStreamDataCommand::create(
      link.peripheral, scheduler, queue, service,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringGravy), service),
      Bytes(16 * 1000, 0x42), 0, 0,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringIndicator), service));
  std::atomic<int> reports{0};
  command->setCompletionBlock([&](const auto&, const auto&) { ++reports; });
  command->setProgressBlock([](const auto&, float) {});
  command->execute();
  underWay.get_future().wait();

  std::thread host([&] { command->cancel(); });
  host.join();
  int atCancel = 0;
  bool finished = false;
  queue->sync([&] { atCancel = writes.load(); });
  while (!finished) queue->sync([&] { finished = command->state() == KSPeripheralCommand::kStateFinished; });
  EXPECT_LE(writes.load(), atCancel + 1);
  EXPECT_EQ(reports.load(), 0);
  link.central->cancelPeripheralConnection(link.peripheral);
}

}  // namespace
}  // namespace kestrine
