#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"

#include <algorithm>

#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSServiceDiscoveryCommands.h"
#include "platform/crypto/Aes.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

std::shared_ptr<KSBeaconLoginEddystoneCommand> KSBeaconLoginEddystoneCommand::create(
    std::shared_ptr<KSBeacon> beacon, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
    std::shared_ptr<platform::dispatch::Queue> queue, std::optional<Bytes> passcode) {
  return std::shared_ptr<KSBeaconLoginEddystoneCommand>(new KSBeaconLoginEddystoneCommand(
      std::move(beacon), std::move(peripheral), std::move(queue), std::move(passcode)));
}

KSBeaconLoginEddystoneCommand::KSBeaconLoginEddystoneCommand(
    std::shared_ptr<KSBeacon> beacon, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
    std::shared_ptr<platform::dispatch::Queue> queue, std::optional<Bytes> passcode)
    : KSPeripheralCommand(std::move(peripheral), std::move(queue)),
      beacon_(std::move(beacon)),
      passcode_(std::move(passcode)) {}

Error KSBeaconLoginEddystoneCommand::errorWithDescription(std::string_view description, std::int64_t code) {
  return Error(std::string(kErrorDomain), code, std::string(description));
}

std::optional<Bytes> KSBeaconLoginEddystoneCommand::responseForChallenge(const Bytes& challenge,
                                                                         const Bytes& passcode) {
  if (passcode.size() != platform::crypto::kAes128KeySize) return std::nullopt;
  Bytes block(platform::crypto::kAesBlockSize, 0);
  std::copy_n(challenge.begin(), std::min(challenge.size(), block.size()), block.begin());
  return platform::crypto::aes128EcbEncrypt(passcode, block);
}

void KSBeaconLoginEddystoneCommand::runStep(
    std::shared_ptr<KSPeripheralCommand> command,
    std::function<void(KSBeaconLoginEddystoneCommand&, const std::shared_ptr<KSPeripheralCommand>&,
                       const OptionalError&)>
        next) {
  current_ = command;
  std::weak_ptr<KSPeripheralCommand> weak = weak_from_this();
  command->setCompletionBlock([weak, next = std::move(next)](const std::shared_ptr<KSPeripheralCommand>& done,
                                                               const OptionalError& error) {
    auto self = std::static_pointer_cast<KSBeaconLoginEddystoneCommand>(weak.lock());
    if (!self || self->canceled() || self->state() == kStateFinished) return;
    next(*self, done, error);
  });
  command->execute();
}

void KSBeaconLoginEddystoneCommand::didCancel() {
  if (current_) current_->cancel();
}

void KSBeaconLoginEddystoneCommand::run() {
  if (!checkPreconditions(true)) return;
  beginExecuting();
  std::vector<platform::bluetooth::BluetoothUUID> uuids = {gattUUID(ESCharacteristicUUIDStringLockstate),
                                                           gattUUID(ESCharacteristicUUIDStringUnlock)};
  uuids.insert(uuids.end(), characteristicsToDiscover_.begin(), characteristicsToDiscover_.end());
  runStep(KSDiscoverEddystoneServiceCommand::create(peripheral(), queue(), std::move(uuids)),
          [](KSBeaconLoginEddystoneCommand& self, const std::shared_ptr<KSPeripheralCommand>& done,
             const OptionalError& error) {
            if (error) return self.finishWithError(*error);
            auto discovery = std::static_pointer_cast<KSDiscoverEddystoneServiceCommand>(done);
            self.discovered_ = discovery->discoveredCharacteristics().value_or(KSCharacteristicMap{});
            self.eddyService_ = discovery->eddystoneService();
            self.lockState_ = characteristicFor(self.discovered_, ESCharacteristicUUIDStringLockstate);
            self.unlock_ = characteristicFor(self.discovered_, ESCharacteristicUUIDStringUnlock);
            if (!self.lockState_ || !self.unlock_) {
              return self.finishWithError(
                  errorWithDescription("Missing Eddystone Characteristics", KSBeaconLoginRefusedCode));
            }
            self.readLockState(false);
          });
}

void KSBeaconLoginEddystoneCommand::readLockState(bool afterAnswer) {
  runStep(KSReadCharacteristicDataCommand::create(peripheral(), queue(), eddyService_, lockState_),
          [afterAnswer](KSBeaconLoginEddystoneCommand& self, const std::shared_ptr<KSPeripheralCommand>& done,
                        const OptionalError& error) {
            if (error) return self.finishWithError(*error);
            const Bytes value =
                std::static_pointer_cast<KSReadCharacteristicDataCommand>(done)->characteristicData().value_or(Bytes{});
            // An empty value has no lock state: it is as unknown as any other.
            const int state = value.empty() ? -1 : value[0];
            if (state == 1 || state == 2) return self.finish();
            if (state != 0) return self.finishWithError(errorWithDescription("Unrecognized Lock State", -1));
            if (afterAnswer) {
              return self.finishWithError(errorWithDescription("Incorrect Passcode", KSBeaconLoginRefusedCode));
            }
            if (!self.passcode_ || self.passcode_->size() != platform::crypto::kAes128KeySize) {
              return self.finishWithError(errorWithDescription("Passcode Required", KSBeaconLoginRefusedCode));
            }
            self.runStep(KSReadCharacteristicDataCommand::create(self.peripheral(), self.queue(), self.eddyService_,
                                                                 self.unlock_),
                         [](KSBeaconLoginEddystoneCommand& me, const std::shared_ptr<KSPeripheralCommand>& read,
                            const OptionalError& readError) {
                           if (readError) return me.finishWithError(*readError);
                           me.writeResponseForChallengeData(std::static_pointer_cast<KSReadCharacteristicDataCommand>(read)
                                                                ->characteristicData()
                                                                .value_or(Bytes{}));
                         });
          });
}

void KSBeaconLoginEddystoneCommand::writeResponseForChallengeData(const Bytes& challenge) {
  auto answer = responseForChallenge(challenge, *passcode_);
  if (!answer) return finishWithError(errorWithDescription("Encryption Failed", -1));
  runStep(KSWriteCharacteristicDataCommand::create(peripheral(), queue(), eddyService_, unlock_, std::move(*answer)),
          [](KSBeaconLoginEddystoneCommand& self, const std::shared_ptr<KSPeripheralCommand>&,
             const OptionalError& error) {
            if (error) return self.finishWithError(*error);
            self.readLockState(true);
          });
}

}  // namespace velmora::kestrine
