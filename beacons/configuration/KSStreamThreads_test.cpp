// A notify stream on real threads: the central's events, the stream's pacing and the
// beacon's answers run on their own queues while a host thread cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "testing/SimGattLink.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::sim::SimGattServer;

// Real threads may be slow (under a sanitizer, on a loaded machine) but never stuck: every
// wait has a bound far above any normal run, so a lost answer fails the test instead of
// hanging it.
constexpr auto kBound = std::chrono::seconds(30);

bool settles(std::future<void> future) { return future.wait_for(kBound) == std::future_status::ready; }

template <class Condition>
bool eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(StreamThreadsTest, HostThreadCancelsANotifyStreamMidway) {
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  using namespace velmora::platform::bluetooth;
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
  ASSERT_TRUE(eventually([&] { return link.peripheral->state() == PeripheralState::Connected; }));
  // Asked at once by the thread that saw the link up: the answer belongs to this connection.
  link.peripheral->discoverServices(std::nullopt);
  ASSERT_TRUE(settles(steps->services.get_future())) << "no answer to the service discovery";
  auto service = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::nullopt, service);
  ASSERT_TRUE(settles(steps->characteristics.get_future())) << "no answer to the characteristic discovery";

  // The beacon asks for retries now and then while the stream runs. What the handlers and
  // callbacks touch is shared, so a failed assertion that leaves early frees nothing in use.
  struct Seen {
    std::promise<void> underWay;
    std::atomic<int> writes{0};
    std::atomic<int> reports{0};
  };
  auto seen = std::make_shared<Seen>();
  link.server->setWriteHandler(gattUUID(KSCharacteristicUUIDStringGravy), [seen](SimGattServer& server, const Bytes&) {
    const int n = ++seen->writes;
    if (n % 7 == 0) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), {0x01, 0x01, 0x00, 0x02});
    if (n == 20) seen->underWay.set_value();
  });

  auto queue = scheduler->makeSerialQueue("com.kestrine.configuration");
  auto command = KSStreamDataCommand::create(
      link.peripheral, scheduler, queue, service,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringGravy), service),
      Bytes(16 * 1000, 0x42), 0, 0,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringIndicator), service));
  command->setCompletionBlock([seen](const auto&, const auto&) { ++seen->reports; });
  command->setProgressBlock([](const auto&, float) {});
  command->execute();
  ASSERT_TRUE(settles(seen->underWay.get_future())) << "the stream did not get under way";

  std::thread host([&] { command->cancel(); });
  host.join();
  int atCancel = 0;
  queue->sync([&] { atCancel = seen->writes.load(); });
  EXPECT_TRUE(eventually([&] {
    bool finished = false;
    queue->sync([&] { finished = command->state() == KSPeripheralCommand::kStateFinished; });
    return finished;
  })) << "the cancelled stream never finished";
  // The cancel was on the queue before atCancel was read: at most the chunk of a pacing
  // tick already under way follows it.
  EXPECT_LE(seen->writes.load(), atCancel + 1);
  EXPECT_EQ(seen->reports.load(), 0);
  link.central->cancelPeripheralConnection(link.peripheral);
}

}  // namespace
}  // namespace velmora::kestrine
