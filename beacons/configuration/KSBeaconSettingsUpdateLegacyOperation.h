#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"

namespace velmora::kestrine {

class KSBeaconVersion;
class KSSettingsCloud;

// Writes the latest settings version in plain form to a beacon with the legacy settings
// update: fetches the version record in Preparing, connects, writes the three version lines
// to Control (0D …, 0E + UUID, 0F + version), confirms the version to the cloud, forces a
// region sync and refreshes the beacon's record. Retried up to 4 times, each from the fetch.
class KSBeaconSettingsUpdateLegacyOperation final : public KSBeaconOperation {
 public:
  static std::shared_ptr<KSBeaconSettingsUpdateLegacyOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier);

  std::string_view className() const override { return "KSBeaconSettingsUpdateLegacyOperation"; }
  std::int64_t maxNumberOfRetries() const override { return 4; }
  double timeoutInSecondsForOperationState(std::int32_t state) const override;
  void prepareForConnection() override;
  void connected() override;

  void setCloud(std::shared_ptr<KSSettingsCloud> cloud) { cloud_ = std::move(cloud); }
  // Read on the configuration queue, or after the end.
  const std::shared_ptr<KSBeaconVersion>& beaconVersion() const { return beaconVersion_; }

 private:
  struct Token {};

 public:
  KSBeaconSettingsUpdateLegacyOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier)
      : KSBeaconOperation(std::move(beacon), std::move(identifier)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  std::shared_ptr<KSSettingsCloud> cloud() const;
  void confirmUpdateWithVersion(std::int64_t version);

  std::shared_ptr<KSSettingsCloud> cloud_;
  std::shared_ptr<KSBeaconVersion> beaconVersion_;
  Characteristic control_;
};

}  // namespace velmora::kestrine
