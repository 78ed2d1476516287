#include "beacons/configuration/KSBeaconOperation.h"

#include "beacons/configuration/KSBeaconConfigurationCloud.h"
#include "beacons/configuration/KSBeaconLoginCommand.h"
#include "beacons/configuration/KSBeaconLoginEddystoneCommand.h"
#include "beacons/configuration/KSCharacteristicDataCommands.h"
#include "beacons/configuration/KSServiceDiscoveryCommands.h"
#include "beacons/configuration/KSStreamFileDataCommand.h"
#include "beacons/foundation/KSConstants.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconMode.h"
#include "platform/core/Log.h"
#include "platform/crypto/Digest.h"

namespace velmora::kestrine {

using platform::Error;

namespace {

constexpr std::string_view kLog = "kestrine.beaconOperation";

bool isTimedState(std::int32_t state) {
  return (state >= KSBeaconOperationStatePreparing && state <= KSBeaconOperationStateDisconnecting) ||
         state == KSBeaconOperationStateWaiting;
}

}  // namespace

std::string_view stringForBeaconOperationState(std::int32_t state) {
  switch (state) {
    case KSBeaconOperationStateUnknown: return "Unknown";
    case KSBeaconOperationStateScheduled: return "Scheduled";
    case KSBeaconOperationStatePreparing: return "Preparing";
    case KSBeaconOperationStateConnecting: return "Connecting";
    case KSBeaconOperationStateConnected: return "Connected";
    case KSBeaconOperationStateDisconnecting: return "Disconnecting";
    case KSBeaconOperationStateSucceeded: return "Succeeded";
    case KSBeaconOperationStateFailed: return "Failed";
    case KSBeaconOperationStateCanceled: return "Canceled";
    case KSBeaconOperationStateWaiting: return "Waiting";
    default: return "Not Defined";
  }
}

KSBeaconOperation::KSBeaconOperation(std::shared_ptr<KSBeacon> beacon, std::optional<platform::Uuid> peripheralIdentifier)
    : beacon_(std::move(beacon)), peripheralIdentifier_(std::move(peripheralIdentifier)) {}

KSBeaconOperation::~KSBeaconOperation() {
  if (timer_) timer_->invalidate();
}

std::shared_ptr<KSSchedulableBeaconOperation> KSBeaconOperation::operationToSchedule() {
  return std::static_pointer_cast<KSBeaconOperation>(shared_from_this());
}

std::optional<platform::Uuid> KSBeaconOperation::peripheralIdentifier() const {
  std::lock_guard lock(mutex_);
  return peripheralIdentifier_;
}

void KSBeaconOperation::setPeripheralIdentifier(std::optional<platform::Uuid> identifier) {
  std::lock_guard lock(mutex_);
  peripheralIdentifier_ = std::move(identifier);
}

KSBeaconOperation::Peripheral KSBeaconOperation::peripheral() const {
  std::lock_guard lock(mutex_);
  return peripheral_;
}

std::shared_ptr<KSPeripheralCommand> KSBeaconOperation::peripheralCommand() const {
  std::lock_guard lock(mutex_);
  return command_;
}

void KSBeaconOperation::setQueue(std::shared_ptr<platform::dispatch::Queue> queue,
                                 std::shared_ptr<platform::dispatch::Scheduler> scheduler) {
  queue_ = std::move(queue);
  scheduler_ = std::move(scheduler);
}

void KSBeaconOperation::setConfigurationCloud(std::shared_ptr<KSBeaconConfigurationCloud> cloud) {
  std::lock_guard lock(mutex_);
  cloud_ = std::move(cloud);
}

std::shared_ptr<KSBeaconConfigurationCloud> KSBeaconOperation::configurationCloud() const {
  std::lock_guard lock(mutex_);
  return cloud_;
}

std::shared_ptr<KSBeaconOperationDelegate> KSBeaconOperation::beaconDelegate() const {
  return std::dynamic_pointer_cast<KSBeaconOperationDelegate>(delegate());
}

// --- callbacks

void KSBeaconOperation::setBeaconOperationCompletionBlockWithSuccess(SuccessBlock success, FailureBlock failure) {
  setBeaconOperationCompletionBlock([success = std::move(success), failure = std::move(failure)](
                                        const std::shared_ptr<KSBeaconOperation>& operation,
                                        const std::optional<Error>& error) {
    if (error) {
      if (failure) failure(operation, *error);
    } else if (success) {
      success(operation);
    }
  });
}

void KSBeaconOperation::setBeaconOperationCompletionBlock(CompletionBlock block) {
  std::lock_guard lock(mutex_);
  completion_ = std::move(block);
}

void KSBeaconOperation::setBeaconOperationProgressBlock(ProgressBlock block) {
  std::lock_guard lock(mutex_);
  progress_ = std::move(block);
}

void KSBeaconOperation::setBeaconOperationStatusBlock(StatusBlock block) {
  std::lock_guard lock(mutex_);
  status_ = std::move(block);
}

bool KSBeaconOperation::hasCompletionBlock() const {
  std::lock_guard lock(mutex_);
  return completion_ != nullptr;
}

void KSBeaconOperation::reportCompletion(const std::optional<Error>& error) {
  CompletionBlock block;
  {
    std::lock_guard lock(mutex_);
    block = std::move(completion_);
    completion_ = nullptr;
  }
  // A job the host cancelled reports nothing, whichever of its attempts gets here.
  if (block && !isJobCancelled()) block(self(), error);
}

void KSBeaconOperation::reportProgress(float progress) {
  ProgressBlock block;
  {
    std::lock_guard lock(mutex_);
    block = progress_;
  }
  if (block) block(self(), progress);
}

void KSBeaconOperation::reportStatus(const std::string& text) {
  StatusBlock block;
  {
    std::lock_guard lock(mutex_);
    block = status_;
  }
  if (block) block(self(), text);
}

// --- states and the timer

void KSBeaconOperation::setBeaconOperationState(std::int32_t state) {
  std::lock_guard guard(stateLock_);
  state_.store(state, std::memory_order_release);
  reportStatus(std::string(stringForBeaconOperationState(state)));
  if (isTimedState(state)) startTimeoutTimerForOperationState(state);
}

double KSBeaconOperation::timeIntervalWaitingForNewPeripheralForMode(std::int64_t modeID) const {
  return modeID == KSBeaconModeIDSecure ? 5 : 11;
}

double KSBeaconOperation::timeoutInSecondsForOperationState(std::int32_t state) const {
  switch (state) {
    case KSBeaconOperationStatePreparing: return 10;
    case KSBeaconOperationStateConnecting: return 5;
    case KSBeaconOperationStateConnected: return 10;
    case KSBeaconOperationStateDisconnecting: return 10;
    case KSBeaconOperationStateWaiting: {
      const auto mode = beacon_ ? beacon_->beaconMode() : nullptr;
      return timeIntervalWaitingForNewPeripheralForMode(mode ? mode->beaconModeID() : 0);
    }
    default: return 15;
  }
}

void KSBeaconOperation::startTimeoutTimerForOperationState(std::int32_t state) {
  invalidateTimer();
  if (!queue_) return;  // not given to a manager yet: nothing to time
  auto timer = KSGCDTimer::initWithDispatchQueue(queue_, KSGCDTimerDefaultLeeway, std::nullopt, scheduler_);
  std::weak_ptr<KSOperation> weakSelf = weak_from_this();
  std::weak_ptr<KSGCDTimer> weakTimer = timer;
  timer->scheduleBlock(
      [weakSelf, weakTimer] {
        auto self = std::static_pointer_cast<KSBeaconOperation>(weakSelf.lock());
        auto timer = weakTimer.lock();
        if (self && timer) self->operationDidTimeout(timer);
      },
      timeoutInSecondsForOperationState(state));
  std::lock_guard lock(mutex_);
  timer_ = std::move(timer);
}

void KSBeaconOperation::invalidateTimer() {
  std::shared_ptr<KSGCDTimer> timer;
  {
    std::lock_guard lock(mutex_);
    timer = std::move(timer_);
    timer_ = nullptr;
  }
  if (timer) timer->invalidate();
}

void KSBeaconOperation::operationDidTimeout(const std::shared_ptr<KSGCDTimer>& timer) {
  {
    std::lock_guard lock(mutex_);
    if (timer_ != timer) return;  // replaced by the timer of a later state
  }
  if (isOperationTerminated()) return;
  if (beaconOperationState() == KSBeaconOperationStateConnected) didTimeoutWhenConnected_.store(true);
  if (auto delegate = beaconDelegate()) delegate->operationDidTimeout(self());
  failedWithErrorDescription(std::string(KSBeaconOperationTimeoutMessage));
}

// --- lifecycle

bool KSBeaconOperation::doOperation() {
  post([](KSBeaconOperation& operation) {
    // Cancelled or replaced while it waited for its turn: it never connects.
    if (operation.isOperationTerminated()) return;
    operation.prepareForConnection();
  });
  return true;
}

void KSBeaconOperation::post(std::function<void(KSBeaconOperation&)> work) {
  if (!queue_) {
    work(*this);
    return;
  }
  std::weak_ptr<KSOperation> weak = weak_from_this();
  queue_->async([weak, work = std::move(work)] {
    if (auto self = std::static_pointer_cast<KSBeaconOperation>(weak.lock())) work(*self);
  });
}

void KSBeaconOperation::prepareForConnection() {
  setBeaconOperationState(KSBeaconOperationStatePreparing);
  connect();
}

void KSBeaconOperation::connect() {
  auto delegate = beaconDelegate();
  Peripheral found = delegate ? delegate->operationPeripheralForIdentifier(self(), peripheralIdentifier()) : nullptr;
  {
    std::lock_guard lock(mutex_);
    peripheral_ = found;
  }
  if (!found) return failedWithErrorDescription(std::string(KSBeaconOperationPeripheralNilMessage));
  setBeaconOperationState(KSBeaconOperationStateConnecting);
  delegate->operationNeedsCentralManagerToConnectPeripheral(self(), found);
}

void KSBeaconOperation::connected() {
  didConnect_.store(true);
  setBeaconOperationState(KSBeaconOperationStateConnected);
}

void KSBeaconOperation::disconnect() {
  setBeaconOperationState(KSBeaconOperationStateDisconnecting);
  if (auto delegate = beaconDelegate()) delegate->operationCentralManagerCanDisconnectPeripheral(self(), peripheral());
}

void KSBeaconOperation::rediscoverPeripheralIfConnected() {
  if (!didConnect_.load() || !beacon_) return;
  // The beacon is heard again under whatever identifier the platform gives it next; the
  // hub's cached record is reset too when the job runs on a copy of it.
  beacon_->needsToRediscoverPeripheral();
}

void KSBeaconOperation::cancelCommand() {
  if (auto command = peripheralCommand()) command->cancel();
}

void KSBeaconOperation::succeeded() {
  if (isOperationTerminated()) return;
  rediscoverPeripheralIfConnected();
  setBeaconOperationState(KSBeaconOperationStateSucceeded);
  operationWillEnd();
  if (auto delegate = beaconDelegate()) delegate->operationDidSucceed(self());
  invalidateTimer();
  finish();
}

void KSBeaconOperation::failedWithError(const Error& error) {
  if (isOperationTerminated()) return;
  platform::Log::info(kLog, "{} failed: {}", className(), error.localizedDescription);
  rediscoverPeripheralIfConnected();
  setBeaconOperationState(KSBeaconOperationStateFailed);
  operationWillEnd();
  // Before the delegate: a wait the manager starts now keeps its timer.
  invalidateTimer();
  if (auto delegate = beaconDelegate()) delegate->operationDidFailWithError(self(), error);
  cancelCommand();
  finish();
}

void KSBeaconOperation::failedWithErrorDescription(std::string description) {
  failedWithError(errorWithDescription(std::move(description)));
}

void KSBeaconOperation::failedWithoutRetry(const Error& error) {
  if (isOperationTerminated()) return;
  rediscoverPeripheralIfConnected();
  setBeaconOperationState(KSBeaconOperationStateFailed);
  operationWillEnd();
  invalidateTimer();
  cancelCommand();
  reportCompletion(error);
  finish();
}

bool KSBeaconOperation::isJobCancelled() const {
  std::lock_guard lock(job_->mutex);
  return job_->cancelled;
}

void KSBeaconOperation::cancel() {
  auto keep = self();
  std::shared_ptr<KSBeaconOperation> latest;
  {
    std::lock_guard lock(job_->mutex);
    job_->cancelled = true;
    latest = std::static_pointer_cast<KSBeaconOperation>(job_->latest.lock());
  }
  cancelAttempt();
  // A retry made from this attempt (before or while the cancel ran) ends with it.
  if (latest && latest != keep) latest->cancelAttempt();
}

void KSBeaconOperation::cancelAttempt() {
  auto keep = self();
  if (isOperationTerminated()) return;
  const std::int32_t was = beaconOperationState();
  rediscoverPeripheralIfConnected();
  setBeaconOperationState(KSBeaconOperationStateCanceled);
  operationWillEnd();
  {
    std::lock_guard lock(mutex_);
    completion_ = nullptr;
    progress_ = nullptr;
    status_ = nullptr;
  }
  invalidateTimer();
  cancelCommand();
  // A link that is up is given back, so the beacon is free for the next job.
  auto delegate = beaconDelegate();
  if (was == KSBeaconOperationStateConnected || was == KSBeaconOperationStateDisconnecting) {
    if (delegate) delegate->operationCentralManagerCanDisconnectPeripheral(keep, peripheral());
  }
  // The manager lets go of it (a waiting operation leaves its pending list).
  if (delegate) delegate->operationDidCancel(keep);
  finish();
}

void KSBeaconOperation::waitForPeripheralIdentifier() {
  if (beaconOperationState() == KSBeaconOperationStateCanceled || isJobCancelled()) return;
  didWaitForPeripheral_.store(true);
  setBeaconOperationState(KSBeaconOperationStateWaiting);
}

bool KSBeaconOperation::isOperationTerminated() const {
  const std::int32_t s = beaconOperationState();
  return s == KSBeaconOperationStateSucceeded || s == KSBeaconOperationStateFailed || s == KSBeaconOperationStateCanceled;
}

bool KSBeaconOperation::shouldRetryOperationWithPeripheralIdentifierUpdate() const {
  const std::int32_t s = beaconOperationState();
  return s == KSBeaconOperationStateUnknown || s == KSBeaconOperationStateScheduled ||
         s == KSBeaconOperationStatePreparing || s == KSBeaconOperationStateConnecting ||
         s == KSBeaconOperationStateWaiting;
}

bool KSBeaconOperation::shouldRetry() const { return retryCount() < maxNumberOfRetries() && !didWaitForPeripheral(); }

std::shared_ptr<KSBeaconOperation> KSBeaconOperation::duplicateForRetry() const {
  auto duplicate = makeDuplicate();
  duplicate->job_ = job_;
  {
    std::lock_guard lock(job_->mutex);
    job_->latest = duplicate;
  }
  if (!didConnect()) duplicate->setPeripheralIdentifier(peripheralIdentifier());
  {
    std::scoped_lock lock(mutex_, duplicate->mutex_);
    duplicate->completion_ = completion_;
    duplicate->progress_ = progress_;
    duplicate->status_ = status_;
  }
  duplicate->retryCount_.store(retryCount());
  duplicate->didWaitForPeripheral_.store(didWaitForPeripheral());
  duplicate->setQueue(queue_, scheduler_);
  duplicate->setConfigurationCloud(configurationCloud());
  return duplicate;
}

// --- steps

void KSBeaconOperation::runCommand(const std::shared_ptr<KSPeripheralCommand>& command) {
  {
    std::lock_guard lock(mutex_);
    command_ = command;
  }
  command->execute();
}

void KSBeaconOperation::runDiscoveringCommand(
    const std::shared_ptr<KSPeripheralCommand>& command,
    std::function<void(KSBeaconOperation&, const std::shared_ptr<KSPeripheralCommand>&)> keep, CommandSuccess success) {
  std::weak_ptr<KSOperation> weak = weak_from_this();
  command->setCompletionBlock([weak, keep = std::move(keep), success = std::move(success)](
                                  const std::shared_ptr<KSPeripheralCommand>& done, const std::optional<Error>& error) {
    auto self = std::static_pointer_cast<KSBeaconOperation>(weak.lock());
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    if (keep) keep(*self, done);
    if (success) success(done);
  });
  runCommand(command);
}

namespace {

std::vector<platform::bluetooth::BluetoothUUID> uuidsOf(const std::vector<std::string_view>& characteristics) {
  std::vector<platform::bluetooth::BluetoothUUID> uuids;
  uuids.reserve(characteristics.size());
  for (auto text : characteristics) uuids.push_back(gattUUID(text));
  return uuids;
}

void merge(KSCharacteristicMap& into, const KSCharacteristicMap& found) {
  for (const auto& [key, c] : found) into[key] = c;
}

}  // namespace

void KSBeaconOperation::discoverKestrineServiceWithSuccess(std::function<void()> success) {
  auto command = KSDiscoverKestrineServiceCommand::create(peripheral(), queue_, {});
  runDiscoveringCommand(
      command,
      [](KSBeaconOperation& self, const std::shared_ptr<KSPeripheralCommand>& done) {
        auto discovery = std::static_pointer_cast<KSDiscoverKestrineServiceCommand>(done);
        self.currentService_ = discovery->kestrineService();
        if (const auto& found = discovery->discoveredCharacteristics()) merge(self.discovered_, *found);
      },
      [success = std::move(success)](const auto&) {
        if (success) success();
      });
}

void KSBeaconOperation::kestrineLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                                                CommandSuccess success) {
  kestrineLogin(characteristics, std::nullopt, std::move(success));
}

void KSBeaconOperation::kestrineLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                                                const platform::Bytes& passcode,
                                                                CommandSuccess success) {
  kestrineLogin(characteristics, passcode, std::move(success));
}

void KSBeaconOperation::kestrineLogin(const std::vector<std::string_view>& characteristics,
                                      std::optional<platform::Bytes> passcode, CommandSuccess success) {
  auto login = KSBeaconLoginCommand::create(beacon_, peripheral(), queue_, std::move(passcode));
  login->setCharacteristicsToDiscover(uuidsOf(characteristics));
  if (auto cloud = configurationCloud()) login->setCloud(std::move(cloud));
  runDiscoveringCommand(
      login,
      [](KSBeaconOperation& self, const std::shared_ptr<KSPeripheralCommand>& done) {
        auto command = std::static_pointer_cast<KSBeaconLoginCommand>(done);
        self.currentService_ = command->kestrineService();
        merge(self.discovered_, command->discoveredCharacteristics());
      },
      std::move(success));
}

void KSBeaconOperation::eddystoneLoginAndDiscoverCharacteristics(const std::vector<std::string_view>& characteristics,
                                                                 const platform::Bytes& passcode,
                                                                 CommandSuccess success) {
  auto login = KSBeaconLoginEddystoneCommand::create(beacon_, peripheral(), queue_, passcode);
  login->setCharacteristicsToDiscover(uuidsOf(characteristics));
  runDiscoveringCommand(
      login,
      [](KSBeaconOperation& self, const std::shared_ptr<KSPeripheralCommand>& done) {
        auto command = std::static_pointer_cast<KSBeaconLoginEddystoneCommand>(done);
        self.currentService_ = command->eddyService();
        merge(self.discovered_, command->discoveredCharacteristics());
      },
      std::move(success));
}

void KSBeaconOperation::writeCharacteristicData(platform::Bytes data, const Characteristic& characteristic,
                                                const Service& service,
                                                std::function<void(const std::shared_ptr<KSPeripheralCommand>&)> success) {
  auto command = KSWriteCharacteristicDataCommand::create(peripheral(), queue_, service, characteristic, std::move(data));
  runDiscoveringCommand(command, nullptr, std::move(success));
}

void KSBeaconOperation::writeOpcode(std::int32_t opcode, const std::optional<platform::Bytes>& data,
                                    const Characteristic& characteristic, std::function<void()> success) {
  platform::Bytes bytes{static_cast<std::uint8_t>(opcode & 0xFF)};
  if (data) bytes.insert(bytes.end(), data->begin(), data->end());
  writeCharacteristicData(std::move(bytes), characteristic, currentService_,
                          [success = std::move(success)](const auto&) {
                            if (success) success();
                          });
}

void KSBeaconOperation::streamFileAtPath(
    const std::string& path, const Characteristic& characteristic, const Service& service, float delayBetweenWrites,
    std::function<void(const std::shared_ptr<KSPeripheralCommand>&, float)> progress,
    std::function<void(const std::shared_ptr<KSPeripheralCommand>&)> success) {
  auto command =
      KSStreamFileDataCommand::create(peripheral(), scheduler_ ? scheduler_ : platform::dispatch::Scheduler::shared(),
                                      queue_, service, characteristic, path, delayBetweenWrites);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  if (progress) {
    command->setProgressBlock([weak, progress = std::move(progress)](const std::shared_ptr<KSPeripheralCommand>& done,
                                                                     float value) {
      auto self = std::static_pointer_cast<KSBeaconOperation>(weak.lock());
      if (self && !self->isOperationTerminated()) progress(done, value);
    });
  }
  runDiscoveringCommand(command, nullptr, std::move(success));
}

void KSBeaconOperation::streamFileAtPath(const std::string& path, const Characteristic& characteristic,
                                         std::function<void()> success, float delayBetweenWrites) {
  std::weak_ptr<KSOperation> weak = weak_from_this();
  streamFileAtPath(
      path, characteristic, currentService_, delayBetweenWrites,
      [weak](const auto&, float value) {
        if (auto self = std::static_pointer_cast<KSBeaconOperation>(weak.lock())) self->reportProgress(value);
      },
      [success = std::move(success)](const auto&) {
        if (success) success();
      });
}

void KSBeaconOperation::startWritingKeepAliveStatus(const Characteristic& status, const Characteristic& control,
                                                    std::function<void()> completion) {
  keepAliveRound(status, control, std::move(completion));
}

void KSBeaconOperation::keepAliveRound(Characteristic status, Characteristic control, std::function<void()> completion) {
  if (shouldStopWritingStatus_.load()) {
    if (completion) completion();
    return;
  }
  auto command = KSWriteCharacteristicDataCommand::create(peripheral(), queue_, currentService_, control,
                                                          platform::Bytes{0x1D}, status);
  std::weak_ptr<KSOperation> weak = weak_from_this();
  command->setCompletionBlock([weak, status, control, completion = std::move(completion)](
                                  const auto&, const std::optional<Error>& error) {
    auto self = std::static_pointer_cast<KSBeaconOperation>(weak.lock());
    if (!self || self->isOperationTerminated()) return;
    if (error) return self->failedWithError(*error);
    self->keepAliveRound(status, control, completion);
  });
  runCommand(command);
}

Error KSBeaconOperation::errorWithDescription(std::string description) const {
  return Error("com.kestrine." + std::string(className()), -1, std::move(description));
}

platform::Bytes KSBeaconOperation::passcodeDataFromPasscodeString(std::string_view passcode) {
  const auto digest = platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, passcode);
  return platform::Bytes(digest.begin(), digest.end());
}

}  // namespace velmora::kestrine
