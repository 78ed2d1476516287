#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"

#include <utility>

#include <fmt/format.h>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/api/KSRecordApi.h"
#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconUpdateDownloads.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/model/KSAdDataConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/ranging/KSApiServiceAdapters.h"
#include "platform/core/BytesDescription.h"
#include "platform/core/Log.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Digest.h"

namespace velmora::kestrine {
namespace {

using platform::Bytes;
using platform::Error;
using platform::Value;

constexpr std::string_view kLog = "firmware-update";
constexpr float kStreamDelayMilliseconds = 20;
constexpr double kStatusPollSeconds = 1.0;

std::string statusText(const Bytes& status) {
  return platform::crypto::base64Encode(status, platform::crypto::Base64Lines::Length64);
}

}  // namespace

std::shared_ptr<KSBeaconFirmwareUpdateOperation> KSBeaconFirmwareUpdateOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
    std::optional<std::string> targetFwVersion, std::shared_ptr<KSApiClient> client) {
  return std::make_shared<KSBeaconFirmwareUpdateOperation>(Token{}, std::move(beacon), std::move(peripheralIdentifier),
                                                           std::move(targetFwVersion), std::move(client));
}

KSBeaconFirmwareUpdateOperation::KSBeaconFirmwareUpdateOperation(Token, std::shared_ptr<KSBeacon> beacon,
                                                                 std::optional<platform::Uuid> identifier,
                                                                 std::optional<std::string> targetFwVersion,
                                                                 std::shared_ptr<KSApiClient> client)
    : KSBeaconOperation(std::move(beacon), std::move(identifier)),
      targetFwVersion_(std::move(targetFwVersion)),
      client_(client ? std::move(client) : KSApiClient::sharedApiClient()),
      // The refresh after the update reaches the registry's hub, so the new record lands in
      // its cache.
      records_(std::make_shared<KSRecordApi>(client_,
                                             KSApiOperationManagerPortsForRegistry(KSInstanceProvider::sharedProvider()))) {}

KSBeaconFirmwareUpdateOperation::~KSBeaconFirmwareUpdateOperation() { stopStatusTimer(); }

std::shared_ptr<KSBeaconOperation> KSBeaconFirmwareUpdateOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, targetFwVersion_, client_);
}

double KSBeaconFirmwareUpdateOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing: return 30;
    case KSBeaconOperationStateConnected: return 450;
    case KSBeaconOperationStateDisconnecting: return 60;
    default: return KSBeaconOperation::timeoutInSecondsForOperationState(state);
  }
}

std::optional<std::string> KSBeaconFirmwareUpdateOperation::recordText(const Value& record, std::string_view key) {
  const Value& v = record[key];
  if (!v.string()) return std::nullopt;
  return *v.string();
}

std::uint64_t KSBeaconFirmwareUpdateOperation::recordFeatureBitmask(const Value& record) {
  const Value& v = record["featureBitmask"];
  if (v.kind() != Value::Kind::Int && v.kind() != Value::Kind::UInt) return 0;
  return v.toUInt64().value_or(0);
}

std::optional<KSBeaconFirmwareUpdateOperation::FutureSettings> KSBeaconFirmwareUpdateOperation::cutFutureSettings(
    const Bytes& blob) {
  if (blob.size() < 33 || blob.size() - 32 > KSFirmwareFutureSettingsMaxBulk) return std::nullopt;
  FutureSettings out;
  out.iv.assign(blob.begin(), blob.begin() + 16);
  out.bulk.assign(blob.begin() + 16, blob.end() - 16);
  out.mac.assign(blob.end() - 16, blob.end());
  return out;
}

bool KSBeaconFirmwareUpdateOperation::isStatusTimerRunning() const {
  std::lock_guard lock(timerMutex_);
  return statusTimer_ != nullptr;
}

void KSBeaconFirmwareUpdateOperation::stopStatusTimer() {
  std::shared_ptr<KSGCDTimer> timer;
  {
    std::lock_guard lock(timerMutex_);
    timer = std::move(statusTimer_);
    statusTimer_ = nullptr;
  }
  if (timer) timer->invalidate();
}

void KSBeaconFirmwareUpdateOperation::fail(const Error& error) {
  stopStatusTimer();
  failedWithError(error);
}

void KSBeaconFirmwareUpdateOperation::onQueue(std::function<void(KSBeaconFirmwareUpdateOperation&)> work) {
  post([work = std::move(work)](KSBeaconOperation& op) {
    if (op.isOperationTerminated()) return;
    work(static_cast<KSBeaconFirmwareUpdateOperation&>(op));
  });
}

std::shared_ptr<KSPeripheralCommand> KSBeaconFirmwareUpdateOperation::controlWrite(Bytes bytes, std::int64_t blockSize,
                                                                                   Characteristic notify) {
  auto command =
      KSWriteCharacteristicDataCommand::create(peripheral(), queue(), currentService(), control_, std::move(bytes),
                                               std::move(notify));
  command->setWriteDataBlockSize(blockSize);
  return command;
}

// --- connected: status, downloads ---------------------------------------------------------

void KSBeaconFirmwareUpdateOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  kestrineLoginAndDiscoverCharacteristics(
      {KSCharacteristicUUIDStringIndicator, KSCharacteristicUUIDStringControl, KSCharacteristicUUIDStringGravy},
      [weak](const auto&) {
        auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock());
        if (!self || self->isOperationTerminated()) return;
        auto& found = self->discoveredCharacteristics();
        self->notify_ = characteristicFor(found, KSCharacteristicUUIDStringIndicator);
        self->control_ = characteristicFor(found, KSCharacteristicUUIDStringControl);
        self->gravy_ = characteristicFor(found, KSCharacteristicUUIDStringGravy);
        if (!self->notify_ || !self->control_ || !self->gravy_) {
          return self->fail(self->errorWithDescription(std::string(KSFirmwareUpdateMissingCharacteristicsMessage)));
        }
        self->reportStatus("Updating");
        auto command = self->controlWrite(Bytes{0x1D}, 20, self->notify_);
        command->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>& done,
                                           const std::optional<Error>& error) {
          auto me = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock());
          if (!me || me->isOperationTerminated()) return;
          if (error) return me->fail(*error);
          auto write = std::static_pointer_cast<KSWriteCharacteristicDataCommand>(done);
          me->statusReceived(write->notifyCharacteristic() ? write->notifyCharacteristic()->value() : Bytes{});
        });
        self->runCommand(command);
      });
}

void KSBeaconFirmwareUpdateOperation::statusReceived(const Bytes& status) {
  status_ = status;
  std::weak_ptr<KSOperation> weak = weak_from_this();
  startWritingKeepAliveStatus(notify_, control_, [weak] {
    auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock());
    if (self) self->downloadsDone();
  });
  reportStatus("Downloading OTA");
  const auto beaconID = beacon() ? beacon()->beaconID() : std::nullopt;
  if (!beaconID || beaconID->empty()) {
    downloadError_ = errorWithDescription("The beacon has no identifier to ask its firmware for");
    stopWritingKeepAliveStatus();
    return;
  }
  startDownloads(*beaconID);
}

void KSBeaconFirmwareUpdateOperation::startDownloads(const std::string& beaconID) {
  const std::string path = KSApiPath("beacons/%@/firmware/%@", {beaconID, targetFwVersion_.value_or("latest")}) +
                           "?status=" + beacon_updates::escapedStatusQueryValue(status_);
  auto keep = me();
  client_->GET(
      path, Value(platform::Dict{}),
      [keep](const KSApiClient::Task&, const Value& reply) {
        keep->onQueue([reply](KSBeaconFirmwareUpdateOperation& op) {
          const Value& firmware = reply["firmware"];
          op.fwDictionary_ = firmware.dict() ? firmware : Value(platform::Dict{});
          const auto version = recordText(op.fwDictionary_, "version");
          if (!version || version->empty()) {
            op.downloadError_ = op.errorWithDescription("The firmware record names no version");
            op.stopWritingKeepAliveStatus();
            return;
          }
          auto self = op.me();
          beacon_updates::downloadOTAVersion(
              *op.beacon(), *version, op.status_,
              [self](const Bytes& image) {
                self->onQueue([image](KSBeaconFirmwareUpdateOperation& me) {
                  me.otaData_ = image;
                  const auto digest = platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, image);
                  const std::string computed = platform::crypto::base64Encode(digest);
                  const auto expected = recordText(me.fwDictionary_, "otaFileHash");
                  platform::Log::info(kLog, "Digest is {} expected fw digest is {}", computed,
                                      expected.value_or("(null)"));
                  if (computed != expected) {
                    me.downloadError_ = me.errorWithDescription(fmt::format(
                        "FW digest {} did not match expected {}", computed, expected.value_or("(null)")));
                  }
                  me.reportStatus("Downloading Settings");
                  me.requestFutureSettings(recordText(me.fwDictionary_, "version").value_or(""));
                });
              },
              [self](const Error& error) {
                self->onQueue([error](KSBeaconFirmwareUpdateOperation& me) {
                  me.downloadError_ = error;
                  me.stopWritingKeepAliveStatus();
                });
              },
              op.client_);
        });
      },
      [keep](const KSApiClient::Task&, const Error& error) {
        keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) {
          op.downloadError_ = error;
          op.stopWritingKeepAliveStatus();
        });
      });
}

void KSBeaconFirmwareUpdateOperation::requestFutureSettings(const std::string& version) {
  const Value parameters = Value::makeDict({{"firmwareVersion", version}, {"status", statusText(status_)}});
  auto keep = me();
  client_->GET(
      KSApiPath("beacons/%@/versions/latest/futuresettings", {beacon()->beaconID().value_or("")}), parameters,
      [keep](const KSApiClient::Task&, const Value& reply) {
        keep->onQueue([reply](KSBeaconFirmwareUpdateOperation& op) {
          const Value& settings = reply["settings"];
          if (settings.isAbsent() || settings.isNull()) {
            op.iv_.clear();
            op.bulk_.clear();
            op.mac_.clear();
          } else {
            const std::optional<Bytes> blob = settings_blob::decodeSettingsText(settings);
            auto cut = blob ? cutFutureSettings(*blob) : std::nullopt;
            if (!cut) {
              op.downloadError_ =
                  op.errorWithDescription(fmt::format("Settings Data is wrong length {}", platform::describeBytes(blob)));
            } else {
              op.iv_ = std::move(cut->iv);
              op.bulk_ = std::move(cut->bulk);
              op.mac_ = std::move(cut->mac);
              platform::Log::info(kLog, "vect data {} bulk data {} macData {}", platform::describeBytes(op.iv_),
                                  platform::describeBytes(op.bulk_), platform::describeBytes(op.mac_));
            }
          }
          op.settingsReady_ = true;
          op.stopWritingKeepAliveStatus();
        });
      },
      [keep](const KSApiClient::Task&, const Error& error) {
        // The settings step's own error wins over a digest mismatch recorded before it.
        keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) {
          op.downloadError_ = error;
          op.stopWritingKeepAliveStatus();
        });
      });
}

void KSBeaconFirmwareUpdateOperation::downloadsDone() {
  if (isOperationTerminated()) return;
  if (downloadError_) return fail(*downloadError_);
  if (!settingsReady_) return fail(errorWithDescription(std::string(sequenceRequirementMessage())));
  writeFirmwareSequence();
}

// --- the write sequence -------------------------------------------------------------------

void KSBeaconFirmwareUpdateOperation::writeFirmwareSequence() {
  reportStatus("Prepare OTA");
  auto stream = KSStreamDataCommand::create(peripheral(), scheduler(), queue(), currentService(), gravy_, otaData_,
                                            kStreamDelayMilliseconds);
  runWriteSequence(nullptr, controlWrite(Bytes{0x1B}, 20), stream);
}

void KSBeaconFirmwareUpdateOperation::runWriteSequence(const std::shared_ptr<KSPeripheralCommand>& header,
                                                       const std::shared_ptr<KSPeripheralCommand>& prepare,
                                                       const std::shared_ptr<KSPeripheralCommand>& stream) {
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto prepareSettings = controlWrite(Bytes{0x1A, 0x00}, 20);
  Bytes ivBytes{0x15};
  ivBytes.insert(ivBytes.end(), iv_.begin(), iv_.end());
  auto ivWrite = controlWrite(std::move(ivBytes), 17);
  auto bulkWrite = controlWrite(numberedChunks(0x16, bulk_), 18);
  Bytes macBytes{0x17};
  macBytes.insert(macBytes.end(), mac_.begin(), mac_.end());
  auto macWrite = controlWrite(std::move(macBytes), 17);
  auto goDFU = controlWrite(Bytes{0x03}, 20);

  // Each step: on success the status and the next command; on failure the command's error.
  auto chain = [weak](const std::shared_ptr<KSPeripheralCommand>& command,
                      std::function<void(KSBeaconFirmwareUpdateOperation&)> next) {
    command->setCompletionBlock([weak, next = std::move(next)](const std::shared_ptr<KSPeripheralCommand>&,
                                                               const std::optional<Error>& error) {
      auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock());
      if (!self || self->isOperationTerminated()) return;
      if (error) return self->fail(*error);
      next(*self);
    });
  };
  const bool withSettings = !bulk_.empty();
  chain(prepare, [prepareSettings, stream, withSettings](KSBeaconFirmwareUpdateOperation& op) {
    if (withSettings) {
      op.reportStatus("Perpare Future Settings");
      op.runCommand(prepareSettings);
    } else {
      op.reportStatus("Firmware Write");
      op.runCommand(stream);
    }
  });
  chain(prepareSettings, [ivWrite](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Init Vector");
    op.runCommand(ivWrite);
  });
  chain(ivWrite, [bulkWrite](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Bulk Data");
    op.runCommand(bulkWrite);
  });
  chain(bulkWrite, [macWrite](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Mac Write");
    op.runCommand(macWrite);
  });
  chain(macWrite, [stream](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Firmware Write");
    op.runCommand(stream);
  });
  stream->setProgressBlock([weak](const std::shared_ptr<KSPeripheralCommand>&, float progress) {
    auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock());
    if (self && !self->isOperationTerminated()) self->reportProgress(progress);
  });
  chain(stream, [goDFU](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Go DFU");
    op.runCommand(goDFU);
  });
  chain(goDFU, [](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Waiting for Status");
    op.disconnect();
    op.afterReboot();
  });
  if (!header) return runCommand(prepare);
  chain(header, [prepare](KSBeaconFirmwareUpdateOperation& op) {
    op.reportStatus("Prepare OTA");
    op.runCommand(prepare);
  });
  runCommand(header);
}

Bytes KSBeaconFirmwareUpdateOperation::numberedChunks(std::uint8_t opcode, const Bytes& data) {
  Bytes out;
  for (std::size_t at = 0, chunk = 0; at < data.size(); at += 16, ++chunk) {
    out.push_back(opcode);
    out.push_back(static_cast<std::uint8_t>(chunk));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), at + 16)));
  }
  return out;
}

// --- after the reboot ---------------------------------------------------------------------

void KSBeaconFirmwareUpdateOperation::afterReboot() {
  if ((recordFeatureBitmask(fwDictionary_) & KSFirmwareFeatureStatusSupported) == 0) {
    return confirmFirmwareUpdateLegacy();
  }
  reportStatus("Waiting For Status");
  // Only a status advertised after the reboot counts.
  beacon()->removeAdDataForAdDataTypeKey(KSAdDataTypeEncryptedStatusKey);
  startStatusPoll();
}

void KSBeaconFirmwareUpdateOperation::startStatusPoll() {
  auto timer = KSGCDTimer::initWithDispatchQueue(queue(), KSGCDTimerDefaultLeeway, std::nullopt, scheduler());
  std::weak_ptr<KSOperation> weak = weak_from_this();
  timer->scheduleBlock(
      [weak] {
        if (auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateOperation>(weak.lock())) self->checkStatus();
      },
      kStatusPollSeconds, true);
  {
    std::lock_guard lock(timerMutex_);
    statusTimer_ = std::move(timer);
  }
  // An ending on another thread (a host's cancel) may have come before the timer was kept.
  if (isOperationTerminated()) stopStatusTimer();
}

void KSBeaconFirmwareUpdateOperation::checkStatus() {
  // The ending stopped the poll already; a tick queued just before it does nothing.
  if (isOperationTerminated()) return stopStatusTimer();
  static constexpr std::string_view kTypes[] = {KSAdDataTypeEncryptedStatusKey};
  const Value status = beacon()->objectFromLatestAdDataForKey(KSAdDataEncryptedStatusKey, kTypes);
  const Bytes* bytes = status.bytes();
  if (!bytes || bytes->empty()) return;
  stopStatusTimer();
  confirmWithEncryptedStatusData(*bytes);
}

void KSBeaconFirmwareUpdateOperation::confirmWithEncryptedStatusData(const Bytes& status) {
  reportStatus("Confirming");
  auto keep = me();
  client_->PUT(
      KSBeaconConfigurationCloud::statusConfirmationPath(beacon()->beaconID().value_or(""), status),
      Value(platform::Dict{}),
      [keep](const KSApiClient::Task&, const Value&) {
        keep->onQueue([](KSBeaconFirmwareUpdateOperation& op) { op.refreshAndSucceed(); });
      },
      [keep](const KSApiClient::Task&, const Error& error) {
        keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) { op.fail(error); });
      });
}

void KSBeaconFirmwareUpdateOperation::confirmFirmwareUpdateLegacy() {
  reportStatus("Confirming");
  auto keep = me();
  const std::string version = recordText(fwDictionary_, "version").value_or("");
  auto client = client_;
  records_->getLatestBeacon(
      beacon(),
      [keep, client, version](std::shared_ptr<KSBeacon> latest) {
        // Sent even when the operation has ended meanwhile: the beacon runs the new firmware.
        std::string id = latest ? latest->beaconID().value_or("") : "";
        // A latest record without an id confirms under the beacon's own.
        if (id.empty()) id = keep->beacon()->beaconID().value_or("");
        client->PUT(
            KSApiPath("beacons/%@/firmware/%@/confirm", {id, version}), Value(),
            [keep](const KSApiClient::Task&, const Value&) {
              keep->onQueue([](KSBeaconFirmwareUpdateOperation& op) { op.refreshAndSucceed(); });
            },
            [keep](const KSApiClient::Task&, const Error& error) {
              keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) { op.fail(error); });
            });
      },
      [keep](const Error& error) {
        keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) { op.fail(error); });
      });
}

void KSBeaconFirmwareUpdateOperation::refreshAndSucceed() {
  auto keep = me();
  records_->refreshBeacon(
      beacon(),
      [keep] {
        keep->onQueue([](KSBeaconFirmwareUpdateOperation& op) {
          op.stopStatusTimer();
          op.succeeded();
        });
      },
      [keep](const Error& error) {
        keep->onQueue([error](KSBeaconFirmwareUpdateOperation& op) { op.fail(error); });
      });
}

}  // namespace velmora::kestrine
