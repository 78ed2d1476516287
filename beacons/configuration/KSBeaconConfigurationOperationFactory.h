#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/ranging/KSBeaconOperationFactory.h"

namespace velmora::kestrine {

class KSBeaconConfigurationCloud;
class KSInstanceProvider;

// The operations the hub schedules, each made for the beacon and its peripheral and wrapped
// in a KSBeaconOperationHandle.
class KSBeaconConfigurationOperationFactory final : public KSBeaconOperationFactory {
 public:
  // Installs the makers of this factory (KSBeaconOperationFactory's name) and of the
  // operation manager (KSBeaconOperationManagerSingletonName, over the registry's scheduler
  // and location client). A test that wants fakes installs its own makers afterwards.
  static void installMaker(KSInstanceProvider& provider);

  Ref makeFirmwareEncryptedUpdateOperation(const Beacon&, const Peripheral&, const std::string& targetFwVersion) override;
  Ref makeFirmwareUpdateOperation(const Beacon&, const Peripheral&, const std::string& targetFwVersion) override;
  Ref makeFirmwareUpdateLegacyOperation(const Beacon&, const Peripheral&) override;
  Ref makeSettingsUpdateOperation(const Beacon&, const Peripheral&) override;
  Ref makeSettingsUpdateLegacyOperation(const Beacon&, const Peripheral&) override;
  Ref makeSettingsUpdateOfflineOperation(const Beacon&, const Peripheral&, const platform::Dict& settingForKey) override;
  Ref makeEddystoneConfigOperation(const Beacon&, const Peripheral&, const platform::Dict& settingForKey) override;
  Ref makeDataRequestOperation(const Beacon&, const Peripheral&, const std::vector<platform::Bytes>& requests) override;
  Ref makeTransportDataRequestOperation(const Beacon&, const Peripheral&, const platform::Bytes& request) override;
  Ref makeControlOperation(const Beacon&, const Peripheral&, std::int32_t opcode,
                           const std::optional<platform::Bytes>& data) override;
};

}  // namespace velmora::kestrine
