// Streams a block to a simulated beacon that sends feedback cut from the input at times cut
// from the input (per notification: a delay byte in ms, a length byte, the bytes). The stream
// must never write past its data, must end once the feedback has run out, and must report at
// most once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/SimGattLink.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::sim::SimGattServer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  using namespace velmora::platform::bluetooth;
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringGravy), kPropertyWriteWithoutResponse, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}});
  scheduler->advanceBy(0.1);
  link.peripheral->discoverServices(std::nullopt);
  scheduler->advanceBy(0.1);
  auto service = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::nullopt, service);
  scheduler->advanceBy(0.1);

  const Bytes block(200, 0x5A);
  auto queue = scheduler->makeSerialQueue("fuzz");
  auto command = KSStreamDataCommand::create(
      link.peripheral, scheduler, queue, service,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringGravy), service), block, 1, 4,
      KSPeripheralCommand::retrieveCharacteristic(gattUUID(KSCharacteristicUUIDStringIndicator), service));
  int calls = 0;
  command->setCompletionBlock([&](const auto&, const auto&) { ++calls; });
  command->execute();
  for (std::size_t i = 0; i + 1 < size;) {
    const double delay = data[i] / 1000.0;
    const std::size_t n = std::min<std::size_t>(data[i + 1], size - i - 2);
    const Bytes value(data + i + 2, data + i + 2 + n);
    i += 2 + n;
    scheduler->advanceBy(delay);
    link.server->notify(gattUUID(KSCharacteristicUUIDStringIndicator), value);
  }
  scheduler->advanceBy(60);
  for (const auto& w : link.server->writes(gattUUID(KSCharacteristicUUIDStringGravy))) {
    if (w.empty() || w.size() > 16) std::abort();
  }
  if (command->dataIndex() > block.size() || calls != 1 || command->state() != KSPeripheralCommand::kStateFinished) {
    std::abort();
  }
  return 0;
}
