#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSSchedulableBeaconOperation.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSBeacon;

// One beacon operation over Bluetooth as the hub sees it: it reports its end, status texts
// and progress through blocks, and carries its responses. The configuration layer's
// handles implement it; it is a platform::Object so a caller's success block receives
// the finished operation as a value, and the hub schedules it through its central client.
class KSBeaconOperationRef : public platform::Object,
                             public KSSchedulableBeaconOperation,
                             public std::enable_shared_from_this<KSBeaconOperationRef> {
 public:
  using Ref = std::shared_ptr<KSBeaconOperationRef>;
  using Success = std::function<void(const Ref&)>;
  using Failure = std::function<void(const Ref&, const platform::Error&)>;
  using Status = std::function<void(const Ref&, const std::string&)>;
  using Progress = std::function<void(const Ref&, double)>;

  // At the end the failure block runs when there is an error, else the success block; both
  // are then dropped.
  virtual void setBeaconOperationCompletionBlockWithSuccess(Success success, Failure failure) = 0;
  virtual void setBeaconOperationStatusBlock(Status status) = 0;
  virtual void setBeaconOperationProgressBlock(Progress progress) = 0;
  // One response per data request; the response of a transport request.
  virtual std::vector<platform::Bytes> responseDataArray() const { return {}; }
  virtual platform::Bytes responseData() const { return {}; }
  // A ref around no operation of the configuration layer has nothing to run.
  std::shared_ptr<KSSchedulableBeaconOperation> operationToSchedule() override { return nullptr; }
};

// Makes the beacon operations of each kind for a cached beacon (or none, for a beacon that
// is not cached) and its peripheral. Found in the registry under kSingletonName.
class KSBeaconOperationFactory {
 public:
  static constexpr std::string_view kSingletonName = "KSBeaconOperationFactory";
  using Ref = KSBeaconOperationRef::Ref;
  using Beacon = std::shared_ptr<KSBeacon>;
  using Peripheral = std::optional<platform::Uuid>;

  virtual ~KSBeaconOperationFactory() = default;
  virtual Ref makeFirmwareEncryptedUpdateOperation(const Beacon&, const Peripheral&, const std::string& targetFwVersion) = 0;
  virtual Ref makeFirmwareUpdateOperation(const Beacon&, const Peripheral&, const std::string& targetFwVersion) = 0;
  virtual Ref makeFirmwareUpdateLegacyOperation(const Beacon&, const Peripheral&) = 0;
  virtual Ref makeSettingsUpdateOperation(const Beacon&, const Peripheral&) = 0;
  virtual Ref makeSettingsUpdateLegacyOperation(const Beacon&, const Peripheral&) = 0;
  virtual Ref makeSettingsUpdateOfflineOperation(const Beacon&, const Peripheral&, const platform::Dict& settingForKey) = 0;
  virtual Ref makeEddystoneConfigOperation(const Beacon&, const Peripheral&, const platform::Dict& settingForKey) = 0;
  virtual Ref makeDataRequestOperation(const Beacon&, const Peripheral&, const std::vector<platform::Bytes>& requests) = 0;
  virtual Ref makeTransportDataRequestOperation(const Beacon&, const Peripheral&, const platform::Bytes& request) = 0;
  virtual Ref makeControlOperation(const Beacon&, const Peripheral&, std::int32_t opcode,
                                   const std::optional<platform::Bytes>& data) = 0;
};

// The registry name of the one-at-a-time operation manager the hub hands its central client
// (a KSBeaconOperationManaging), installed with the factory.
inline constexpr std::string_view KSBeaconOperationManagerSingletonName = "KSBeaconOperationManager";

class KSInstanceProvider;
// Installs the makers of the operation factory and the operation manager in the registry.
// Declared here for the SDK's wiring and defined by the configuration layer, which builds the
// operations.
void KSInstallBeaconOperationMakers(KSInstanceProvider& provider);

inline constexpr std::string_view KSEddyConfigDataSlotDictionaryKey = "KSEddyConfigDataSlotDictionaryKey";
inline constexpr std::uint64_t KSBeaconEndpointSerial = 0;

}  // namespace velmora::kestrine
