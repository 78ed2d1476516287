#include "beacons/configuration/KSBeaconEddystoneConfigOperation.h"

#include <charconv>

#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"
#include "beacons/configuration/KSSettingsKeys.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "platform/crypto/Aes.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

namespace {

std::shared_ptr<KSBeaconEddystoneConfigOperation> lockOp(const std::weak_ptr<KSOperation>& weak) {
  return std::static_pointer_cast<KSBeaconEddystoneConfigOperation>(weak.lock());
}

}  // namespace

std::shared_ptr<KSBeaconEddystoneConfigOperation> KSBeaconEddystoneConfigOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Dict settingForKey) {
  return std::make_shared<KSBeaconEddystoneConfigOperation>(Token{}, std::move(beacon), std::move(peripheralIdentifier),
                                                            std::move(settingForKey));
}

std::shared_ptr<KSBeaconOperation> KSBeaconEddystoneConfigOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, settings_);
}

double KSBeaconEddystoneConfigOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing:
    case KSBeaconOperationStateConnected: return 10;
    default: return KSBeaconOperation::timeoutInSecondsForOperationState(state);
  }
}

std::optional<KSBeaconEddystoneConfigOperation::Slots> KSBeaconEddystoneConfigOperation::slotsFromDictionary(
    const platform::Value& slots, std::string* badKey) {
  Slots out;
  if (slots.isAbsent()) return out;
  const platform::Dict* dict = slots.dict();
  if (!dict) {
    if (badKey) *badKey = std::string(KSEddyConfigDataSlotDictionaryKey);
    return std::nullopt;
  }
  for (const auto& [key, value] : *dict) {
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), number);
    const bool decimal = ec == std::errc() && end == key.data() + key.size() && !key.empty() && key.size() <= 3;
    if (!decimal || number > 255 || !value.bytes()) {
      if (badKey) *badKey = key;
      return std::nullopt;
    }
    out.emplace_back(static_cast<std::uint8_t>(number), *value.bytes());
  }
  // The dictionary orders its keys as text ("10" before "2"): write in slot order.
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return out;
}

std::optional<Bytes> KSBeaconEddystoneConfigOperation::passcodeChangeValue(const Bytes& currentDigest,
                                                                          const Bytes& newDigest) {
  auto block = platform::crypto::aes128EcbEncrypt(currentDigest, newDigest);
  if (!block) return std::nullopt;
  Bytes out{0x00};
  out.insert(out.end(), block->begin(), block->end());
  return out;
}

void KSBeaconEddystoneConfigOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  const auto passcode = currentPasscodeFromSettings(settings_);
  if (!passcode) return failedWithErrorDescription(std::string(KSEmptyPasscodeMessage));
  passcode_ = passcodeDataFromPasscodeString(*passcode);
  auto it = settings_.find(KSEddyConfigDataSlotDictionaryKey);
  std::string badKey;
  auto slots = slotsFromDictionary(it == settings_.end() ? platform::Value() : it->second, &badKey);
  if (!slots) return failedWithErrorDescription("Invalid setting " + badKey);
  slots_ = std::move(*slots);
  lockStateValue_.reset();
  if (auto np = settings_.find(KSSettingsUpdateNewPasscodeKey); np != settings_.end()) {
    if (!np->second.string()) return failedWithErrorDescription("Invalid setting " + std::string(KSSettingsUpdateNewPasscodeKey));
    if (!np->second.string()->empty()) {
      lockStateValue_ = passcodeChangeValue(passcode_, passcodeDataFromPasscodeString(*np->second.string()));
    }
  }
  connect();
}

void KSBeaconEddystoneConfigOperation::connected() {
  KSBeaconOperation::connected();
  auto login = KSBeaconLoginEddystoneCommand::create(beacon(), peripheral(), queue(), passcode_);
  login->setCharacteristicsToDiscover(
      {gattUUID(ESCharacteristicUUIDStringRWADVSlot), gattUUID(ESCharacteristicUUIDStringActiveSlot)});
  std::weak_ptr<KSOperation> weak = weak_from_this();
  login->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& done, const std::optional<Error>& error) {
    auto self = lockOp(weak);
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    auto command = std::static_pointer_cast<KSBeaconLoginEddystoneCommand>(done);
    self->reportStatus("Updating");
    self->setCurrentService(command->eddyService());
    for (const auto& [key, c] : command->discoveredCharacteristics()) self->discoveredCharacteristics()[key] = c;
    self->activeSlot_ = characteristicFor(self->discoveredCharacteristics(), ESCharacteristicUUIDStringActiveSlot);
    self->advSlot_ = characteristicFor(self->discoveredCharacteristics(), ESCharacteristicUUIDStringRWADVSlot);
    self->lockState_ = command->lockStateCharacteristic();
    self->writeSlot(0);
  });
  runCommand(login);
}

void KSBeaconEddystoneConfigOperation::writeSlot(std::size_t index) {
  if (isOperationTerminated()) return;
  if (index >= slots_.size()) return writeNewPasscode();
  if (!activeSlot_ || !advSlot_) return failedWithErrorDescription("Eddystone slot characteristics missing.");
  std::weak_ptr<KSOperation> weak = weak_from_this();
  writeCharacteristicData(Bytes{slots_[index].first}, activeSlot_, currentService(), [weak, index](const auto&) {
    auto self = lockOp(weak);
    if (!self) return;
    self->writeCharacteristicData(self->slots_[index].second, self->advSlot_, self->currentService(),
                                  [weak, index](const auto&) {
                                    if (auto me = lockOp(weak)) me->writeSlot(index + 1);
                                  });
  });
}

void KSBeaconEddystoneConfigOperation::writeNewPasscode() {
  if (!lockStateValue_) return succeeded();
  if (!lockState_) return failedWithErrorDescription("Eddystone Lockstate characteristic missing.");
  std::weak_ptr<KSOperation> weak = weak_from_this();
  writeCharacteristicData(*lockStateValue_, lockState_, currentService(), [weak](const auto&) {
    if (auto self = lockOp(weak)) self->succeeded();
  });
}

}  // namespace velmora::kestrine
