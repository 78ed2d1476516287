#include "beacons/configuration/KSBeaconReadSettingsEddystoneOperation.h"

#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSSettingsKeys.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

std::shared_ptr<KSBeaconReadSettingsEddystoneOperation> KSBeaconReadSettingsEddystoneOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
    std::optional<std::string> passcode) {
  std::optional<Bytes> digest;
  if (passcode && !passcode->empty()) digest = passcodeDataFromPasscodeString(*passcode);
  return std::make_shared<KSBeaconReadSettingsEddystoneOperation>(Token{}, std::move(beacon),
                                                                  std::move(peripheralIdentifier), std::move(digest));
}

std::shared_ptr<KSBeaconOperation> KSBeaconReadSettingsEddystoneOperation::makeDuplicate() const {
  return std::make_shared<KSBeaconReadSettingsEddystoneOperation>(Token{}, beacon(), std::nullopt, passcode_);
}

std::optional<platform::Dict> KSBeaconReadSettingsEddystoneOperation::settingsFromBroadcastCapabilities(
    const Bytes& value, std::string* error) {
  if (value.size() < 7) {
    if (error) *error = "Broadcast Capabilities byte array too short";
    return std::nullopt;
  }
  platform::Dict d;
  d[std::string(KSEddySettingVersionKey)] = static_cast<std::uint8_t>(value[0]);
  d[std::string(KSEddySettingTotalNumSlotsKey)] = static_cast<std::uint8_t>(value[1]);
  d[std::string(KSEddySettingTotalNumEIDSlotsKey)] = static_cast<std::uint8_t>(value[2]);
  d[std::string(KSEddySettingCapabilitiesBitmaskKey)] = static_cast<std::uint8_t>(value[3]);
  d[std::string(KSEddySettingFramesSupportedBitmaskKey)] = static_cast<std::uint16_t>((value[4] << 8) | value[5]);
  d[std::string(KSEddySettingTxPowersKey)] = Bytes(value.begin() + 6, value.end());
  return d;
}

void KSBeaconReadSettingsEddystoneOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  if (!passcode_) return failedWithErrorDescription(std::string(KSEmptyPasscodeMessage));
  connect();
}

void KSBeaconReadSettingsEddystoneOperation::connected() {
  KSBeaconOperation::connected();
  auto login = KSBeaconLoginEddystoneCommand::create(beacon(), peripheral(), queue(), passcode_);
  login->setCharacteristicsToDiscover({gattUUID(ESCharacteristicUUIDStringBroadcastCapability)});
  std::weak_ptr<KSOperation> weak = weak_from_this();
  login->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& done, const std::optional<Error>& error) {
    auto self = std::static_pointer_cast<KSBeaconReadSettingsEddystoneOperation>(weak.lock());
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    auto command = std::static_pointer_cast<KSBeaconLoginEddystoneCommand>(done);
    self->setCurrentService(command->eddyService());
    auto capability = characteristicFor(command->discoveredCharacteristics(), ESCharacteristicUUIDStringBroadcastCapability);
    if (!capability) return self->failedWithErrorDescription("Broadcast Capabilities characteristic missing.");
    auto read = KSReadCharacteristicDataCommand::create(self->peripheral(), self->queue(), command->eddyService(), capability);
    read->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& finished, const std::optional<Error>& e) {
      auto me = std::static_pointer_cast<KSBeaconReadSettingsEddystoneOperation>(weak.lock());
      if (!me || me->isOperationTerminated()) return;
      if (e) return me->failedWithError(*e);
      const auto& value = std::static_pointer_cast<KSReadCharacteristicDataCommand>(finished)->characteristicData();
      std::string message;
      auto settings = settingsFromBroadcastCapabilities(value.value_or(Bytes{}), &message);
      if (!settings) return me->failedWithErrorDescription(message);
      me->settings_ = std::move(*settings);
      me->succeeded();
    });
    self->runCommand(read);
  });
  runCommand(login);
}

}  // namespace velmora::kestrine
