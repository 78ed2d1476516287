#include "beacons/configuration/KSBeaconConfigurationOperationFactory.h"

#include "beacons/configuration/KSBeaconControlOperation.h"
#include "beacons/configuration/KSBeaconEddystoneConfigOperation.h"
#include "beacons/configuration/KSBeaconFirmwareEncryptedUpdateOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateLegacyOperation.h"
#include "beacons/configuration/KSBeaconFirmwareUpdateOperation.h"
#include "beacons/configuration/KSBeaconDataRequestOperation.h"
#include "beacons/configuration/KSBeaconOperationHandle.h"
#include "beacons/configuration/KSBeaconOperationManager.h"
#include "beacons/configuration/KSBeaconSettingsUpdateLegacyOperation.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOfflineOperation.h"
#include "beacons/configuration/KSBeaconSettingsUpdateOperation.h"
#include "beacons/configuration/KSBeaconTransportDataRequestOperation.h"
#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/ranging/KSLocationManagerClient.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {

using Ref = KSBeaconOperationFactory::Ref;

Ref handleFor(std::shared_ptr<KSBeaconOperation> operation) { return KSBeaconOperationHandle::wrap(std::move(operation)); }

// An empty target asks the cloud for the latest firmware.
std::optional<std::string> targetVersion(const std::string& target) {
  if (target.empty()) return std::nullopt;
  return target;
}

// The location client's beacon-region monitoring, as the operation manager switches it.
class LocationMonitoringSwitch final : public KSBeaconRegionMonitoringSwitch {
 public:
  explicit LocationMonitoringSwitch(std::weak_ptr<KSLocationManagerClient> client) : client_(std::move(client)) {}
  bool isBeaconRegionMonitoringEnabled() override {
    auto client = client_.lock();
    return client && client->isBeaconRegionMonitoringEnabled();
  }
  void setBeaconRegionMonitoringEnabled(bool enabled) override {
    if (auto client = client_.lock()) client->setBeaconRegionMonitoringEnabled(enabled);
  }

 private:
  const std::weak_ptr<KSLocationManagerClient> client_;
};

}  // namespace

void KSBeaconConfigurationOperationFactory::installMaker(KSInstanceProvider& provider) {
  provider.installMaker<KSBeaconOperationFactory>(
      std::string(KSBeaconOperationFactory::kSingletonName),
      [](KSInstanceProvider&) { return std::make_shared<KSBeaconConfigurationOperationFactory>(); });
  provider.installMaker<KSBeaconOperationManaging>(
      std::string(KSBeaconOperationManagerSingletonName), [](KSInstanceProvider& p) {
        auto scheduler = p.platform().scheduler ? p.platform().scheduler : platform::dispatch::Scheduler::shared();
        auto monitoring = std::make_shared<LocationMonitoringSwitch>(KSLocationManagerClient::sharedClient(p));
        return KSBeaconOperationManager::create(std::move(scheduler), std::move(monitoring));
      });
}

void KSInstallBeaconOperationMakers(KSInstanceProvider& provider) {
  KSBeaconConfigurationOperationFactory::installMaker(provider);
}

// --- the kinds: one line each

Ref KSBeaconConfigurationOperationFactory::makeDataRequestOperation(const Beacon& beacon, const Peripheral& peripheral,
                                                                    const std::vector<platform::Bytes>& requests) {
  return handleFor(KSBeaconDataRequestOperation::initWithBeacon(beacon, peripheral, requests));
}

Ref KSBeaconConfigurationOperationFactory::makeTransportDataRequestOperation(const Beacon& beacon,
                                                                             const Peripheral& peripheral,
                                                                             const platform::Bytes& request) {
  return handleFor(KSBeaconTransportDataRequestOperation::initWithBeacon(beacon, peripheral, request));
}

Ref KSBeaconConfigurationOperationFactory::makeControlOperation(const Beacon& beacon, const Peripheral& peripheral,
                                                                std::int32_t opcode,
                                                                const std::optional<platform::Bytes>& data) {
  return handleFor(KSBeaconControlOperation::initWithBeacon(beacon, peripheral, opcode, data));
}

// The firmware kinds fetch their image from the registry's cloud API client while preparing.
Ref KSBeaconConfigurationOperationFactory::makeFirmwareEncryptedUpdateOperation(const Beacon& beacon,
                                                                                const Peripheral& peripheral,
                                                                                const std::string& targetFwVersion) {
  return handleFor(KSBeaconFirmwareEncryptedUpdateOperation::initWithBeacon(beacon, peripheral, targetVersion(targetFwVersion)));
}
Ref KSBeaconConfigurationOperationFactory::makeFirmwareUpdateOperation(const Beacon& beacon, const Peripheral& peripheral,
                                                                       const std::string& targetFwVersion) {
  return handleFor(
      KSBeaconFirmwareUpdateOperation::initWithBeacon(beacon, peripheral, targetVersion(targetFwVersion)));
}
Ref KSBeaconConfigurationOperationFactory::makeFirmwareUpdateLegacyOperation(const Beacon& beacon,
                                                                             const Peripheral& peripheral) {
  return handleFor(KSBeaconFirmwareUpdateLegacyOperation::initWithBeacon(beacon, peripheral));
}
Ref KSBeaconConfigurationOperationFactory::makeSettingsUpdateOperation(const Beacon& beacon, const Peripheral& peripheral) {
  return handleFor(KSBeaconSettingsUpdateOperation::initWithBeacon(beacon, peripheral));
}
Ref KSBeaconConfigurationOperationFactory::makeSettingsUpdateLegacyOperation(const Beacon& beacon,
                                                                             const Peripheral& peripheral) {
  return handleFor(KSBeaconSettingsUpdateLegacyOperation::initWithBeacon(beacon, peripheral));
}
Ref KSBeaconConfigurationOperationFactory::makeSettingsUpdateOfflineOperation(const Beacon& beacon,
                                                                              const Peripheral& peripheral,
                                                                              const platform::Dict& settingForKey) {
  return handleFor(KSBeaconSettingsUpdateOfflineOperation::initWithBeacon(beacon, peripheral, settingForKey));
}
Ref KSBeaconConfigurationOperationFactory::makeEddystoneConfigOperation(const Beacon& beacon, const Peripheral& peripheral,
                                                                        const platform::Dict& settingForKey) {
  return handleFor(KSBeaconEddystoneConfigOperation::initWithBeacon(beacon, peripheral, settingForKey));
}

}  // namespace velmora::kestrine
