// Plays the maker's login or the Eddystone unlock against a simulated beacon whose answers
// come from the input: Water, the status block, the verdict, the Lockstate value, the
// challenge and the cloud's milk reply (answered in-process). Whatever the beacon says, the
// login reports exactly once, and a Milk or Unlock write never exceeds one answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "beacons/model/KSBeacon.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/sim/SimEddystoneLock.h"
#include "platform/sim/SimLoginResponder.h"
#include "testing/SimGattLink.h"

using namespace velmora::kestrine;
using velmora::platform::Bytes;

namespace {

// The cloud, answered on the scheduler's main queue with the input's reply text.
class InProcessCloud final : public KSBeaconConfigurationCloud {
 public:
  InProcessCloud(std::shared_ptr<velmora::platform::dispatch::Queue> queue, std::string milk, bool fail)
      : KSBeaconConfigurationCloud(nullptr), queue_(std::move(queue)), milk_(std::move(milk)), fail_(fail) {}
  void getMilk(const KSBeacon&, const Bytes&, const Bytes&, Success success, Failure failure) override {
    queue_->async([this, success, failure] {
      if (fail_) return failure(velmora::platform::Error("fuzz", 500, "refused"));
      success(velmora::platform::Value::makeDict({{"milk", milk_}}));
    });
  }
  void postStatus(const std::shared_ptr<KSBeacon>&, const Bytes&) override {}

 private:
  std::shared_ptr<velmora::platform::dispatch::Queue> queue_;
  std::string milk_;
  bool fail_;
};

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  Bytes field() {
    const std::size_t n = std::min<std::size_t>(byte(), size - at);
    Bytes out(data + at, data + at + n);
    at += n;
    return out;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in{data, size};
  const std::uint8_t flags = in.byte();
  const Bytes water = in.field();
  const Bytes status = in.field();
  const Bytes verdict = in.field();
  const Bytes lockState = in.field();
  const Bytes challenge = in.field();
  const Bytes milkReply = in.field();
  const Bytes passcode(16, 0x42);

  auto scheduler = std::make_shared<velmora::platform::dispatch::VirtualScheduler>();
  using namespace velmora::platform::bluetooth;
  auto link = velmora::testing::SimGattLink::make(
      scheduler, {{gattUUID(KSServiceUUIDStringKestrineLong),
                   {{gattUUID(KSCharacteristicUUIDStringWater), kPropertyRead, {}},
                    {gattUUID(KSCharacteristicUUIDStringMilk), kPropertyWrite, {}},
                    {gattUUID(KSCharacteristicUUIDStringIndicator), kPropertyRead | kPropertyNotify, {}}}},
                  {gattUUID(KSServiceUUIDStringEddystoneService),
                   {{gattUUID(ESCharacteristicUUIDStringLockstate), kPropertyRead | kPropertyWrite, {}},
                    {gattUUID(ESCharacteristicUUIDStringUnlock), kPropertyRead | kPropertyWrite, {}}}}});
  scheduler->advanceBy(0.1);
  auto queue = scheduler->makeSerialQueue("fuzz");
  auto responder = velmora::platform::sim::SimLoginResponder::install(
      link.server, {gattUUID(KSCharacteristicUUIDStringWater), gattUUID(KSCharacteristicUUIDStringMilk),
                    gattUUID(KSCharacteristicUUIDStringIndicator)});
  responder->setWater(water);
  responder->setStatusBlock(status);
  if (flags & 0x04) responder->setVerdict(verdict);
  auto lock = velmora::platform::sim::SimEddystoneLock::install(
      link.server, {gattUUID(ESCharacteristicUUIDStringLockstate), gattUUID(ESCharacteristicUUIDStringUnlock)}, passcode);
  lock->setChallenge(challenge);
  lock->setLockStateValue(lockState);

  const std::optional<Bytes> given = (flags & 0x02) ? std::optional<Bytes>(passcode) : std::nullopt;
  std::shared_ptr<KSPeripheralCommand> command;
  if (flags & 0x01) {
    command = KSBeaconLoginEddystoneCommand::create(nullptr, link.peripheral, queue, given);
  } else {
    auto beacon = std::make_shared<KSBeacon>();
    beacon->setBeaconID("b-1");
    auto login = KSBeaconLoginCommand::create(beacon, link.peripheral, queue, given);
    login->setCloud(std::make_shared<InProcessCloud>(scheduler->mainQueue(),
                                                     std::string(milkReply.begin(), milkReply.end()), flags & 0x08));
    login->setRandomSource(velmora::platform::crypto::RandomSource::constant(0xA5));
    command = login;
  }
  int calls = 0;
  command->setCompletionBlock([&](const auto&, const auto&) { ++calls; });
  command->execute();
  scheduler->advanceBy(30);
  if (calls != 1) std::abort();
  if (responder->milkWrites().size() > 1 || lock->answers().size() > 1) std::abort();
  return 0;
}
