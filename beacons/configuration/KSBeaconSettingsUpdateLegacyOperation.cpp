#include "beacons/configuration/KSBeaconSettingsUpdateLegacyOperation.h"

#include "beacons/configuration/KSLegacySettingsLines.h"
#include "beacons/configuration/KSSettingsCloud.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconVersion.h"

namespace velmora::kestrine {

using platform::Bytes;
using platform::Error;

namespace {

std::shared_ptr<KSBeaconSettingsUpdateLegacyOperation> lockOp(const std::weak_ptr<KSOperation>& weak) {
  return std::static_pointer_cast<KSBeaconSettingsUpdateLegacyOperation>(weak.lock());
}

}  // namespace

std::shared_ptr<KSBeaconSettingsUpdateLegacyOperation> KSBeaconSettingsUpdateLegacyOperation::initWithBeacon(
    std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier) {
  return std::make_shared<KSBeaconSettingsUpdateLegacyOperation>(Token{}, std::move(beacon),
                                                                 std::move(peripheralIdentifier));
}

std::shared_ptr<KSBeaconOperation> KSBeaconSettingsUpdateLegacyOperation::makeDuplicate() const {
  auto copy = initWithBeacon(beacon(), std::nullopt);
  copy->cloud_ = cloud_;
  return copy;
}

std::shared_ptr<KSSettingsCloud> KSBeaconSettingsUpdateLegacyOperation::cloud() const {
  return cloud_ ? cloud_ : KSSettingsCloud::shared();
}

double KSBeaconSettingsUpdateLegacyOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing: return 30;
    case KSBeaconOperationStateDisconnecting: return 60;
    default: return KSBeaconOperation::timeoutInSecondsForOperationState(state);
  }
}

void KSBeaconSettingsUpdateLegacyOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  cloud()->getLatestVersion(
      beacon(),
      [weak](std::shared_ptr<KSBeaconVersion> version) {
        if (auto self = lockOp(weak)) {
          self->post([version](KSBeaconOperation& op) {
            if (op.isOperationTerminated()) return;
            auto& me = static_cast<KSBeaconSettingsUpdateLegacyOperation&>(op);
            me.beaconVersion_ = version;
            // A UUID that is no UUID would write a line of the wrong length: refuse it here.
            if (!legacy_settings::versionLine2(version->proximityUUIDString())) {
              return me.failedWithErrorDescription("Invalid proximity UUID string");
            }
            me.connect();
          });
        }
      },
      [weak](const Error& error) {
        if (auto self = lockOp(weak)) self->post([error](KSBeaconOperation& op) { op.failedWithError(error); });
      });
}

void KSBeaconSettingsUpdateLegacyOperation::connected() {
  KSBeaconOperation::connected();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  kestrineLoginAndDiscoverCharacteristics(
      {KSCharacteristicUUIDStringMajor, KSCharacteristicUUIDStringMinor, KSCharacteristicUUIDStringControl,
       KSCharacteristicUUIDStringBeaconLoudness, KSCharacteristicUUIDStringMeasuredPower,
       KSCharacteristicUUIDStringProximityUUIDString, KSCharacteristicUUIDStringTargetSpeed,
       KSCharacteristicUUIDStringVersion},
      [weak](const auto&) {
        auto self = lockOp(weak);
        if (!self) return;
        self->control_ = characteristicFor(self->discoveredCharacteristics(), KSCharacteristicUUIDStringControl);
        if (!self->control_) return self->failedWithErrorDescription("Control characteristic missing.");
        self->reportStatus("Updating");
        const auto& version = *self->beaconVersion_;
        const Bytes line1 = legacy_settings::versionLine1(version);
        const Bytes line2 = *legacy_settings::versionLine2(version.proximityUUIDString());
        const Bytes line3 = legacy_settings::versionLine3(version);
        const std::int64_t number = version.version().value_or(0);
        auto data = [](const Bytes& line) { return Bytes(line.begin() + 1, line.end()); };
        self->writeOpcode(line1[0], data(line1), self->control_, [weak, line2, line3, number, data] {
          auto me = lockOp(weak);
          if (!me) return;
          me->writeOpcode(line2[0], data(line2), me->control_, [weak, line3, number, data] {
            auto me2 = lockOp(weak);
            if (!me2) return;
            me2->writeOpcode(line3[0], data(line3), me2->control_, [weak, number] {
              if (auto me3 = lockOp(weak)) me3->confirmUpdateWithVersion(number);
            });
          });
        });
      });
}

void KSBeaconSettingsUpdateLegacyOperation::confirmUpdateWithVersion(std::int64_t version) {
  if (beacon()) beacon()->needsToRediscoverPeripheral();
  disconnect();
  std::weak_ptr<KSOperation> weak = weak_from_this();
  auto cloud = this->cloud();
  cloud->confirmVersion(
      beacon(), version,
      [weak, cloud] {
        cloud->forceSyncBeaconRegions();
        auto self = lockOp(weak);
        if (!self) return;
        self->post([weak, cloud](KSBeaconOperation& op) {
          if (op.isOperationTerminated()) return;
          cloud->refreshBeacon(
              op.beacon(),
              [weak] {
                if (auto me = lockOp(weak)) {
                  me->post([](KSBeaconOperation& o) {
                    if (o.isOperationTerminated()) return;
                    o.reportStatus("Done");
                    o.succeeded();
                  });
                }
              },
              [weak](const Error& error) {
                if (auto me = lockOp(weak)) me->post([error](KSBeaconOperation& o) { o.failedWithError(error); });
              });
        });
      },
      [weak, cloud](const Error& error) {
        cloud->forceSyncBeaconRegions();
        if (auto self = lockOp(weak)) self->post([error](KSBeaconOperation& o) { o.failedWithError(error); });
      });
}

}  // namespace velmora::kestrine
