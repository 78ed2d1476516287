#include "beacons/configuration/KSServiceDiscoveryCommands.h"

#include <algorithm>

namespace velmora::kestrine {

using platform::bluetooth::BluetoothUUID;

void KSDiscoverServiceCommandBase::run() {
  if (!checkPreconditions(true)) return;
  beginExecuting();
  becomeDelegate();
  peripheral()->discoverServices(serviceUUIDs());
}

void KSDiscoverServiceCommandBase::onDiscoverServices(const OptionalError& error) {
  if (state() != kStateExecuting) return;
  if (error) return finishWithError(*error);
  const auto accepted = serviceUUIDs();
  for (const auto& s : peripheral()->services().value_or(std::vector<Service>{})) {
    if (s && std::find(accepted.begin(), accepted.end(), s->uuid()) != accepted.end()) {
      service_ = s;
      break;
    }
  }
  if (!service_) return finishWithError(errorWithDescription(std::string(missingServiceMessage())));
  if (!characteristicsToDiscover_) return finish();
  peripheral()->discoverCharacteristics(characteristicsToDiscover_, service_);
}

void KSDiscoverServiceCommandBase::onDiscoverCharacteristics(const Service& service, const OptionalError& error) {
  if (state() != kStateExecuting || !service_ || service != service_) return;
  if (error) return finishWithError(*error);
  for (const auto& c : service_->characteristics().value_or(std::vector<Characteristic>{})) {
    if (c) extraCharacteristics_[c->uuid().string()] = c;
  }
  discovered_ = extraCharacteristics_;
  finish();
}

std::shared_ptr<KSDiscoverKestrineServiceCommand> KSDiscoverKestrineServiceCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    std::optional<std::vector<BluetoothUUID>> characteristicsToDiscover) {
  std::shared_ptr<KSDiscoverKestrineServiceCommand> command(
      new KSDiscoverKestrineServiceCommand(std::move(peripheral), std::move(queue), std::move(characteristicsToDiscover)));
  command->becomeDelegate();
  return command;
}

std::vector<BluetoothUUID> KSDiscoverKestrineServiceCommand::serviceUUIDs() const {
  return {kestrineServiceUUID(), kestrineServiceShortUUID()};
}

std::shared_ptr<KSDiscoverEddystoneServiceCommand> KSDiscoverEddystoneServiceCommand::create(
    std::shared_ptr<platform::bluetooth::Peripheral> peripheral, std::shared_ptr<platform::dispatch::Queue> queue,
    std::optional<std::vector<BluetoothUUID>> characteristicsToDiscover) {
  return std::shared_ptr<KSDiscoverEddystoneServiceCommand>(
      new KSDiscoverEddystoneServiceCommand(std::move(peripheral), std::move(queue), std::move(characteristicsToDiscover)));
}

}  // namespace velmora::kestrine
