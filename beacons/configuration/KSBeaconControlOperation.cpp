#include "beacons/configuration/KSBeaconControlOperation.h"

namespace velmora::kestrine {

std::shared_ptr<KSBeaconControlOperation> KSBeaconControlOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, std::int32_t opcode,
    std::optional<platform::Bytes> data) {
  return std::make_shared<KSBeaconControlOperation>(Token{}, std::move(beacon), std::move(peripheralIdentifier), opcode,
                                                    std::move(data));
}

std::shared_ptr<KSBeaconOperation> KSBeaconControlOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, opcode_, data_);
}

void KSBeaconControlOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  kestrineLoginAndDiscoverCharacteristics({KSCharacteristicUUIDStringControl}, [weak](const auto&) {
    auto self = std::static_pointer_cast<KSBeaconControlOperation>(weak.lock());
    if (!self) return;
    self->control_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
    if (!self->control_) return self->failedWithErrorDescription("Control characteristic missing.");
    self->writeOpcode(self->opcode_, self->data_, self->control_, [weak] {
      if (auto me = std::static_pointer_cast<KSBeaconControlOperation>(weak.lock())) me->succeeded();
    });
  });
}

}  // namespace velmora::kestrine
