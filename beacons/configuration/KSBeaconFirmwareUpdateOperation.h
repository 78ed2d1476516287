#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApiClient;
class KSRecordApi;

inline constexpr std::string_view KSFirmwareUpdateMissingCharacteristicsMessage =
    "Firmware Update Requires Notify, Control and Gravy Characteristic";
// The largest future-settings bulk the one-byte chunk number can count (256 chunks of 16).
inline constexpr std::size_t KSFirmwareFutureSettingsMaxBulk = 4096;
// The firmware bit telling that the updated beacon advertises its status.
inline constexpr std::uint64_t KSFirmwareFeatureStatusSupported = 0x200;

// Replaces a beacon's firmware with the cloud's OTA image: asks the beacon for its status
// block (kept alive with 1D while the cloud is asked), fetches the firmware record, the
// image (checked against the record's SHA-1) and the future settings, writes Prepare OTA,
// the future settings (1A 00, 15 + IV, 16 i + bulk, 17 + MAC) when there are some, streams
// the image to Gravy in 16-byte writes 20 ms apart and sends Go DFU. After the reboot it
// waits, polling once a second on the configuration queue, for the status the beacon
// advertises and confirms it to the cloud; firmware without the status bit is confirmed
// through the beacon's latest cloud record instead. Never retried.
//
// Cloud replies come on the client's completion queue and are handed to the configuration
// queue, where every step runs; a reply that arrives after the operation ended does nothing.
class KSBeaconFirmwareUpdateOperation : public KSBeaconOperation {
 public:
  // A nil version asks the cloud for "latest". Without a client, the shared one.
  static std::shared_ptr<KSBeaconFirmwareUpdateOperation> initWithBeacon(
      std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
      std::optional<std::string> targetFwVersion, std::shared_ptr<KSApiClient> client = nullptr);
  ~KSBeaconFirmwareUpdateOperation() override;

  std::string_view className() const override { return "KSBeaconFirmwareUpdateOperation"; }
  std::int64_t maxNumberOfRetries() const override { return 0; }
  double timeoutInSecondsForOperationState(std::int32_t state) const override;
  void connected() override;

  const std::optional<std::string>& targetFwVersion() const { return targetFwVersion_; }
  // Read on the configuration queue (or once the operation ended).
  const platform::Value& fwDictionary() const { return fwDictionary_; }
  const platform::Bytes& otaData() const { return otaData_; }
  const platform::Bytes& initialVectorData() const { return iv_; }
  const platform::Bytes& bulkData() const { return bulk_; }
  const platform::Bytes& macData() const { return mac_; }
  bool isStatusTimerRunning() const;

  // The record's "version" and "otaFileHash" when they are text, its "featureBitmask" when it
  // is a number (0 otherwise): any other kind reads as absent.
  static std::optional<std::string> recordText(const platform::Value& record, std::string_view key);
  static std::uint64_t recordFeatureBitmask(const platform::Value& record);
  // Cuts a future-settings blob into IV, bulk and MAC; nullopt when it is shorter than 33
  // bytes or its bulk could not be numbered.
  struct FutureSettings {
    platform::Bytes iv, bulk, mac;
  };
  static std::optional<FutureSettings> cutFutureSettings(const platform::Bytes& blob);

 protected:
  struct Token {};

 public:
  KSBeaconFirmwareUpdateOperation(Token, std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> identifier,
                                  std::optional<std::string> targetFwVersion, std::shared_ptr<KSApiClient> client);

 protected:
  std::shared_ptr<KSBeaconOperation> makeDuplicate() const override;

  std::shared_ptr<KSBeaconFirmwareUpdateOperation> me() {
    return std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(shared_from_this());
  }
  // Every ending stops the status poll at once, a timeout of a timed state included.
  void operationWillEnd() override { stopStatusTimer(); }
  // Ends with the error (the poll stops as the operation ends).
  void fail(const platform::Error& error);
  // Runs on the configuration queue unless the operation has ended by then.
  void onQueue(std::function<void(KSBeaconFirmwareUpdateOperation&)> work);

  void statusReceived(const platform::Bytes& status);
  // The downloads after the status block: the firmware record, the image, then the future
  // settings; each ends by stopping the keep-alive, with downloadError_ set on a failure.
  virtual void startDownloads(const std::string& beaconID);
  void requestFutureSettings(const std::string& firmwareVersion);
  void downloadsDone();
  virtual std::string_view sequenceRequirementMessage() const { return "OTA Requires Future Settings and OTA Data"; }
  virtual void writeFirmwareSequence();
  // From the header write (when there is one) or Prepare OTA to Go DFU and the reboot.
  void runWriteSequence(const std::shared_ptr<KSPeripheralCommand>& header,
                        const std::shared_ptr<KSPeripheralCommand>& prepare,
                        const std::shared_ptr<KSPeripheralCommand>& stream);
  // opcode, chunk number, up to 16 bytes; one byte of number per chunk.
  static platform::Bytes numberedChunks(std::uint8_t opcode, const platform::Bytes& data);
  virtual void afterReboot();
  void startStatusPoll();
  void checkStatus();
  void confirmWithEncryptedStatusData(const platform::Bytes& status);
  void confirmFirmwareUpdateLegacy();
  void refreshAndSucceed();
  void stopStatusTimer();

  std::shared_ptr<KSPeripheralCommand> controlWrite(platform::Bytes bytes, std::int64_t blockSize,
                                                    Characteristic notify = nullptr);

  const std::optional<std::string> targetFwVersion_;
  const std::shared_ptr<KSApiClient> client_;
  const std::shared_ptr<KSRecordApi> records_;
  Characteristic notify_, control_, gravy_;
  platform::Bytes status_;
  platform::Value fwDictionary_;
  platform::Bytes otaData_, iv_, bulk_, mac_;
  bool settingsReady_ = false;
  std::optional<platform::Error> downloadError_;
  mutable std::mutex timerMutex_;
  std::shared_ptr<KSGCDTimer> statusTimer_;
};

}  // namespace velmora::kestrine
