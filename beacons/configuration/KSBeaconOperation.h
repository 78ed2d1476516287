#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/bluetooth/KSSchedulableBeaconOperation.h"
#include "beacons/configuration/KSGattIdentifiers.h"
#include "beacons/configuration/KSPeripheralCommand.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "beacons/foundation/KSOperation.h"
#include "platform/bluetooth/Peripheral.h"
#include "platform/core/Error.h"
#include "platform/core/Uuid.h"
#include "platform/core/Value.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

class KSBeacon;
class KSBeaconConfigurationCloud;
class KSBeaconOperation;

enum KSBeaconOperationState : std::int32_t {
  KSBeaconOperationStateUnknown = 0,
  KSBeaconOperationStateScheduled = 1,
  KSBeaconOperationStatePreparing = 2,
  KSBeaconOperationStateConnecting = 3,
  KSBeaconOperationStateConnected = 4,
  KSBeaconOperationStateDisconnecting = 5,
  KSBeaconOperationStateSucceeded = 6,
  KSBeaconOperationStateFailed = 7,
  KSBeaconOperationStateCanceled = 8,
  KSBeaconOperationStateWaiting = 9,
};

// "Scheduled", "Preparing", …; "Not Defined" for any other value.
std::string_view stringForBeaconOperationState(std::int32_t state);

inline constexpr std::string_view KSBeaconOperationTimeoutMessage = "Beacon operation did timeout.";
inline constexpr std::string_view KSBeaconOperationPeripheralNilMessage = "Peripheral is nil";
// The code of a refused login; such a failure is never retried.
inline constexpr std::int64_t KSBeaconOperationLoginFailedCode = 3009;

// The manager of beacon operations as an operation sees it: it resolves peripherals, opens
// and closes connections and decides what a success or a failure means for the caller.
class KSBeaconOperationDelegate : public KSOperationDelegate {
 public:
  using Operation = std::shared_ptr<KSBeaconOperation>;
  using Peripheral = std::shared_ptr<platform::bluetooth::Peripheral>;

  virtual Peripheral operationPeripheralForIdentifier(const Operation& operation,
                                                      const std::optional<platform::Uuid>& identifier) = 0;
  virtual void operationNeedsCentralManagerToConnectPeripheral(const Operation& operation,
                                                               const Peripheral& peripheral) = 0;
  virtual void operationCentralManagerCanDisconnectPeripheral(const Operation& operation,
                                                              const Peripheral& peripheral) = 0;
  virtual void operationDidSucceed(const Operation& operation) = 0;
  virtual void operationDidFailWithError(const Operation& operation, const platform::Error& error) = 0;
  // Told before a state timeout turns into a failure.
  virtual void operationDidTimeout(const Operation& operation) = 0;
};

// One configuration job against one beacon over GATT: wait until the beacon's peripheral is
// known, connect, run a chain of GATT commands, disconnect, and report once. The base owns
// the states with a timeout each, the retry bookkeeping and the caller's callbacks;
// subclasses add their steps in connected() and override a few numbers.
//
// Threads: an operation works on the configuration queue its manager gives it (setQueue):
// doOperation's body, the state timer, the commands, the delegate's connection events and the
// caller's callbacks run there. The state reads atomically from any thread; a state assignment
// and its status callback are serialised by the operation's own recursive lock. cancel() may
// be called from any thread.
class KSBeaconOperation : public KSOperation, public KSSchedulableBeaconOperation {
 public:
  using CompletionBlock = std::function<void(const std::shared_ptr<KSBeaconOperation>&, const std::optional<platform::Error>&)>;
  using SuccessBlock = std::function<void(const std::shared_ptr<KSBeaconOperation>&)>;
  using FailureBlock = std::function<void(const std::shared_ptr<KSBeaconOperation>&, const platform::Error&)>;
  using ProgressBlock = std::function<void(const std::shared_ptr<KSBeaconOperation>&, float)>;
  using StatusBlock = std::function<void(const std::shared_ptr<KSBeaconOperation>&, const std::string&)>;
  using Peripheral = std::shared_ptr<platform::bluetooth::Peripheral>;
  using Service = std::shared_ptr<platform::bluetooth::GattService>;
  using Characteristic = std::shared_ptr<platform::bluetooth::GattCharacteristic>;

  ~KSBeaconOperation() override;

  // Itself: scheduled through the central client, this operation runs.
  std::shared_ptr<KSSchedulableBeaconOperation> operationToSchedule() override;

  // The concrete class's name: errors carry "com.kestrine." followed by it.
  virtual std::string_view className() const = 0;

  // --- the job
  const std::shared_ptr<KSBeacon>& beacon() const { return beacon_; }
  std::optional<platform::Uuid> peripheralIdentifier() const;
  void setPeripheralIdentifier(std::optional<platform::Uuid> identifier);
  std::int32_t beaconOperationState() const { return state_.load(std::memory_order_acquire); }
  // Stores the state, tells the status callback (also when unchanged) and restarts the timer
  // of a timed state.
  void setBeaconOperationState(std::int32_t state);
  Peripheral peripheral() const;
  const Service& currentService() const { return currentService_; }
  std::shared_ptr<KSPeripheralCommand> peripheralCommand() const;
  KSCharacteristicMap& discoveredCharacteristics() { return discovered_; }

  std::int64_t retryCount() const { return retryCount_.load(); }
  void setRetryCount(std::int64_t count) { retryCount_.store(count); }
  bool didWaitForPeripheral() const { return didWaitForPeripheral_.load(); }
  bool didConnect() const { return didConnect_.load(); }
  bool didTimeoutWhenConnected() const { return didTimeoutWhenConnected_.load(); }

  // The configuration queue and the scheduler its timers come from.
  void setQueue(std::shared_ptr<platform::dispatch::Queue> queue,
                std::shared_ptr<platform::dispatch::Scheduler> scheduler);
  const std::shared_ptr<platform::dispatch::Queue>& queue() const { return queue_; }
  const std::shared_ptr<platform::dispatch::Scheduler>& scheduler() const { return scheduler_; }

  std::shared_ptr<KSBeaconOperationDelegate> beaconDelegate() const;

  // The cloud the logins ask (status posts, cloud answers); none: the shared one. Set before
  // the operation starts; duplicates keep it.
  void setConfigurationCloud(std::shared_ptr<KSBeaconConfigurationCloud> cloud);
  std::shared_ptr<KSBeaconConfigurationCloud> configurationCloud() const;

  // --- callbacks
  // Failure when an error is given, success otherwise (a missing one is skipped); the
  // callback clears itself, so the caller hears once.
  void setBeaconOperationCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure);
  void setBeaconOperationCompletionBlock(CompletionBlock block);
  void setBeaconOperationProgressBlock(ProgressBlock block);
  void setBeaconOperationStatusBlock(StatusBlock block);
  bool hasCompletionBlock() const;
  // Calls the completion callback once, when set.
  void reportCompletion(const std::optional<platform::Error>& error);
  void reportProgress(float progress);
  void reportStatus(const std::string& text);

  // --- lifecycle steps
  virtual void prepareForConnection();
  void connect();
  virtual void connected();
  void disconnect();
  // The ends of an attempt. Every path that ends one (a step, a state timeout, the manager's
  // connection events) goes through these, so a subclass that overrides them sees each end.
  virtual void succeeded();
  virtual void failedWithError(const platform::Error& error);
  void failedWithErrorDescription(std::string description);
  // Ends the operation with the error, told to the caller directly: no retry decision.
  virtual void failedWithoutRetry(const platform::Error& error);
  // Stops the job without a report: this attempt and every retry or replacement made from it,
  // also one the manager makes while the cancel runs; none of them reports afterwards. Once
  // connected it also drops the link.
  void cancel() override;
  // Stops this attempt only, without a report, leaving the job to the duplicate that replaces
  // it (the manager's retry after a lost link, a new peripheral identifier). Subclasses that
  // hold work of their own stop it here and call the base.
  virtual void cancelAttempt();
  bool isJobCancelled() const;
  // Waiting for a new peripheral identifier (again, after a put-aside failure); a cancelled
  // operation stays cancelled.
  void waitForPeripheralIdentifier();
  bool isOperationTerminated() const;
  bool shouldRetryOperationWithPeripheralIdentifierUpdate() const;

  // --- retries and timeouts
  virtual std::int64_t maxNumberOfRetries() const { return 0; }
  virtual bool shouldRetry() const;
  // A new operation of the same class for the same job: the caller's callbacks, retryCount,
  // beacon and didWaitForPeripheral, and the peripheral identifier only when this one never
  // connected (after a connection the duplicate waits for the beacon to be heard again).
  std::shared_ptr<KSBeaconOperation> duplicateForRetry() const;
  virtual double timeoutInSecondsForOperationState(std::int32_t state) const;
  double timeIntervalWaitingForNewPeripheralForMode(std::int64_t modeID) const;

  // --- steps for subclasses; a command failure becomes failedWithError with its error
  using CommandSuccess = std::function<void(const std::shared_ptr<KSPeripheralCommand>&)>;
  // Finds the maker's service without logging in (currentService).
  void discoverKestrineServiceWithSuccess(std::function<void()> success);
  // Logs in to the maker's service (KSBeaconLoginCommand, without or with a passcode) while
  // discovering the given characteristics; on success currentService is the maker's service,
  // discoveredCharacteristics holds what was found and `success` gets the login command.
  void kestrineLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                               CommandSuccess success);
  void kestrineLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                               const platform::Bytes& passcode, CommandSuccess success);
  // Unlocks the Eddystone configuration service (KSBeaconLoginEddystoneCommand); on success
  // currentService is that service.
  void eddystoneLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                                const platform::Bytes& passcode, CommandSuccess success);
  void writeCharacteristicData(platform::Bytes data, const Characteristic& characteristic, const Service& service,
                               std::function<void(const std::shared_ptr<KSPeripheralCommand>&)> success);
  // One byte, the opcode's low byte, then the data when present and not empty.
  void writeOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data, const Characteristic& characteristic,
                   std::function<void()> success);
  // Writes 1D to Control and waits for the status notification, round after round, until
  // stopWritingKeepAliveStatus; then the completion. The flag is never cleared.
  // Streams a file into the characteristic (KSStreamFileDataCommand: 16 bytes per write
  // without response, the delay in seconds before each); `progress` hears the command's
  // fractions, `success` the finished command.
  void streamFileAtPath(const std::string& path, const Characteristic& characteristic, const Service& service,
                        float delayBetweenWrites,
                        std::function<void(const std::shared_ptr<KSPeripheralCommand>&, float)> progress,
                        std::function<void(const std::shared_ptr<KSPeripheralCommand>&)> success);
  // The same in currentService, with the command's progress handed to the operation's
  // progress callback.
  void streamFileAtPath(const std::string& path, const Characteristic& characteristic, std::function<void()> success,
                        float delayBetweenWrites);
  void startWritingKeepAliveStatus(const Characteristic& status, const Characteristic& control,
                                   std::function<void()> completion);
  void stopWritingKeepAliveStatus() { shouldStopWritingStatus_.store(true); }

  platform::Error errorWithDescription(std::string description) const;
  static platform::Bytes passcodeDataFromPasscodeString(std::string_view passcode);

 protected:
  KSBeaconOperation(std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier);

  // A fresh operation of the concrete class with its own parameters copied; the base fills
  // in the rest (duplicateForRetry).
  virtual std::shared_ptr<KSBeaconOperation> makeDuplicate() const = 0;
  // Runs on the operation thread: posts the start onto the configuration queue.
  bool doOperation() override;
  // Makes the command the running one and executes it.
  void runCommand(const std::shared_ptr<KSPeripheralCommand>& command);
  std::shared_ptr<KSBeaconOperation> self() { return std::static_pointer_cast<KSBeaconOperation>(shared_from_this()); }
  std::shared_ptr<const KSBeaconOperation> self() const {
    return std::static_pointer_cast<const KSBeaconOperation>(shared_from_this());
  }
  void setCurrentService(Service service) { currentService_ = std::move(service); }
  // Runs work on the configuration queue while the operation lives.
  void post(std::function<void(KSBeaconOperation&)> work);
  // Called once as the operation ends, however it ends (success, failure, a timeout of a
  // timed state, cancel), after the final state is set and before the operation finishes:
  // a subclass stops its own timers here.
  virtual void operationWillEnd() {}

 private:
  void startTimeoutTimerForOperationState(std::int32_t state);
  void invalidateTimer();
  void operationDidTimeout(const std::shared_ptr<KSGCDTimer>& timer);
  void rediscoverPeripheralIfConnected();
  void cancelCommand();
  void keepAliveRound(Characteristic status, Characteristic control, std::function<void()> completion);
  void kestrineLogin(const std::vector<std::string_view>& characteristics, std::optional<platform::Bytes> passcode,
                     CommandSuccess success);
  // The completion of a step's command: fails the operation on an error, else lets `keep`
  // (when given: a discovery or login) keep the service and characteristics, and calls
  // `success` while the operation still runs.
  void runDiscoveringCommand(const std::shared_ptr<KSPeripheralCommand>& command,
                             std::function<void(KSBeaconOperation&, const std::shared_ptr<KSPeripheralCommand>&)> keep,
                             CommandSuccess success);

  // What the attempts of one job share: a host's cancel, and the newest attempt it must reach.
  struct Job {
    std::mutex mutex;
    bool cancelled = false;
    std::weak_ptr<KSOperation> latest;
  };

  const std::shared_ptr<KSBeacon> beacon_;
  std::shared_ptr<Job> job_ = std::make_shared<Job>();
  std::shared_ptr<platform::dispatch::Queue> queue_;
  std::shared_ptr<platform::dispatch::Scheduler> scheduler_;
  std::shared_ptr<KSBeaconConfigurationCloud> cloud_;  // guarded by mutex_

  mutable std::recursive_mutex stateLock_;  // state assignment and the status callback
  std::atomic<std::int32_t> state_{KSBeaconOperationStateUnknown};

  mutable std::mutex mutex_;  // the fields below that other threads read
  std::optional<platform::Uuid> peripheralIdentifier_;
  Peripheral peripheral_;
  std::shared_ptr<KSPeripheralCommand> command_;
  std::shared_ptr<KSGCDTimer> timer_;
  CompletionBlock completion_;
  ProgressBlock progress_;
  StatusBlock status_;

  Service currentService_;
  KSCharacteristicMap discovered_;
  std::atomic<std::int64_t> retryCount_{0};
  std::atomic<bool> didWaitForPeripheral_{false};
  std::atomic<bool> didConnect_{false};
  std::atomic<bool> didTimeoutWhenConnected_{false};
  std::atomic<bool> shouldStopWritingStatus_{false};
};

}  // namespace velmora::kestrine
