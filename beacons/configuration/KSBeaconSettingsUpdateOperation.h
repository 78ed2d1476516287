#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"

namespace velmora::kestrine {

class KSSettingsCloud;

// Writes the settings version the beacon cloud prepares and encrypts: asks the beacon for its
// status block (1D on Control, answered on Indicator), keeps the link alive with 1D while the
// cloud answers the block with a blob (IV, encrypted bulk, MAC), streams the pieces to Control
// (15 + IV, 16 i + chunk …, 17 + MAC), hands the beacon's 16-byte result back to the cloud,
// forces a region sync and refreshes the beacon's record. Never retried.
class KSBeaconSettingsUpdateOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconSettingsUpdateOperation> initWithBeacon(std::shared_ptr<KSBeacon> beacon,
                                                                         std::optional<platform::Uuid> peripheralIdentifier);

  std::string_view className() const override { return "KSBeaconSettingsUpdateOperation"; }
  std::int64_t maxNumberOfRetries() const override { return 0; }
  double timeoutInSecondsForOperationState(std::int32_t state) const override;
  void connected() override;

  // The cloud calls go through this (the shared one unless set before scheduling).
  void setCloud(std::shared_ptr<KSSettingsCloud> cloud) { cloud_ = std::move(cloud); }

  // The blob of a settings reply ("settings", base64), or nullopt with the wrong-length
  // message when it is missing, not base64, too short or too long to number.
  static std::optional<KSEncryptedSettingsBlob> blobFromSettingsReply(const platform::Value& reply,
                                                                             std::string* error = nullptr);
  // What the beacon's answer to the MAC means: nullopt for a 16-byte result to confirm,
  // otherwise the failure's text.
  static std::optional<std::string> failureForFinalNotification(const platform::Bytes& value);

  // Read on the configuration queue, or after the end.
  const platform::Bytes& initialVectorData() const { return initialVector_; }
  const platform::Bytes& bulkData() const { return bulk_; }
  const platform::Bytes& macData() const { return mac_; }
  const Characteristic& notifyCharacteristic() const { return notify_; }
  const Characteristic& controlCharacteristic() const { return control_; }

 private:
  struct Token {};

 public:
  KSBeaconSettingsUpdateOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  std::shared_ptr<KSSettingsCloud> cloud() const;
  void statusReceived(const platform::Bytes& status);
  void settingsReceived(const platform::Value& reply);
  void writeSettingsSequence();
  std::shared_ptr<KSPeripheralCommand> writeCommand(platform::Bytes data, std::int64_t blockSize, bool waitForNotify);
  void macWritten(const platform::Bytes& value);
  void confirmWithEncryptedStatusData(const platform::Bytes& result);

  std::shared_ptr<KSSettingsCloud> cloud_;
  platform::Bytes initialVector_, bulk_, mac_;
  Characteristic notify_, control_;
  std::optional<platform::Error> keptError_;  // of the fetch, read by the keep-alive's end
};

}  // namespace velmora::kestrine
