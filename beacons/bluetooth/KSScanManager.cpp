#include "beacons/bluetooth/KSScanManager.h"

#include <cmath>

#include "beacons/bluetooth/KSCentralManagerClient.h"
#include "beacons/foundation/KSConfigurator.h"
#include "beacons/foundation/KSDefinitionsInternal.h"
#include "beacons/foundation/KSGCDTimer.h"
#include "platform/app/Application.h"
#include "platform/core/Clock.h"
#include "platform/core/Uuid.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

namespace {
constexpr std::string_view kTimerName = "com.kestrine.scanManagerTimer";
}

std::shared_ptr<KSScanManager> KSScanManager::initWithCentralManagerClient(std::weak_ptr<KSCentralManagerClient> client,
                                                                           Environment environment) {
  std::shared_ptr<KSScanManager> manager(new KSScanManager(std::move(client), std::move(environment)));
  manager->subscribe();
  return manager;
}

KSScanManager::KSScanManager(std::weak_ptr<KSCentralManagerClient> client, Environment environment)
    : client_(std::move(client)), env_(std::move(environment)) {
  if (env_.session && env_.session->isSessionRunning()) {
    whenNotifiedSessionResumedOrBegan_ = now();
    scanState_ = isAppInBackground() ? 4 : 1;
  }
}

KSScanManager::~KSScanManager() {
  for (const auto& token : observers_) env_.center->removeObserver(token);
  std::lock_guard guard(lock_);
  if (scanningTimer_) scanningTimer_->invalidate();
}

void KSScanManager::subscribe() {
  if (!env_.center) return;
  std::weak_ptr<KSScanManager> weak = weak_from_this();
  auto on = [&](std::string_view name, std::function<void(KSScanManager&, const platform::Notification&)> handler) {
    observers_.push_back(env_.center->addObserver(std::string(name), nullptr, nullptr,
                                                  [weak, handler](const platform::Notification& n) {
                                                    if (auto self = weak.lock()) handler(*self, n);
                                                  }));
  };
  auto siteID = [](const platform::Notification& n) -> std::optional<std::string> {
    auto it = n.userInfo.find(KSSiteManagerNotificationSiteIDItem);
    if (it == n.userInfo.end() || it->second.string() == nullptr) return std::nullopt;
    return *it->second.string();
  };
  on(KSSiteManagerNotificationDidEnterSite, [siteID](KSScanManager& self, const platform::Notification& n) {
    std::lock_guard guard(self.lock_);
    if (auto id = siteID(n)) self.enteredAtForSiteID_[*id] = self.now();
    self.updateScanState();
  });
  on(KSSiteManagerNotificationDidExitSite, [siteID](KSScanManager& self, const platform::Notification& n) {
    std::lock_guard guard(self.lock_);
    if (auto id = siteID(n)) self.enteredAtForSiteID_.erase(*id);
    self.updateScanState();
  });
  auto began = [](KSScanManager& self, const platform::Notification&) {
    std::lock_guard guard(self.lock_);
    self.whenNotifiedSessionResumedOrBegan_ = self.now();
    self.updateScanState();
  };
  on(KSSessionManagerNotificationDidBeginSession, began);
  on(KSSessionManagerNotificationDidResumeSession, began);
  on(KSSessionManagerNotificationDidEndSession, [](KSScanManager& self, const platform::Notification&) {
    std::lock_guard guard(self.lock_);
    self.whenNotifiedSessionResumedOrBegan_.reset();
    self.updateScanState();
  });
}

platform::Date KSScanManager::now() const {
  auto scheduler = env_.scheduler ? env_.scheduler : platform::dispatch::Scheduler::shared();
  return scheduler->clock()->now();
}

bool KSScanManager::isAppInBackground() const { return KSDefinitionsInternal::isAppInBackground(env_.app.get()); }

bool KSScanManager::useEnergySaverScanStrategy() const {
  return env_.configurator ? env_.configurator->useEnergySaverScanStrategy() : true;
}

bool KSScanManager::scanInBackground() const {
  return env_.configurator ? env_.configurator->scanInBackground() : true;
}

void KSScanManager::updateScanState() {
  std::lock_guard guard(lock_);
  const bool background = isAppInBackground();
  const long old = scanState_;
  long state = 0;
  if (!connectedForPeripheral_.empty()) {
    state = 7;
  } else if (whenNotifiedSessionResumedOrBegan_) {
    const double age = std::fabs(now().timeIntervalSince(*whenNotifiedSessionResumedOrBegan_));
    if (background) {
      state = KSRemainInAppInBackgroundScanStateTimeIntervalInSeconds > age ? 4 : (isDeviceInsideOfSite() ? 6 : 5);
    } else {
      state = KSRemainInAppInForegroundScanStateTimeIntervalInSeconds > age ? 1 : (isDeviceInsideOfSite() ? 3 : 2);
    }
  }
  if (state == old) return;
  scanState_ = state;
  auto client = client_.lock();
  if (!client) return;
  if (state == 0 || state == 7 || (state >= 4 && state <= 6 && !scanInBackground())) {
    client->stopScan();
  } else if (!client->isScanningEnabled() && client->shouldScanForPeripherals()) {
    client->scanForPeripherals();
  }
}

double KSScanManager::scanOffTimeIntervalInSeconds() const {
  if (!useEnergySaverScanStrategy()) return KSShortScanOffTimeIntervalInSeconds;
  switch (scanState()) {
    case 2:
    case 6:
      return KSMediumScanOffTimeIntervalInSeconds;
    case 5:
      return KSLongScanOffTimeIntervalInSeconds;
    default:
      return KSShortScanOffTimeIntervalInSeconds;
  }
}

double KSScanManager::scanTimeIntervalInSeconds() const {
  auto client = client_.lock();
  return client && client->isScanningEnabled() ? scanOnTimeIntervalInSeconds() : scanOffTimeIntervalInSeconds();
}

bool KSScanManager::isDeviceInsideOfSite() const {
  std::lock_guard guard(lock_);
  return !enteredAtForSiteID_.empty();
}

bool KSScanManager::isDeviceConnectedToPeripheral() const {
  std::lock_guard guard(lock_);
  return !connectedForPeripheral_.empty();
}

long KSScanManager::scanState() const {
  std::lock_guard guard(lock_);
  return scanState_;
}

std::string KSScanManager::scanID() const {
  std::lock_guard guard(lock_);
  return scanID_;
}

std::optional<platform::Date> KSScanManager::startedScanAt() const {
  std::lock_guard guard(lock_);
  return startedScanAt_;
}

std::optional<platform::Date> KSScanManager::stoppedScanAt() const {
  std::lock_guard guard(lock_);
  return stoppedScanAt_;
}

bool KSScanManager::isTimerArmed() const {
  std::lock_guard guard(lock_);
  return scanningTimer_ && scanningTimer_->isValid();
}

void KSScanManager::startedScanForPeripherals() {
  platform::Dict info;
  {
    std::lock_guard guard(lock_);
    startedScanAt_ = now();
    scanID_ = platform::Uuid::random().string();
    startScanMonitor();
    info[std::string(KSScanManagerNotificationScanIDItem)] = scanID_;
    info[std::string(KSScanManagerNotificationOccurredAtItem)] = *startedScanAt_;
  }
  if (env_.center) env_.center->post(std::string(KSScanManagerNotificationDidStartScan), shared_from_this(), info);
}

void KSScanManager::stoppedScan() {
  platform::Dict info;
  {
    std::lock_guard guard(lock_);
    stoppedScanAt_ = now();
    cancelScanMonitor();
    if (scanID_.empty()) return;
    info[std::string(KSScanManagerNotificationScanIDItem)] = scanID_;
    info[std::string(KSScanManagerNotificationOccurredAtItem)] = *stoppedScanAt_;
  }
  if (env_.center) env_.center->post(std::string(KSScanManagerNotificationDidStopScan), shared_from_this(), info);
}

void KSScanManager::startScanMonitor() {
  std::lock_guard guard(lock_);
  cancelScanMonitor();
  updateScanState();
  const double interval = scanTimeIntervalInSeconds();
  auto scheduler = env_.scheduler ? env_.scheduler : platform::dispatch::Scheduler::shared();
  auto timer = KSGCDTimer::initWithDispatchQueue(scheduler->globalQueue(), KSGCDTimerDefaultLeeway,
                                                 std::string(kTimerName), scheduler);
  std::weak_ptr<KSScanManager> weak = weak_from_this();
  std::weak_ptr<KSGCDTimer> weakTimer = timer;
  if (scanningTimer_) scanningTimer_->invalidate();
  scanningTimer_ = timer;
  timer->scheduleBlock(
      [weak, weakTimer] {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard guard(self->lock_);
        // A timer replaced or cancelled while this block waited for the lock does nothing.
        if (self->scanningTimer_ != weakTimer.lock()) return;
        self->scanningTimer_.reset();
        self->timerFired();
      },
      interval);
}

void KSScanManager::cancelScanMonitor() {
  std::lock_guard guard(lock_);
  if (scanningTimer_) {
    scanningTimer_->invalidate();
    scanningTimer_.reset();
  }
}

void KSScanManager::timerFired() {
  auto client = client_.lock();
  if (!client) return;
  const long state = scanState_;
  if (state == 7) return;
  if (state == 0) {
    if (client->isScanningEnabled()) client->stopScan();
    return;
  }
  if (client->isScanningEnabled()) {
    client->stopScan();
    startScanMonitor();
  } else if (client->shouldScanForPeripherals()) {
    client->scanForPeripherals();
  }
}

void KSScanManager::centralManagerUpdatedState(platform::bluetooth::CentralState state) {
  auto client = client_.lock();
  if (!client) return;
  std::lock_guard guard(lock_);
  if (state == platform::bluetooth::CentralState::PoweredOn) {
    if (client->shouldScanForPeripherals()) client->scanForPeripherals();
  } else {
    client->stopScan();
  }
}

void KSScanManager::connectingToPeripheral(const std::string& uuid) {
  std::lock_guard guard(lock_);
  connectedForPeripheral_[uuid] = true;
  updateScanState();
}

void KSScanManager::disconnectedFromPeripheral(const std::string& uuid) {
  std::lock_guard guard(lock_);
  connectedForPeripheral_.erase(uuid);
  updateScanState();
}

void KSScanManager::applicationDidEnterBackground() { updateScanState(); }
void KSScanManager::applicationDidBecomeActive() { updateScanState(); }

}  // namespace velmora::kestrine
