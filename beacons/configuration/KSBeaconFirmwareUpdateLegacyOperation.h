#pragma once

#include <memory>
#include <optional>

#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"

namespace velmora::kestrine {

// The firmware update of the older beacons: always the latest firmware of the beacon's
// model. While Preparing it fetches the model's firmware record and the image (without a
// status) and connects only when the image's SHA-1 matches the record; connected, it writes
// Power On (04), Erase Block 0 (00), Erase Block 1 (01) and Erase Pointer (02) to Control,
// streams the image to Gravy 16 bytes every 20 ms and sends Go DFU (03). The reboot is
// then confirmed as the plain update does, chosen by the record's status bit.
class KSBeaconFirmwareUpdateLegacyOperation final : public KSBeaconFirmwareUpdateOperation {
 public:
  static std::shared_ptr<KSBeaconFirmwareUpdateLegacyOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
      std::shared_ptr<KSApiClient> client = nullptr);

  std::string_view className() const override { return "KSBeaconFirmwareUpdateLegacyOperation"; }
  void prepareForConnection() override;
  void connected() override;

  KSBeaconFirmwareUpdateLegacyOperation(Token token, std::shared_ptr<KSBeacon> beacon,
                                        std::optional<platform::Uuid> identifier, std::shared_ptr<KSApiClient> client)
      : KSBeaconFirmwareUpdateOperation(token, std::move(beacon), std::move(identifier), std::nullopt,
                                        std::move(client)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  void imageDownloaded(const platform::Bytes& image);
  void writeOpcodes();
};

}  // namespace velmora::kestrine
