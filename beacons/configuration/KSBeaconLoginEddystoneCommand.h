#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeacon;

// Unlocks a beacon's Eddystone configuration service: reads Lockstate (00 locked, 01 or 02
// unlocked); a locked beacon's Unlock challenge is answered with AES-128-ECB under the
// 16-byte passcode, then Lockstate is read again. Without a 16-byte passcode a locked
// beacon fails before anything is written ("Passcode Required", 3009).
class KSBeaconLoginEddystoneCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSBeaconLoginEddystoneCommand";

  static std::shared_ptr<KSBeaconLoginEddystoneCommand> create(
      std::shared_ptr<KSBeacon> beacon, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
      std::shared_ptr<platform::dispatch::Queue> queue, std::optional<platform::Bytes> passcode = std::nullopt);

  void setCharacteristicsToDiscover(std::vector<platform::bluetooth::BluetoothUUID> uuids) {
    characteristicsToDiscover_ = std::move(uuids);
  }

  std::uint16_t loginResult() const { return loginResult_; }
  const Service& eddyService() const { return eddyService_; }
  const std::vector<platform::bluetooth::BluetoothUUID>& characteristicsToDiscover() const {
    return characteristicsToDiscover_;
  }
  const KSCharacteristicMap& discoveredCharacteristics() const { return discovered_; }
  const std::shared_ptr<KSPeripheralCommand>& currentCommand() const { return current_; }
  const std::shared_ptr<KSBeacon>& beacon() const { return beacon_; }
  const Characteristic& lockStateCharacteristic() const { return lockState_; }
  const Characteristic& unlockCharacteristic() const { return unlock_; }
  const KSCharacteristicMap& extraCharacteristics() const { return extraCharacteristics_; }
  const std::optional<platform::Bytes>& passcode() const { return passcode_; }

  static platform::Error errorWithDescription(std::string_view description, std::int64_t code);
  // AES-128-ECB of the challenge's first 16 bytes (zero-filled) under the passcode; nullopt
  // for a passcode that is not 16 bytes.
  static std::optional<platform::Bytes> responseForChallenge(const platform::Bytes& challenge,
                                                             const platform::Bytes& passcode);

 private:
  KSBeaconLoginEddystoneCommand(std::shared_ptr<KSBeacon> beacon,
                                std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                std::shared_ptr<platform::dispatch::Queue> queue,
                                std::optional<platform::Bytes> passcode);

  void run() override;
  void didCancel() override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  void runStep(std::shared_ptr<KSPeripheralCommand> command,
               std::function<void(KSBeaconLoginEddystoneCommand&, const std::shared_ptr<KSPeripheralCommand>&,
                                  const OptionalError&)>
                   next);
  void readLockState(bool afterAnswer);
  void writeResponseForChallengeData(const platform::Bytes& challenge);

  const std::shared_ptr<KSBeacon> beacon_;
  const std::optional<platform::Bytes> passcode_;
  std::vector<platform::bluetooth::BluetoothUUID> characteristicsToDiscover_;
  std::uint16_t loginResult_ = 0;
  Service eddyService_;
  KSCharacteristicMap discovered_;
  KSCharacteristicMap extraCharacteristics_;
  std::shared_ptr<KSPeripheralCommand> current_;
  Characteristic lockState_;
  Characteristic unlock_;
};

}  // namespace velmora::kestrine
