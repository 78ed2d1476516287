// Plays a request-data exchange with a simulated beacon whose reply notifications are cut
// from the input (one length byte, then that many bytes, per notification). The command must
// never gather more than the reply's declared length nor more bytes than the notifications
// carried, and must stop listening once it has finished.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSRequestDataCommand.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/SimGattLink.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;
using velmora::platform::sim::SimGattServer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<Bytes> replies;
  std::size_t carried = 0;
  for (std::size_t i = 0; i < size;) {
    const std::size_t n = std::min<std::size_t>(data[i], size - i - 1);
    replies.emplace_back(data + i + 1, data + i + 1 + n);
    carried += n;
    i += 1 + n;
  }
  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  using namespace velmora::platform::bluetooth;
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringControl), kPropertyWrite, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyNotify, {}}}}});
  scheduler->advanceBy(0.1);
  link.peripheral->discoverServices(std::nullopt);
  scheduler->advanceBy(0.1);
  auto service = link.peripheral->services()->front();
  link.peripheral->discoverCharacteristics(std::nullopt, service);
  scheduler->advanceBy(0.1);
  link.server->setWriteHandler(gattUUID(KSCharacteristicUUIDStringControl), [&](SimGattServer& server, const Bytes&) {
    for (const auto& r : replies) server.notify(gattUUID(KSCharacteristicUUIDStringIndicator), r);
  });
  auto queue = scheduler->makeSerialQueue("fuzz");
  auto command = KSRequestDataCommand::createWithStrings(link.peripheral, queue, service,
                                                         KSCharacteristicUUIDStringIndicator,
                                                         KSCharacteristicUUIDStringControl, Bytes{0x01});
  int calls = 0;
  command->setCompletionBlock([&](const auto&, const auto&) { ++calls; });
  command->execute();
  scheduler->advanceBy(10);
  const auto& response = command->responseData();
  if (response.size() > 255 || response.size() > carried || calls > 1) std::abort();
  if (calls == 1 && link.server->isNotifying(gattUUID(KSCharacteristicUUIDStringIndicator))) std::abort();
  return 0;
}
