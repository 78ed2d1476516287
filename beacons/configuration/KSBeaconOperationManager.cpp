#include "beacons/configuration/KSBeaconOperationManager.h"

#include <algorithm>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/model/KSBeacon.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Error;

namespace {
constexpr std::string_view kLog = "kestrine.beaconOperationManager";
}

std::shared_ptr<KSBeaconOperationManager> KSBeaconOperationManager::create(
    std::shared_ptr<platform::dispatch::Scheduler> scheduler, std::shared_ptr<KSBeaconRegionMonitoringSwitch> monitoring) {
  return std::make_shared<KSBeaconOperationManager>(Token{}, std::move(scheduler), std::move(monitoring));
}

KSBeaconOperationManager::KSBeaconOperationManager(Token, std::shared_ptr<platform::dispatch::Scheduler> scheduler,
                                                   std::shared_ptr<KSBeaconRegionMonitoringSwitch> monitoring)
    : scheduler_(scheduler ? std::move(scheduler) : platform::dispatch::Scheduler::shared()),
      queue_(scheduler_->makeSerialQueue(std::string(KSBeaconOperationQueueLabel))),
      operations_(KSOperationQueue::create(std::string(KSBeaconOperationQueueLabel), scheduler_)),
      monitoring_(std::move(monitoring)) {
  operations_->setMaxConcurrentOperationCount(1);
}

KSBeaconOperationManager::~KSBeaconOperationManager() = default;

void KSBeaconOperationManager::setCentralManagerClient(std::weak_ptr<KSCentralManagerClient> client) {
  std::lock_guard lock(mutex_);
  client_ = std::move(client);
}

std::shared_ptr<KSCentralManagerClient> KSBeaconOperationManager::client() const {
  std::lock_guard lock(mutex_);
  return client_.lock();
}

void KSBeaconOperationManager::post(std::function<void(KSBeaconOperationManager&)> work) {
  std::weak_ptr<KSBeaconOperationManager> weak = weak_from_this();
  queue_->async([weak, work = std::move(work)] {
    if (auto self = weak.lock()) work(*self);
  });
}

// --- entry points

void KSBeaconOperationManager::scheduleBeaconOperation(const std::shared_ptr<KSSchedulableBeaconOperation>& operation) {
  if (!operation) return;
  auto op = std::dynamic_pointer_cast<KSBeaconOperation>(operation->operationToSchedule());
  if (!op) {
    platform::Log::warning(kLog, "an operation of no beacon-operation class is ignored");
    return;
  }
  scheduleBeaconOperation(op);
}

void KSBeaconOperationManager::scheduleBeaconOperation(const std::shared_ptr<KSBeaconOperation>& operation) {
  if (!operation) return;
  post([operation](KSBeaconOperationManager& self) { self.scheduleNow(operation); });
}

void KSBeaconOperationManager::setConfigurationCloud(std::shared_ptr<KSBeaconConfigurationCloud> cloud) {
  std::lock_guard lock(mutex_);
  cloud_ = std::move(cloud);
}

void KSBeaconOperationManager::scheduleNow(const std::shared_ptr<KSBeaconOperation>& operation) {
  // A retry or replacement of a job the host cancelled meanwhile never runs.
  if (operation->isJobCancelled() || operation->beaconOperationState() == KSBeaconOperationStateCanceled) {
    operation->cancelAttempt();
    return;
  }
  operation->setDelegate(shared_from_this());
  if (!operation->configurationCloud()) {
    std::shared_ptr<KSBeaconConfigurationCloud> cloud;
    {
      std::lock_guard lock(mutex_);
      cloud = cloud_;
    }
    if (cloud) operation->setConfigurationCloud(std::move(cloud));
  }
  operation->setQueue(queue_, scheduler_);
  if (operation->peripheralIdentifier()) {
    operation->setBeaconOperationState(KSBeaconOperationStateScheduled);
    operations_->addOperation(operation);
  } else {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(operation);
    }
    operation->waitForPeripheralIdentifier();
  }
}

void KSBeaconOperationManager::didUpdatePeripheralIdentifierForBeacon(const std::shared_ptr<KSBeacon>& beacon) {
  if (!beacon) return;
  post([beacon](KSBeaconOperationManager& self) { self.identifierChanged(beacon); });
}

void KSBeaconOperationManager::identifierChanged(const std::shared_ptr<KSBeacon>& beacon) {
  Operation found;
  {
    std::lock_guard lock(mutex_);
    found = pendingForBeaconLocked(beacon);
  }
  if (!found) {
    for (const auto& queued : operations_->operations()) {
      auto operation = std::static_pointer_cast<KSBeaconOperation>(queued);
      if (operation->beacon() == beacon) {
        found = operation;
        break;
      }
    }
  }
  // An operation that is connected or over keeps the identifier it has.
  if (!found || !found->shouldRetryOperationWithPeripheralIdentifierUpdate()) return;
  auto duplicate = found->duplicateForRetry();
  duplicate->setPeripheralIdentifier(beacon->peripheralIdentifier());
  {
    std::lock_guard lock(mutex_);
    std::erase(pending_, found);
  }
  found->cancelAttempt();
  scheduleNow(duplicate);
}

// --- queries

bool KSBeaconOperationManager::isOperationExecutingForPeripheralIdentifier(const platform::Uuid& identifier) const {
  std::lock_guard lock(mutex_);
  return registered_.contains(identifier);
}

bool KSBeaconOperationManager::needsBeaconRegionMonitoringAndPeripheralScanningDisabled() const {
  std::lock_guard lock(mutex_);
  return !registered_.empty();
}

std::vector<std::shared_ptr<KSBeaconOperation>> KSBeaconOperationManager::pendingBeaconOperations() const {
  std::lock_guard lock(mutex_);
  return pending_;
}

KSBeaconOperationManager::Operation KSBeaconOperationManager::pendingForBeaconLocked(
    const std::shared_ptr<KSBeacon>& beacon) const {
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Operation& o) { return o->beacon() == beacon; });
  return it == pending_.end() ? nullptr : *it;
}

void KSBeaconOperationManager::restartScanServices() {
  {
    std::lock_guard lock(mutex_);
    if (!registered_.empty() || !disabledBeaconRegionMonitoring_) return;
    disabledBeaconRegionMonitoring_ = false;
  }
  if (monitoring_) monitoring_->setBeaconRegionMonitoringEnabled(true);
}

KSBeaconOperationManager::Operation KSBeaconOperationManager::takeRegistered(const platform::Uuid& identifier) {
  std::lock_guard lock(mutex_);
  auto it = registered_.find(identifier);
  if (it == registered_.end()) return nullptr;
  Operation operation = std::move(it->second);
  registered_.erase(it);
  return operation;
}

void KSBeaconOperationManager::unregister(const Operation& operation) {
  const auto identifier = operation->peripheralIdentifier();
  if (!identifier) return;
  std::lock_guard lock(mutex_);
  // Only its own registration: a refused or replaced operation that shares the identifier
  // must not free the peripheral of the one that runs.
  auto it = registered_.find(*identifier);
  if (it != registered_.end() && it->second == operation) registered_.erase(it);
}

void KSBeaconOperationManager::cancelPeripheralConnectionForBeaconOperation(const Operation& operation) {
  unregister(operation);
  if (auto peripheral = operation->peripheral()) {
    if (auto c = client()) c->cancelPeripheralConnection(peripheral);
  }
}

// --- operation delegate

bool KSBeaconOperationManager::operationShouldStart(const std::shared_ptr<KSOperation>& base) {
  auto operation = std::dynamic_pointer_cast<KSBeaconOperation>(base);
  if (!operation) return false;
  const auto identifier = operation->peripheralIdentifier();
  bool busy = false;
  if (identifier) {
    std::lock_guard lock(mutex_);
    auto it = registered_.find(*identifier);
    // An operation that has ended but not yet let go of its registration holds nothing.
    busy = it != registered_.end() && it->second != operation && !it->second->isOperationTerminated();
    if (!busy) registered_[*identifier] = operation;
  }
  if (busy) {
    platform::Log::info(kLog, "{} refused: its peripheral is busy", operation->className());
    post([operation](KSBeaconOperationManager&) {
      operation->failedWithoutRetry(operation->errorWithDescription(std::string(KSBeaconOperationPeripheralBusyMessage)));
    });
    return false;
  }
  if (monitoring_ && monitoring_->isBeaconRegionMonitoringEnabled()) {
    monitoring_->setBeaconRegionMonitoringEnabled(false);
    std::lock_guard lock(mutex_);
    disabledBeaconRegionMonitoring_ = true;
  }
  return true;
}

void KSBeaconOperationManager::operationDidCancel(const std::shared_ptr<KSOperation>& base) {
  auto operation = std::dynamic_pointer_cast<KSBeaconOperation>(base);
  if (!operation) return;
  // A cancelled operation waits for nothing: left in the list it would take the place of the
  // beacon's next job there, and that job's failure would send it back to Waiting.
  std::lock_guard lock(mutex_);
  std::erase(pending_, operation);
}

void KSBeaconOperationManager::operationDidFinish(const std::shared_ptr<KSOperation>& base) {
  auto operation = std::dynamic_pointer_cast<KSBeaconOperation>(base);
  if (!operation) return;
  unregister(operation);
  // Told while the operation's lock is held: the queue's count is read after the lock is let go.
  post([](KSBeaconOperationManager& self) {
    if (self.operations_->operationCount() == 0) self.restartScanServices();
  });
}

KSBeaconOperationDelegate::Peripheral KSBeaconOperationManager::operationPeripheralForIdentifier(
    const Operation&, const std::optional<platform::Uuid>& identifier) {
  if (!identifier) return nullptr;
  auto c = client();
  return c ? c->retrievePeripheralWithIdentifier(*identifier) : nullptr;
}

void KSBeaconOperationManager::operationNeedsCentralManagerToConnectPeripheral(const Operation&,
                                                                               const Peripheral& peripheral) {
  if (!peripheral) return;
  if (auto c = client()) c->connectPeripheral(peripheral);
}

void KSBeaconOperationManager::operationCentralManagerCanDisconnectPeripheral(const Operation&,
                                                                              const Peripheral& peripheral) {
  if (!peripheral) return;
  if (auto c = client()) c->cancelPeripheralConnection(peripheral);
}

void KSBeaconOperationManager::operationDidSucceed(const Operation& operation) {
  cancelPeripheralConnectionForBeaconOperation(operation);
  operation->reportCompletion(std::nullopt);
}

void KSBeaconOperationManager::operationDidFailWithError(const Operation& operation, const Error& error) {
  cancelPeripheralConnectionForBeaconOperation(operation);
  Operation waiting;
  bool putAside = false;
  {
    std::lock_guard lock(mutex_);
    // The operation itself when it was put aside (a Connecting timeout), else another of
    // the same beacon.
    putAside = std::find(pending_.begin(), pending_.end(), operation) != pending_.end();
    waiting = putAside ? operation : pendingForBeaconLocked(operation->beacon());
  }
  if (waiting) waiting->waitForPeripheralIdentifier();
  // Put aside, it waits for a new identifier instead of reporting; another job's failure is
  // still reported (or retried) as its own.
  if (putAside) return;
  if (operation->shouldRetry() && error.code != KSBeaconOperationLoginFailedCode) {
    auto duplicate = operation->duplicateForRetry();
    duplicate->setRetryCount(operation->retryCount() + 1);
    scheduleNow(duplicate);
    return;
  }
  operation->reportCompletion(error);
}

void KSBeaconOperationManager::operationDidTimeout(const Operation& operation) {
  const auto state = operation->beaconOperationState();
  std::lock_guard lock(mutex_);
  if (state == KSBeaconOperationStateConnecting) {
    pending_.push_back(operation);
  } else if (state == KSBeaconOperationStateWaiting) {
    std::erase(pending_, operation);
  }
}

// --- central events

void KSBeaconOperationManager::centralManagerDidConnectPeripheral(const Peripheral& peripheral) {
  if (!peripheral) return;
  post([peripheral](KSBeaconOperationManager& self) { self.connectedEvent(peripheral); });
}

void KSBeaconOperationManager::centralManagerDidFailToConnectPeripheral(const Peripheral& peripheral,
                                                                        const std::optional<Error>& error) {
  if (!peripheral) return;
  post([peripheral, error](KSBeaconOperationManager& self) { self.failedToConnectEvent(peripheral, error); });
}

void KSBeaconOperationManager::centralManagerDidDisconnectPeripheral(const Peripheral& peripheral,
                                                                     const std::optional<Error>& error) {
  if (!peripheral) return;
  post([peripheral, error](KSBeaconOperationManager& self) { self.disconnectedEvent(peripheral, error); });
}

void KSBeaconOperationManager::connectedEvent(const Peripheral& peripheral) {
  Operation operation;
  {
    std::lock_guard lock(mutex_);
    auto it = registered_.find(peripheral->identifier());
    if (it != registered_.end()) operation = it->second;
  }
  if (operation && operation->beaconOperationState() == KSBeaconOperationStateConnecting) {
    operation->connected();
    return;
  }
  // The link of a job that is connected already (the platform told of it twice) stays up;
  // one that nobody owns, or whose job no longer wants it, is given back.
  if (operation && operation->beaconOperationState() == KSBeaconOperationStateConnected) return;
  if (auto c = client()) c->cancelPeripheralConnection(peripheral);
}

void KSBeaconOperationManager::failedToConnectEvent(const Peripheral& peripheral, const std::optional<Error>& error) {
  Operation operation = takeRegistered(peripheral->identifier());
  if (!operation) return;
  // The attempt is over: the caller hears the platform's error once and the job ends.
  operation->failedWithoutRetry(
      error.value_or(operation->errorWithDescription("The connection to the peripheral failed.")));
}

void KSBeaconOperationManager::disconnectedEvent(const Peripheral& peripheral, const std::optional<Error>& error) {
  Operation operation;
  {
    std::lock_guard lock(mutex_);
    auto it = registered_.find(peripheral->identifier());
    if (it == registered_.end() || it->second->beaconOperationState() == KSBeaconOperationStateDisconnecting) return;
    operation = std::move(it->second);
    registered_.erase(it);
  }
  if (operation->beaconOperationState() != KSBeaconOperationStateConnected) return;  // its timer decides
  if (!error) {
    operation->failedWithErrorDescription(std::string(KSBeaconOperationUnexpectedDisconnectMessage));
  } else if (operation->shouldRetry()) {
    auto duplicate = operation->duplicateForRetry();
    duplicate->setRetryCount(operation->retryCount() + 1);
    operation->cancelAttempt();
    scheduleNow(duplicate);
  } else {
    operation->failedWithError(*error);
  }
}

}  // namespace velmora::kestrine
