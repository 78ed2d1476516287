#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"

#include <fmt/format.h>

#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSEncryptedSettingsBlob.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "platform/core/BytesDescription.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

namespace {

template <class T>
std::shared_ptr<T> lockAs(const std::weak_ptr<KSOperation>& weak) {
  return std::static_pointer_cast<T>(weak.lock());
}

}  // namespace

std::shared_ptr<KSBeaconSettingsUpdateOperation> KSBeaconSettingsUpdateOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier) {
  return std::make_shared<KSBeaconSettingsUpdateOperation>(Token{}, std::move(beacon), std::move(peripheralIdentifier));
}

std::shared_ptr<KSBeaconOperation> KSBeaconSettingsUpdateOperation::makeDuplicate() const {
  auto copy = initWithBeacon(beacon(), std::nullopt);
  copy->cloud_ = cloud_;
  return copy;
}

std::shared_ptr<KSSettingsCloud> KSBeaconSettingsUpdateOperation::cloud() const {
  return cloud_ ? cloud_ : KSSettingsCloud::shared();
}

double KSBeaconSettingsUpdateOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing:
    case KSBeaconOperationStateConnected: return 30;
    case KSBeaconOperationStateDisconnecting: return 60;
    default: return KSBeaconOperation::timeoutInSecondsForOperationState(state);
  }
}

void KSBeaconSettingsUpdateOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  kestrineLoginAndDiscoverCharacteristics(
      {KSCharacteristicUUIDStringControl, KSCharacteristicUUIDStringGravy, KSCharacteristicUUIDStringIndicator},
      [weak](const auto&) {
        auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak);
        if (!self) return;
        self->notify_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringIndicator);
        self->control_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
        if (!self->notify_ || !self->control_) {
          return self->failedWithErrorDescription("Settings Update Requires Notify, Control Characteristic");
        }
        self->reportStatus("Updating");
        auto command = self->writeCommand(Bytes{0x1D}, 20, true);
        command->setCompletionBlock([weak](const std::shared_ptr<KSPeripheralCommand>&, const std::optional<Error>& error) {
          auto me = lockAs<KSBeaconSettingsUpdateOperation>(weak);
          if (!me || me->isOperationTerminated()) return;
          if (error) return me->failedWithError(*error);
          // The Indicator value the request was answered with is the status block.
          me->statusReceived(me->notify_->value());
        });
        self->runCommand(command);
      });
}

std::shared_ptr<KSPeripheralCommand> KSBeaconSettingsUpdateOperation::writeCommand(Bytes data, std::int64_t blockSize,
                                                                                   bool waitForNotify) {
  auto command = KSWriteCharacteristicDataCommand::create(peripheral(), queue(), currentService(), control_,
                                                          std::move(data), waitForNotify ? notify_ : nullptr);
  command->setWriteDataBlockSize(blockSize);
  return command;
}

void KSBeaconSettingsUpdateOperation::statusReceived(const Bytes& status) {
  std::weak_ptr<KSOperation> weak = weak_from_this();
  startWritingKeepAliveStatus(notify_, control_, [weak] {
    auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak);
    if (!self || self->isOperationTerminated()) return;
    if (self->keptError_) return self->failedWithError(*self->keptError_);
    self->writeSettingsSequence();
  });
  reportStatus("Downloading Settings");
  cloud()->getLatestSettings(
      beacon(), status,
      [weak](const platform::Value& reply) {
        if (auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak)) {
          self->post([reply](KSBeaconOperation& op) {
            static_cast<KSBeaconSettingsUpdateOperation&>(op).settingsReceived(reply);
          });
        }
      },
      [weak](const Error& error) {
        if (auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak)) {
          self->post([error](KSBeaconOperation& op) {
            if (op.isOperationTerminated()) return;
            static_cast<KSBeaconSettingsUpdateOperation&>(op).keptError_ = error;
            op.stopWritingKeepAliveStatus();
          });
        }
      });
}

std::optional<KSEncryptedSettingsBlob> KSBeaconSettingsUpdateOperation::blobFromSettingsReply(const platform::Value& reply,
                                                                                             std::string* error) {
  const std::optional<Bytes> decoded = settings_blob::decodeSettingsText(reply["settings"]);
  // A blob too short to hold its pieces, or with more bulk than one-byte chunk numbers reach.
  auto blob = settings_blob::split(decoded);
  if (!blob && error) *error = settings_blob::wrongLengthMessage(decoded);
  return blob;
}

std::optional<std::string> KSBeaconSettingsUpdateOperation::failureForFinalNotification(const Bytes& value) {
  if (value.size() == 16) return std::nullopt;
  if (value.size() == 2) {
    const long code = (static_cast<long>(value[0]) << 8) | value[1];
    if (code == 4) return std::string("Settings Format Error");
    return fmt::format("Notify Response {}", code);
  }
  return "Notify data not recognized " + platform::describeBytes(value);
}

void KSBeaconSettingsUpdateOperation::settingsReceived(const platform::Value& reply) {
  if (isOperationTerminated()) return;
  std::string message;
  if (auto blob = blobFromSettingsReply(reply, &message)) {
    initialVector_ = std::move(blob->initialVector);
    bulk_ = std::move(blob->bulk);
    mac_ = std::move(blob->mac);
  } else {
    keptError_ = errorWithDescription(std::move(message));
  }
  stopWritingKeepAliveStatus();
}

void KSBeaconSettingsUpdateOperation::writeSettingsSequence() {
  auto vector = writeCommand(settings_blob::prefixed(settings_blob::kVectorOpcode, initialVector_),
                             settings_blob::kVectorBlockSize, false);
  auto bulk = writeCommand(settings_blob::chunked(bulk_, settings_blob::kEncryptedChunkOpcode),
                           settings_blob::kChunkBlockSize, false);
  auto mac = writeCommand(settings_blob::prefixed(settings_blob::kMacOpcode, mac_), settings_blob::kVectorBlockSize,
                          true);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto step = [weak](std::function<void(KSBeaconSettingsUpdateOperation&, const std::shared_ptr<KSPeripheralCommand>&)> next) {
    return [weak, next](const std::shared_ptr<KSPeripheralCommand>& done, const std::optional<Error>& error) {
      auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak);
      if (!self || self->isOperationTerminated()) return;
      if (error) return self->failedWithError(*error);
      next(*self, done);
    };
  };
  mac->setCompletionBlock(step([](KSBeaconSettingsUpdateOperation& self, const auto&) {
    self.macWritten(self.notify_->value());
  }));
  bulk->setCompletionBlock(step([mac](KSBeaconSettingsUpdateOperation& self, const auto&) {
    self.reportStatus("Mac Write");
    self.runCommand(mac);
  }));
  vector->setCompletionBlock(step([bulk](KSBeaconSettingsUpdateOperation& self, const auto&) {
    self.reportStatus("Bulk Data");
    self.runCommand(bulk);
  }));
  reportStatus("Init Vector");
  runCommand(vector);
}

void KSBeaconSettingsUpdateOperation::macWritten(const Bytes& value) {
  disconnect();
  reportStatus("Notified");
  if (auto failure = failureForFinalNotification(value)) return failedWithErrorDescription(std::move(*failure));
  confirmWithEncryptedStatusData(value);
}

void KSBeaconSettingsUpdateOperation::confirmWithEncryptedStatusData(const Bytes& result) {
  reportStatus("Confirming");
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto cloud = this->cloud();
  cloud->confirmSettings(
      beacon(), result,
      [weak, cloud] {
        cloud->forceSyncBeaconRegions();
        auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak);
        if (!self) return;
        self->post([weak, cloud](KSBeaconOperation& op) {
          if (op.isOperationTerminated()) return;
          cloud->refreshBeacon(
              op.beacon(),
              [weak] {
                if (auto me = lockAs<KSBeaconSettingsUpdateOperation>(weak)) {
                  me->post([](KSBeaconOperation& o) { o.succeeded(); });
                }
              },
              [weak](const Error& error) {
                if (auto me = lockAs<KSBeaconSettingsUpdateOperation>(weak)) {
                  me->post([error](KSBeaconOperation& o) { o.failedWithError(error); });
                }
              });
        });
      },
      [weak, cloud](const Error& error) {
        // The beacon took the settings even if the cloud did not hear of it: its regions may
        // have changed all the same.
        cloud->forceSyncBeaconRegions();
        if (auto self = lockAs<KSBeaconSettingsUpdateOperation>(weak)) {
          self->post([error](KSBeaconOperation& o) { o.failedWithError(error); });
        }
      });
}

}  // namespace velmora::kestrine
