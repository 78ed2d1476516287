#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "beacons/bluetooth/KSCentralManagerClientPorts.h"
#include "beacons/configuration/KSBeaconOperation.h"
#include "beacons/foundation/KSOperationQueue.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconConfigurationCloud;
class KSCentralManagerClient;

inline constexpr std::string_view KSBeaconOperationQueueLabel = "com.kestrine.beaconOperations";
inline constexpr std::string_view KSBeaconOperationUnexpectedDisconnectMessage = "Unexpected disconnect from peripheral";
inline constexpr std::string_view KSBeaconOperationPeripheralBusyMessage =
    "Peripheral is busy with another beacon operation";

// The location client's switch of beacon-region monitoring, which the manager turns off
// while a beacon holds a connection.
class KSBeaconRegionMonitoringSwitch {
 public:
  virtual ~KSBeaconRegionMonitoringSwitch() = default;
  virtual bool isBeaconRegionMonitoringEnabled() = 0;
  virtual void setBeaconRegionMonitoringEnabled(bool enabled) = 0;
};

// Runs beacon operations one at a time and is the delegate of each: it turns peripheral
// identifiers into peripherals, opens and closes connections through the central client,
// routes the central's connection events to the operation they concern, keeps operations
// aside while their beacon's peripheral is unknown, decides about retries and makes the
// final report. Beacon-region monitoring is off while operations run.
//
// Threads: every entry point may be called from any thread; the work runs on the manager's
// configuration queue ("com.kestrine.beaconOperations"), which it gives to its operations.
// The registrations and the pending list stay under the manager's lock, never held while it
// calls out.
//
// Through the central client, an operation arrives as its caller holds it: one of this
// layer's operations (a host app's own, such as the Eddystone settings read, runs like the
// SDK's), or the handle the hub keeps around one made by the operation factory.
class KSBeaconOperationManager final : public KSBeaconOperationDelegate,
                                       public KSBeaconOperationManaging,
                                       public std::enable_shared_from_this<KSBeaconOperationManager> {
 public:
  static std::shared_ptr<KSBeaconOperationManager> create(std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                          std::shared_ptr<KSBeaconRegionMonitoringSwitch> monitoring);
  ~KSBeaconOperationManager() override;

  // The client made with this manager as its operation port.
  void setCentralManagerClient(std::weak_ptr<KSCentralManagerClient> client) override;
  // The cloud its operations' logins ask, given to each operation scheduled without one;
  // none: the shared one.
  void setConfigurationCloud(std::shared_ptr<KSBeaconConfigurationCloud> cloud);

  void scheduleBeaconOperation(const std::shared_ptr<KSBeaconOperation>& operation);
  // Any operation class, without a detour through the central client's port.
  template <class Operation, class = std::enable_if_t<std::is_base_of_v<KSBeaconOperation, Operation>>>
  void scheduleBeaconOperation(const std::shared_ptr<Operation>& operation) {
    scheduleBeaconOperation(std::shared_ptr<KSBeaconOperation>(operation));
  }
  void didUpdatePeripheralIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon) override;

  bool isOperationExecutingForPeripheralIdentifier(const platform::Uuid& identifier) const;
  bool needsBeaconRegionMonitoringAndPeripheralScanningDisabled() const;
  std::vector<std::shared_ptr<KSBeaconOperation>> pendingBeaconOperations() const;
  const std::shared_ptr<KSOperationQueue>& beaconOperationQueue() const { return operations_; }
  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return queue_; }

  // --- the central client's port
  // An operation of another class than this layer's is logged and ignored.
  void scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& operation) override;
  void centralManagerDidConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral) override;
  void centralManagerDidFailToConnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral,
                                                const std::optional<platform::Error>& error) override;
  void centralManagerDidDisconnectPeripheral(const std::shared_ptr<platform::bluetooth::Peripheral>& peripheral,
                                             const std::optional<platform::Error>& error) override;

  // --- operation delegate
  bool operationShouldStart(const std::shared_ptr<KSOperation>& operation) override;
  // A cancelled operation leaves the pending list.
  void operationDidCancel(const std::shared_ptr<KSOperation>& operation) override;
  void operationDidFinish(const std::shared_ptr<KSOperation>& operation) override;
  Peripheral operationPeripheralForIdentifier(const Operation& operation,
                                              const std::optional<platform::Uuid>& identifier) override;
  void operationNeedsCentralManagerToConnectPeripheral(const Operation& operation, const Peripheral& peripheral) override;
  void operationCentralManagerCanDisconnectPeripheral(const Operation& operation, const Peripheral& peripheral) override;
  void operationDidSucceed(const Operation& operation) override;
  void operationDidFailWithError(const Operation& operation, const platform::Error& error) override;
  void operationDidTimeout(const Operation& operation) override;

 private:
  struct Token {};

 public:
  KSBeaconOperationManager(Token, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                           std::shared_ptr<KSBeaconRegionMonitoringSwitch> monitoring);

 private:
  void post(std::function<void(KSBeaconOperationManager&)> work);
  void scheduleNow(const std::shared_ptr<KSBeaconOperation>& operation);
  void identifierChanged(const std::shared_ptr<KSBeacon>& beacon);
  void connectedEvent(const Peripheral& peripheral);
  void failedToConnectEvent(const Peripheral& peripheral, const std::optional<platform::Error>& error);
  void disconnectedEvent(const Peripheral& peripheral, const std::optional<platform::Error>& error);
  void cancelPeripheralConnectionForBeaconOperation(const Operation& operation);
  void restartScanServices();
  // Removes the registration under the identifier when it is this operation's.
  Operation takeRegistered(const platform::Uuid& identifier);
  void unregister(const Operation& operation);
  std::shared_ptr<KSCentralManagerClient> client() const;
  // Under mutex_: the first pending operation of the very same beacon object.
  Operation pendingForBeaconLocked(const std::shared_ptr<KSBeacon>& beacon) const;

  const std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  const std::shared_ptr<platform::dispatch::Queue> queue_;
  const std::shared_ptr<KSOperationQueue> operations_;
  const std::shared_ptr<KSBeaconRegionMonitoringSwitch> monitoring_;

  mutable std::mutex mutex_;
  std::weak_ptr<KSCentralManagerClient> client_;
  std::shared_ptr<KSBeaconConfigurationCloud> cloud_;
  std::map<platform::Uuid, Operation> registered_;
  std::vector<Operation> pending_;
  bool disabledBeaconRegionMonitoring_ = false;
};

}  // namespace velmora::kestrine
