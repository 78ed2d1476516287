#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSOfflineSettingsData.h"
#include "platform/crypto/RandomBytes.h"

namespace velmora::kestrine {

class KSSettingsCloud;

inline constexpr std::string_view KSEmptyPasscodeMessage = "Empty Passcode String";

// Changes a beacon's settings without the cloud: builds the payload from the host's
// dictionary in Preparing (invalid settings never connect), encrypts it under the digest of
// the current passcode with a fresh IV and signs it, logs in with that passcode and writes it
// to Control: encrypted (15 + IV, 16 i + chunk …, 17 + MAC) or, when the login's verdict is 3,
// plain (18 i + chunk …, the last 19 i). The beacon answers the last write with 16 bytes.
// Retried up to 3 times, each attempt with a new IV.
class KSBeaconSettingsUpdateOfflineOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconSettingsUpdateOfflineOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier, platform::Dict settingForKey);

  std::string_view className() const override { return "KSBeaconSettingsUpdateOfflineOperation"; }
  std::int64_t maxNumberOfRetries() const override { return 3; }
  double timeoutInSecondsForOperationState(std::int32_t state) const override;
  void prepareForConnection() override;
  void connected() override;
  // Each first makes the beacon rediscover its peripheral, then ends the attempt.
  void succeeded() override;
  void failedWithError(const platform::Error& error) override;
  void failedWithoutRetry(const platform::Error& error) override;

  // The login's cloud calls (the shared cloud unless set) and where IVs come from.
  void setCloud(std::shared_ptr<KSSettingsCloud> cloud) { cloud_ = std::move(cloud); }
  void setRandomSource(std::shared_ptr<platform::crypto::RandomSource> random) { random_ = std::move(random); }

  const platform::Dict& settingForKey() const { return settings_; }
  // Read on the configuration queue, or after the end.
  const platform::Bytes& currentPasscodeData() const { return passcode_; }
  const platform::Bytes& unencryptedBulkData() const { return encrypted_.unencrypted; }
  const platform::Bytes& encryptedBulkData() const { return encrypted_.encrypted; }
  const platform::Bytes& initialVectorData() const { return encrypted_.initialVector; }
  const platform::Bytes& macData() const { return encrypted_.mac; }

 private:
  struct Token {};

 public:
  KSBeaconSettingsUpdateOfflineOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                                         platform::Dict settings)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)), settings_(std::move(settings)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  std::shared_ptr<KSPeripheralCommand> writeCommand(platform::Bytes data, std::int64_t blockSize, bool waitForNotify);
  void writeEncryptedSettings();
  void writeUnencryptedSettings();
  void finishWithNotification(bool plain);
  void rediscoverBeacon();

  const platform::Dict settings_;
  std::shared_ptr<KSSettingsCloud> cloud_;
  std::shared_ptr<platform::crypto::RandomSource> random_;
  platform::Bytes passcode_;
  KSOfflineEncryptedSettings encrypted_;
  Characteristic notify_, control_;
};

// The current passcode of a settings dictionary: nullopt when it is missing, not text or empty.
std::optional<std::string> currentPasscodeFromSettings(const platform::Dict& settings);

}  // namespace velmora::kestrine
