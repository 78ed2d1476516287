#include "beacons/configuration/KSBeaconFirmwareUpdateLegacyOperation.h"

#include <fmt/format.h>

#include "beacons/api/KSApiClient.h"
#include "beacons/api/KSApiPath.h"
#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconUpdateDownloads.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSStreamDataCommand.h"
#include "beacons/model/KSBeacon.h"
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

}  // namespace

std::shared_ptr<KSBeaconFirmwareUpdateLegacyOperation> KSBeaconFirmwareUpdateLegacyOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier,
    std::shared_ptr<KSApiClient> client) {
  return std::make_shared<KSBeaconFirmwareUpdateLegacyOperation>(Token{}, std::move(beacon),
                                                                 std::move(peripheralIdentifier), std::move(client));
}

std::shared_ptr<KSBeaconOperation> KSBeaconFirmwareUpdateLegacyOperation::makeDuplicate() const {
  return initWithBeacon(beacon(), std::nullopt, client_);
}

void KSBeaconFirmwareUpdateLegacyOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  reportStatus("Downloading");
  auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(me());
  client_->GET(
      KSApiPath("beaconModels/%@/firmware/%@", {beacon()->modelNumber().value_or(""), "latest"}),
      Value(platform::Dict{}),
      [self](const KSApiClient::Task&, const Value& reply) {
        self->onQueue([reply](KSBeaconFirmwareUpdateOperation& base) {
          auto& op = static_cast<KSBeaconFirmwareUpdateLegacyOperation&>(base);
          const Value& firmware = reply["firmware"];
          op.fwDictionary_ = firmware.dict() ? firmware : Value(platform::Dict{});
          const auto version = recordText(op.fwDictionary_, "version");
          if (!version || version->empty()) return op.fail(op.errorWithDescription("The firmware record names no version"));
          auto keep = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(op.me());
          beacon_updates::downloadOTAVersion(
              *op.beacon(), *version, std::nullopt,
              [keep](const Bytes& image) {
                keep->onQueue([image](KSBeaconFirmwareUpdateOperation& b) {
                  static_cast<KSBeaconFirmwareUpdateLegacyOperation&>(b).imageDownloaded(image);
                });
              },
              [keep](const Error& error) {
                keep->onQueue([error](KSBeaconFirmwareUpdateOperation& b) {
                  static_cast<KSBeaconFirmwareUpdateLegacyOperation&>(b).fail(error);
                });
              },
              op.client_);
        });
      },
      [self](const KSApiClient::Task&, const Error& error) {
        self->onQueue([error](KSBeaconFirmwareUpdateOperation& base) {
          static_cast<KSBeaconFirmwareUpdateLegacyOperation&>(base).fail(error);
        });
      });
}

void KSBeaconFirmwareUpdateLegacyOperation::imageDownloaded(const Bytes& image) {
  otaData_ = image;
  const auto digest = platform::crypto::digest(platform::crypto::DigestAlgorithm::SHA1, image);
  const std::string computed = platform::crypto::base64Encode(digest);
  const auto expected = recordText(fwDictionary_, "otaFileHash");
  platform::Log::info(kLog, "Digest is {} expected fw digest is {}", computed, expected.value_or("(null)"));
  // A wrong image is never written: the beacon is not even connected.
  if (computed != expected) {
    return fail(errorWithDescription(
        fmt::format("FW digest {} did not match expected {}", computed, expected.value_or("(null)"))));
  }
  connect();
}


void KSBeaconFirmwareUpdateLegacyOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  kestrineLoginAndDiscoverCharacteristics(
      {KSCharacteristicUUIDStringControl, KSCharacteristicUUIDStringGravy}, [weak](const auto&) {
        auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(weak.lock());
        if (!self || self->isOperationTerminated()) return;
        auto& found = self->discoveredCharacteristics();
        self->control_ = characteristicFor(found, KSCharacteristicUUIDStringControl);
        self->gravy_ = characteristicFor(found, KSCharacteristicUUIDStringGravy);
        if (!self->control_ || !self->gravy_) {
          return self->fail(self->errorWithDescription(std::string(KSFirmwareUpdateMissingCharacteristicsMessage)));
        }
        self->writeOpcodes();
      });
}

void KSBeaconFirmwareUpdateLegacyOperation::writeOpcodes() {
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto next = [weak](auto step) {
    return [weak, step] {
      auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(weak.lock());
      if (self && !self->isOperationTerminated()) step(*self);
    };
  };
  auto goDFU = next([next](KSBeaconFirmwareUpdateLegacyOperation& op) {
    op.writeOpcode(KSBeaconOpcodeGoDFU, std::nullopt, op.control_, next([](KSBeaconFirmwareUpdateLegacyOperation& me) {
                     me.disconnect();
                     me.afterReboot();
                   }));
  });
  auto stream = [weak, goDFU](KSBeaconFirmwareUpdateLegacyOperation& op) {
    op.reportStatus("Updating");
    auto command = KSStreamDataCommand::create(op.peripheral(), op.scheduler(), op.queue(), op.currentService(),
                                               op.gravy_, op.otaData_, kStreamDelayMilliseconds);
    command->setProgressBlock([weak](const std::shared_ptr<KSPeripheralCommand>&, float progress) {
      auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(weak.lock());
      if (self && !self->isOperationTerminated()) self->reportProgress(progress);
    });
    command->setCompletionBlock([weak, goDFU](const std::shared_ptr<KSPeripheralCommand>&,
                                              const std::optional<Error>& error) {
      auto self = std::static_pointer_cast<KSBeaconFirmwareUpdateLegacyOperation>(weak.lock());
      if (!self || self->isOperationTerminated()) return;
      if (error) return self->fail(*error);
      goDFU();
    });
    op.runCommand(command);
  };
  auto erasePointer = next([next, stream](KSBeaconFirmwareUpdateLegacyOperation& op) {
    op.writeOpcode(KSBeaconOpcodeErasePointer, std::nullopt, op.control_, next(stream));
  });
  auto eraseBlock1 = next([next, erasePointer](KSBeaconFirmwareUpdateLegacyOperation& op) {
    op.writeOpcode(KSBeaconOpcodeEraseBlock1, std::nullopt, op.control_, erasePointer);
  });
  auto eraseBlock0 = next([eraseBlock1](KSBeaconFirmwareUpdateLegacyOperation& op) {
    op.writeOpcode(KSBeaconOpcodeEraseBlock0, std::nullopt, op.control_, eraseBlock1);
  });
  writeOpcode(KSBeaconOpcodePowerOn, std::nullopt, control_, eraseBlock0);
}

}  // namespace velmora::kestrine
