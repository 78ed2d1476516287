#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"

#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/model/KSBeacon.h"
#include "platform/core/BytesDescription.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

namespace {

std::shared_ptr<KSBeaconSettingsUpdateOfflineOperation> lockOp(const std::weak_ptr<KSOperation>& weak) {
  return std::static_pointer_cast<KSBeaconSettingsUpdateOfflineOperation>(weak.lock());
}

}  // namespace

std::optional<std::string> currentPasscodeFromSettings(const platform::Dict& settings) {
  auto it = settings.find(KSSettingsUpdateCurrentPasscodeKey);
  if (it == settings.end() || !it->second.string() || it->second.string()->empty()) return std::nullopt;
  return *it->second.string();
}

std::shared_ptr<KSBeaconSettingsUpdateOfflineOperation> KSBeaconSettingsUpdateOfflineOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Dict settingForKey) {
  return std::make_shared<KSBeaconSettingsUpdateOfflineOperation>(Token{}, std::move(beacon),
                                                                  std::move(peripheralIdentifier), std::move(settingForKey));
}

std::shared_ptr<KSBeaconOperation> KSBeaconSettingsUpdateOfflineOperation::makeDuplicate() const {
  auto copy = initWithBeacon(beacon(), std::nullopt, settings_);
  copy->cloud_ = cloud_;
  copy->random_ = random_;
  return copy;
}

double KSBeaconSettingsUpdateOfflineOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing:
    case KSBeaconOperationStateConnected: return 10;
    default: return KSBeaconOperation::timeoutInSecondsForOperationState(state);
  }
}

// The beacon's settings may have changed, or the attempt may have stopped half way: however
// the attempt ends (its own steps, a state timeout, a missing peripheral, a lost link), the
// beacon is heard afresh, so the job put aside for a new identifier reconnects and the
// beacon's new advertisement counts as a first sighting.
void KSBeaconSettingsUpdateOfflineOperation::rediscoverBeacon() {
  if (isOperationTerminated()) return;
  if (beacon()) beacon()->needsToRediscoverPeripheral();
}

void KSBeaconSettingsUpdateOfflineOperation::succeeded() {
  rediscoverBeacon();
  KSBeaconOperation::succeeded();
}

void KSBeaconSettingsUpdateOfflineOperation::failedWithError(const Error& error) {
  rediscoverBeacon();
  KSBeaconOperation::failedWithError(error);
}

void KSBeaconSettingsUpdateOfflineOperation::failedWithoutRetry(const Error& error) {
  rediscoverBeacon();
  KSBeaconOperation::failedWithoutRetry(error);
}

void KSBeaconSettingsUpdateOfflineOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  const auto passcode = currentPasscodeFromSettings(settings_);
  if (!passcode) return failedWithError(errorWithDescription(std::string(KSEmptyPasscodeMessage)));
  passcode_ = passcodeDataFromPasscodeString(*passcode);
  // A fresh IV for every attempt: the beacon must never see one twice.
  auto random = random_ ? random_ : platform::crypto::RandomSource::system();
  Error error;
  auto encrypted = offline_settings::encryptedSettings(settings_, passcode_, passcode_, random->bytes(16), &error);
  if (!encrypted) return failedWithError(error);
  encrypted_ = std::move(*encrypted);
  connect();
}

void KSBeaconSettingsUpdateOfflineOperation::connected() {
  KSBeaconOperation::connected();
  auto login = KSBeaconLoginCommand::create(beacon(), peripheral(), queue(), passcode_);
  login->setCharacteristicsToDiscover(
      {gattUUID(KSCharacteristicUUIDStringControl), gattUUID(KSCharacteristicUUIDStringIndicator)});
  login->setCloud((cloud_ ? cloud_ : KSSettingsCloud::shared())->loginCloud());
  std::weak_ptr<KSOperation> weak = weak_from_this();
  login->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& done, const std::optional<Error>& error) {
    auto self = lockOp(weak);
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    auto command = std::static_pointer_cast<KSBeaconLoginCommand>(done);
    self->setCurrentService(command->kestrineService());
    for (const auto& [key, c] : command->discoveredCharacteristics()) self->discoveredCharacteristics()[key] = c;
    self->control_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
    self->notify_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringIndicator);
    if (!self->control_ || !self->notify_) {
      return self->failedWithError(self->errorWithDescription("Settings Update Requires Notify, Control Characteristic"));
    }
    self->reportStatus("Updating");
    if (command->loginResult() == 3) return self->writeUnencryptedSettings();
    self->writeEncryptedSettings();
  });
  runCommand(login);
}

std::shared_ptr<KSPeripheralCommand> KSBeaconSettingsUpdateOfflineOperation::writeCommand(Bytes data, std::int64_t blockSize,
                                                                                          bool waitForNotify) {
  auto command = KSWriteCharacteristicDataCommand::create(peripheral(), queue(), currentService(), control_,
                                                          std::move(data), waitForNotify ? notify_ : nullptr);
  command->setWriteDataBlockSize(blockSize);
  return command;
}

void KSBeaconSettingsUpdateOfflineOperation::writeEncryptedSettings() {
  auto vector = writeCommand(settings_blob::prefixed(settings_blob::kVectorOpcode, encrypted_.initialVector),
                             settings_blob::kVectorBlockSize, false);
  auto bulk = writeCommand(settings_blob::chunked(encrypted_.encrypted, settings_blob::kEncryptedChunkOpcode),
                           settings_blob::kChunkBlockSize, false);
  auto mac = writeCommand(settings_blob::prefixed(settings_blob::kMacOpcode, encrypted_.mac),
                          settings_blob::kVectorBlockSize, true);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto step = [weak](std::function<void(KSBeaconSettingsUpdateOfflineOperation&)> next) {
    return [weak, next](const std::shared_ptr<KSPeripheralCommand>&, const std::optional<Error>& error) {
      auto self = lockOp(weak);
      if (!self || self->isOperationTerminated()) return;
      if (error) return self->failedWithError(*error);
      next(*self);
    };
  };
  mac->setCompletionBlock(step([](KSBeaconSettingsUpdateOfflineOperation& self) { self.finishWithNotification(false); }));
  bulk->setCompletionBlock(step([mac](KSBeaconSettingsUpdateOfflineOperation& self) {
    self.reportStatus("Mac Write");
    self.runCommand(mac);
  }));
  vector->setCompletionBlock(step([bulk](KSBeaconSettingsUpdateOfflineOperation& self) {
    self.reportStatus("Bulk Write");
    self.runCommand(bulk);
  }));
  reportStatus("Init Vector");
  runCommand(vector);
}

void KSBeaconSettingsUpdateOfflineOperation::writeUnencryptedSettings() {
  auto bulk = writeCommand(settings_blob::chunked(encrypted_.unencrypted, settings_blob::kPlainChunkOpcode,
                                                  settings_blob::kPlainLastChunkOpcode),
                           settings_blob::kChunkBlockSize, true);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  bulk->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>&, const std::optional<Error>& error) {
    auto self = lockOp(weak);
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    self->finishWithNotification(true);
  });
  runCommand(bulk);
}

void KSBeaconSettingsUpdateOfflineOperation::finishWithNotification(bool plain) {
  const Bytes value = notify_->value();
  if (value.size() == 16) return succeeded();
  failedWithError(errorWithDescription(plain ? "Notify Data not 16 bytes: " + platform::describeBytes(value)
                                                : std::string("Notify Data not 16 bytes")));
}

}  // namespace velmora::kestrine
