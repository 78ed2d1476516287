#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"

namespace velmora::kestrine {

// The header a numbered chunk byte can count (256 chunks of 16) and the body a 16-bit record
// number can count (65,536 records of 16).
inline constexpr std::size_t KSFirmwareHeaderMaxLength = 4096;
inline constexpr std::size_t KSFirmwareBodyMaxLength = 1'048'576;

// The firmware update of beacons that take protected images: the cloud's HEX reply is cut at
// its "Firmware-Header-Length" into a header, written to Control as numbered chunks
// (1F i + 16 bytes), and a body, streamed to Gravy as numbered records ([k BE16] + 16 bytes)
// from 5 ms apart, slowed by 3 ms up to 30 ms at each rewind the beacon asks for. Prepare
// OTA waits for the beacon's notification. There is no firmware record and no digest; the
// status the rebooted beacon advertises is always awaited, after all stored advertisement
// data was cleared.
class KSBeaconFirmwareEncryptedUpdateOperation final : public KSBeaconFirmwareUpdateOperation {
 public:
  static std::shared_ptr<KSBeaconFirmwareEncryptedUpdateOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
      std::optional<std::string> targetFwVersion, std::shared_ptr<KSApiClient> client = nullptr);

  std::string_view className() const override { return "KSBeaconFirmwareEncryptedUpdateOperation"; }
  const platform::Bytes& headerData() const { return header_; }
  const platform::Bytes& hexData() const { return hex_; }

  // The header length of a HEX reply of `replyLength` bytes: 0 without the header; nullopt
  // unless it is a decimal integer from 0 to the reply's length.
  static std::optional<std::size_t> headerLength(const std::optional<std::string>& field, std::size_t replyLength);
  // The stream's payload: every 16-byte piece of the body behind its number.
  static platform::Bytes records(const platform::Bytes& body);

  KSBeaconFirmwareEncryptedUpdateOperation(Token token, std::shared_ptr<KSBeacon> beacon,
                                           std::optional<platform::Uuid> identifier,
                                           std::optional<std::string> targetFwVersion,
                                           std::shared_ptr<KSApiClient> client)
      : KSBeaconFirmwareUpdateOperation(token, std::move(beacon), std::move(identifier), std::move(targetFwVersion),
                                        std::move(client)) {}

 private:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;
  void startDownloads(const std::string& beaconID) override;
  std::string_view sequenceRequirementMessage() const override {
    return "OTA Requires Future Settings and HEX Data and Header Data";
  }
  void writeFirmwareSequence() override;
  void afterReboot() override;

  platform::Bytes header_;
  platform::Bytes hex_;
};

}  // namespace velmora::kestrine
