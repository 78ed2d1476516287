#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSPeripheralCommand.h"
#include "platform/core/Value.h"
#include "platform/crypto/RandomBytes.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconConfigurationCloud;

inline constexpr std::int64_t KSBeaconLoginRefusedCode = 3009;

// Logs the phone in to one of the maker's beacons: discovers the maker's service, reads the
// challenge from Water (and, without a passcode, the status block from Indicator first),
// writes the answer to Milk and reads the verdict from Indicator.
//
// The Water value decides the answer:
// - 4 bytes: the scrambler step of bytes 1-2; success once the write is acknowledged.
// - 8 bytes: AES under the passcode.
// - 5 to 18 bytes, headed (type, length = size - 2, payload): type 0 scrambles the whole
//   value, 1 and 4 the payload, 2 encrypts the payload under the passcode, 3 asks the cloud
//   (with the status block); 0, 1 and 4 post the status block to the cloud first.
// - anything else: the status block is posted and four zero bytes are scrambled.
// The verdict is the first two Indicator bytes after the write, big-endian: 1 or 3 logged in,
// 2 refused (code 3009), anything else not recognised.
//
// A passcode answer without a 16-byte passcode fails before writing (3009: a retry cannot
// help). The status post runs beside the login; nothing waits for it.
class KSBeaconLoginCommand final : public KSPeripheralCommand {
 public:
  static constexpr std::string_view kErrorDomain = "com.kestrine.KSBeaconAuthLoginCommand";
  static constexpr std::string_view kClassErrorDomain = "com.kestrine.KSBeaconLoginCommand";

  static std::shared_ptr<KSBeaconLoginCommand> create(std::shared_ptr<KSBeacon> beacon,
                                                      std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                                                      std::shared_ptr<platform::dispatch::Queue> queue,
                                                      std::optional<platform::Bytes> passcode = std::nullopt);

  // Set before execute. The cloud defaults to the shared one; the random source to the
  // system's.
  void setCharacteristicsToDiscover(std::vector<platform::bluetooth::BluetoothUUID> uuids) {
    characteristicsToDiscover_ = std::move(uuids);
  }
  void setCloud(std::shared_ptr<KSBeaconConfigurationCloud> cloud) { cloud_ = std::move(cloud); }
  void setRandomSource(std::shared_ptr<platform::crypto::RandomSource> random) { random_ = std::move(random); }

  // Read on the command's queue, or after it finished.
  std::uint16_t loginResult() const { return loginResult_; }
  const Service& kestrineService() const { return kestrineService_; }
  const std::vector<platform::bluetooth::BluetoothUUID>& characteristicsToDiscover() const {
    return characteristicsToDiscover_;
  }
  const KSCharacteristicMap& discoveredCharacteristics() const { return discovered_; }
  const std::shared_ptr<KSPeripheralCommand>& currentCommand() const { return current_; }
  const std::shared_ptr<KSBeacon>& beacon() const { return beacon_; }
  const Characteristic& controlCharacteristic() const { return control_; }
  const Characteristic& waterCharacteristic() const { return water_; }
  const Characteristic& indicateCharacteristic() const { return indicate_; }
  const Characteristic& milkCharacteristic() const { return milk_; }
  const KSCharacteristicMap& extraCharacteristics() const { return extraCharacteristics_; }
  const std::optional<platform::Bytes>& passcode() const { return passcode_; }

  // Errors of the command: the first in the "KSBeaconAuthLoginCommand" domain with code -1,
  // the second in the class's domain with the code given.
  static platform::Error errorWithDescription(std::string_view description);
  static platform::Error errorWithDescription(std::string_view description, std::int64_t code);

  // The answers. Scrambler: a random byte, the step of bytes 1-2 (little-endian) of the
  // value, little-endian, a random byte. Passcode: the first 8 bytes of AES-128-ECB of the
  // value's first 8 bytes zero-padded to a block; nullopt for a passcode that is not 16
  // bytes.
  static platform::Bytes scramblerMilk(const platform::Bytes& value, platform::crypto::RandomSource& random);
  static std::optional<platform::Bytes> passcodeMilk(const platform::Bytes& value, const platform::Bytes& passcode);

  // How a Water value is answered: which answer over which bytes, whether the status block
  // is posted first, or the error it ends in.
  struct WaterPlan {
    enum class Answer { LegacyScrambler, Scrambler, Passcode, Cloud, Invalid } answer = Answer::Invalid;
    platform::Bytes input;
    bool postsStatus = false;
    std::string_view error;
  };
  static WaterPlan planForWater(const platform::Bytes& water);
  // The milk the phone writes for a Water value that it answers itself (nullopt for the
  // cloud's answers, invalid values and a passcode answer without a 16-byte passcode).
  static std::optional<platform::Bytes> milkForWater(const platform::Bytes& water,
                                                     const std::optional<platform::Bytes>& passcode,
                                                     platform::crypto::RandomSource& random);

 private:
  KSBeaconLoginCommand(std::shared_ptr<KSBeacon> beacon, std::shared_ptr<platform::bluetooth::Peripheral> peripheral,
                       std::shared_ptr<platform::dispatch::Queue> queue, std::optional<platform::Bytes> passcode);

  void run() override;
  void didCancel() override;
  std::string_view errorDomain() const override { return kErrorDomain; }

  // Runs a sub-command as the current one; `next` runs on the queue with its outcome while
  // this command is still running.
  void runStep(std::shared_ptr<KSPeripheralCommand> command,
               std::function<void(KSBeaconLoginCommand&, const std::shared_ptr<KSPeripheralCommand>&,
                                  const OptionalError&)>
                   next);
  void discovered(const std::shared_ptr<KSPeripheralCommand>& command);
  void readWater(std::optional<platform::Bytes> status);
  void handleWater(const platform::Bytes& water, const std::optional<platform::Bytes>& status);
  void writeMilkForWaterData(const platform::Bytes& value, bool legacy);
  void writeMilkForPasscodeWaterData(const platform::Bytes& value);
  void writeMilkForWaterData(const platform::Bytes& payload, const platform::Bytes& status);
  void postStatusToApi(const std::optional<platform::Bytes>& status);
  void writeMilk(platform::Bytes milk, bool withVerdict);
  void handleWriteMilkResponse(const platform::Bytes& value);
  std::shared_ptr<KSBeaconConfigurationCloud> cloud();

  const std::shared_ptr<KSBeacon> beacon_;
  const std::optional<platform::Bytes> passcode_;
  std::vector<platform::bluetooth::BluetoothUUID> characteristicsToDiscover_;
  std::shared_ptr<KSBeaconConfigurationCloud> cloud_;
  std::shared_ptr<platform::crypto::RandomSource> random_;
  std::uint16_t loginResult_ = 0;
  Service kestrineService_;
  KSCharacteristicMap discovered_;
  KSCharacteristicMap extraCharacteristics_;
  std::shared_ptr<KSPeripheralCommand> current_;
  Characteristic control_;
  Characteristic water_;
  Characteristic indicate_;
  Characteristic milk_;
};

}  // namespace velmora::kestrine
