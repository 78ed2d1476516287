#include "beacons/microlocation/KSLassoManager.h"

#include <limits>

#include "beacons/foundation/KSInstanceProvider.h"
#include "beacons/microlocation/KSEventFilter.h"
#include "beacons/microlocation/KSLassoPacket.h"
#include "beacons/microlocation/KSMicroLocation.h"
#include "beacons/microlocation/KSMicroLocationManager.h"
#include "beacons/microlocation/KSVisitTracker.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconHubPort.h"
#include "beacons/ranging/KSBeaconOperationFactory.h"
#include "platform/core/Clock.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

// Hands the private micro-location manager's visit ends to the lasso manager. The
// micro-location manager holds its delegate weakly and the lasso manager owns both, so the
// listener holds the lasso manager weakly too: nothing here keeps the lasso manager alive.
class KSLassoManager::MicroLocationListener final : public KSMicroLocationManagerDelegate {
 public:
  explicit MicroLocationListener(std::weak_ptr<KSLassoManager> manager) : manager_(std::move(manager)) {}
  void microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(KSMicroLocationManager*,
                                                                  SerialNumbers serialNumbers) override {
    if (auto manager = manager_.lock()) manager->microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(serialNumbers);
  }

 private:
  std::weak_ptr<KSLassoManager> manager_;
};

KSLassoManager::KSLassoManager(Token, Ports ports) : ports_(std::move(ports)) {}

std::shared_ptr<KSLassoManager> KSLassoManager::sharedManager() {
  auto provider = KSInstanceProvider::sharedProvider();
  return provider->singleton<KSLassoManager>(std::string(kSingletonName), [](KSInstanceProvider& p) {
    Ports ports;
    ports.provider = &p;
    return create(std::move(ports));
  });
}

std::shared_ptr<KSLassoManager> KSLassoManager::create(Ports ports) {
  if (ports.provider && !ports.scheduler) ports.scheduler = ports.provider->platform().scheduler;
  if (!ports.scheduler) ports.scheduler = platform::dispatch::Scheduler::shared();
  if (!ports.eventManager.scheduler) ports.eventManager.scheduler = ports.scheduler;
  if (!ports.visits && ports.provider &&
      (ports.provider->hasMaker(KSVisitTracker::kSingletonName) ||
       ports.provider->hasSingleton(KSVisitTracker::kSingletonName))) {
    ports.visits = KSVisitTracker::sharedTracker(*ports.provider);
  }
  auto manager = std::make_shared<KSLassoManager>(Token{}, std::move(ports));
  manager->eventManager_ = KSEventManager::create(manager->ports_.eventManager, manager->ports_.provider);
  manager->eventManager_->setDelegate(std::static_pointer_cast<KSLassoManager>(manager->shared_from_this()));
  if (manager->ports_.visits) {
    // Only visit ends are listened to: no site manager and no notification centre.
    KSMicroLocationManager::Ports micro;
    micro.scheduler = manager->ports_.scheduler;
    micro.visitTracker = manager->ports_.visits;
    manager->microLocationManager_ = KSMicroLocationManager::create(std::move(micro));
    manager->microLocationListener_ = std::make_shared<MicroLocationListener>(manager);
    manager->microLocationManager_->setDelegate(manager->microLocationListener_);
    manager->microLocationManager_->startUpdatingMicroLocation();
  }
  return manager;
}

KSLassoManager::~KSLassoManager() = default;

std::shared_ptr<KSLassoManagerDelegate> KSLassoManager::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void KSLassoManager::setDelegate(const std::shared_ptr<KSLassoManagerDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

// --- keys and enabling -----------------------------------------------------------------------

void KSLassoManager::addLassoKeys(const std::vector<std::string>& keys) {
  std::lock_guard lock(mutex_);
  for (const auto& key : keys) mutableLassoKeysDictionary_[key] = true;
  if (enabled_) setupRegisterEventFilters();
}

void KSLassoManager::removeLassoKeys(const std::vector<std::string>& keys) {
  std::lock_guard lock(mutex_);
  for (const auto& key : keys) {
    mutableLassoKeysDictionary_.erase(key);
    setupRegisterEventFilters();
  }
}

std::vector<std::string> KSLassoManager::lassoKeys() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> keys;
  for (const auto& [key, on] : mutableLassoKeysDictionary_) keys.push_back(key);
  return keys;
}

bool KSLassoManager::enabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void KSLassoManager::setEnabled(bool on) {
  std::lock_guard lock(mutex_);
  if (on) {
    if (!enabled_ && !mutableLassoKeysDictionary_.empty()) setupRegisterEventFilters();
  } else {
    mutableLassoDictionary_.clear();
    eventManager_->removeAllMonitoredEvents();
  }
  enabled_ = on;
}

std::map<std::string, std::shared_ptr<KSLasso>> KSLassoManager::lassos() const {
  std::lock_guard lock(mutex_);
  return mutableLassoDictionary_;
}

// --- triggers --------------------------------------------------------------------------------

void KSLassoManager::setupRegisterEventFilters() {
  std::lock_guard lock(mutex_);
  const std::string identifier(KSLassoTriggerInRangeIdentifier);
  eventManager_->removeMonitoredEvent(identifier);
  std::vector<std::string> keys;
  for (const auto& [key, on] : mutableLassoKeysDictionary_) keys.push_back(key);
  // Each beacon once, however many of the keys it carries: a beacon passed twice would
  // feed the smoothing two samples a pass.
  auto byKeys = KSEventFilter::filterByPredicate([keys](const KSBeacon& beacon) {
    auto values = beacon.customValueForKey();
    if (!values) return false;
    for (const auto& key : keys) {
      if (values->count(key)) return true;
    }
    return false;
  });
  auto trigger = KSTrigger::initWithIdentifier(
      identifier, {byKeys, KSEventFilter::filterApplySmoothedAccuracyOverTimeInterval(kSmoothingInterval),
                   KSEventFilter::filterByClosestBeacon()});
  trigger->setRepeatCount(std::numeric_limits<std::int64_t>::max());
  eventManager_->monitorEventWithTrigger(trigger);
}

void KSLassoManager::setupRedemptionEventFilterForLasso(const std::shared_ptr<KSLasso>& lasso) {
  const auto serialNumber = lasso->beacon()->serialNumber();
  auto trigger = KSTrigger::initWithIdentifier(
      std::string(KSLassoTriggerTapIdentifier),
      {KSEventFilter::filterByAccuracyRange(0.0, lasso->redemptionRadius()),
       KSEventFilter::filterByPredicate(
           [serialNumber](const KSBeacon& beacon) { return serialNumber && beacon.serialNumber() == serialNumber; })});
  trigger->setRepeatCount(std::numeric_limits<std::int64_t>::max());
  eventManager_->monitorEventWithTrigger(trigger);
}

// --- firings ---------------------------------------------------------------------------------

void KSLassoManager::eventManagerTriggeredEvent(const std::shared_ptr<KSEventManager>&,
                                                const std::shared_ptr<KSTriggeredEvent>& event) {
  if (!enabled() || !event || !event->event) return;
  auto location = std::dynamic_pointer_cast<KSMicroLocation>(event->filteredMicroLocation);
  if (!location) return;
  const auto beacons = location->beacons();
  if (beacons.empty() || !beacons.front()) return;
  auto lasso = KSLasso::initWithBeacon(beacons.front());
  const auto identifier = event->event->eventIdentifier().value_or("");

  if (identifier == KSLassoTriggerInRangeIdentifier) {
    std::vector<std::shared_ptr<KSLasso>> exited;
    bool entered = false;
    {
      std::lock_guard lock(mutex_);
      const std::string serialNumber = lasso->beacon()->serialNumber().value_or("");
      if (!mutableLassoDictionary_.count(serialNumber)) {
        std::vector<std::string> all;
        for (const auto& [serial, stored] : mutableLassoDictionary_) all.push_back(serial);
        exited = takeLassosForSerialNumbers(all);
        mutableLassoDictionary_[serialNumber] = lasso;
        entered = true;
        setupRedemptionEventFilterForLasso(lasso);
      }
    }
    auto delegate = this->delegate();
    if (!delegate) return;
    for (const auto& old : exited) delegate->didExitLasso(old);
    if (entered) delegate->didEnterLasso(lasso);
    delegate->didRangeLasso(lasso);
  } else if (identifier == KSLassoTriggerTapIdentifier) {
    bool idle = false;
    if (!redeeming_.compare_exchange_strong(idle, true)) return;
    redeem(lasso);
  }
}

void KSLassoManager::redeem(const std::shared_ptr<KSLasso>& lasso) {
  auto self = shared_from_this();
  auto delegate = this->delegate();
  if (!delegate) {
    redeeming_ = false;
    return;
  }
  if (!delegate->shouldBeginRedemptionRequestForLasso(self, lasso)) {
    redeeming_ = false;
    return;
  }
  platform::Bytes request;
  std::optional<platform::Dict> requestDictionary;
  if (auto bytes = delegate->lassoManagerDataRequestForLasso(self, lasso)) {
    request = std::move(*bytes);
    requestDictionary = KSKLassoParseData(request);
  } else if (auto dictionary = delegate->lassoManagerDictionaryForLasso(self, lasso)) {
    platform::Error refused;
    auto built = KSKLassoPacketData(*dictionary, ports_.scheduler->clock()->now(), &refused);
    if (!built) return failRedemption(std::nullopt, lasso, std::move(refused));
    request = std::move(*built);
    requestDictionary = KSKLassoParseData(request);
  } else {
    return failRedemption(std::nullopt, lasso,
                          platform::Error(std::string(KSLassoManagerErrorDomain), -1,
                                          "The delegate gave neither a data request nor a dictionary for the lasso"));
  }

  auto main = ports_.scheduler->mainQueue();
  auto success = [self, main, requestDictionary, lasso](platform::Value reply) {
    main->async([self, requestDictionary, lasso, reply = std::move(reply)] {
      const platform::Bytes* bytes = reply.bytes();
      auto response = bytes ? KSKLassoParseData(*bytes) : std::nullopt;
      if (!response) {
        auto delegate = self->delegate();
        if (delegate) {
          delegate->lassoManagerDidFailToRedeemDictionaryForLassoError(
              self, requestDictionary, lasso,
              platform::Error(std::string(KSLassoManagerErrorDomain), -1, "The beacon's reply is not a lasso packet"));
        }
      } else if (auto delegate = self->delegate()) {
        delegate->lassoManagerDidRedeemDictionaryForLassoResponse(self, requestDictionary, lasso, *response);
      }
      self->redeeming_ = false;
    });
  };
  auto failure = [self, main, requestDictionary, lasso](platform::Error error) {
    main->async([self, requestDictionary, lasso, error = std::move(error)] {
      auto delegate = self->delegate();
      if (delegate) {
        delegate->lassoManagerDidFailToRedeemDictionaryForLassoError(self, requestDictionary, lasso, error);
      }
      self->redeeming_ = false;
    });
  };
  auto status = [](platform::Value) {};
  if (ports_.hub) {
    ports_.hub->sendDataRequest(request, lasso->beacon(), KSBeaconEndpointSerial, success, status, failure);
  } else {
    lasso->beacon()->sendDataRequest(request, KSBeaconEndpointSerial, success, status, failure);
  }
}

void KSLassoManager::failRedemption(const std::optional<platform::Dict>& request, const std::shared_ptr<KSLasso>& lasso,
                                    platform::Error error) {
  auto self = shared_from_this();
  ports_.scheduler->mainQueue()->async([self, request, lasso, error = std::move(error)] {
    auto delegate = self->delegate();
    if (delegate) {
      delegate->lassoManagerDidFailToRedeemDictionaryForLassoError(self, request, lasso, error);
    }
    self->redeeming_ = false;
  });
}

// --- leaving ---------------------------------------------------------------------------------

std::vector<std::shared_ptr<KSLasso>> KSLassoManager::takeLassosForSerialNumbers(
    const std::vector<std::string>& serialNumbers) {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<KSLasso>> taken;
  for (const auto& serial : serialNumbers) {
    for (auto it = mutableLassoDictionary_.begin(); it != mutableLassoDictionary_.end();) {
      if (it->second->beacon()->serialNumber() == serial) {
        taken.push_back(it->second);
        it = mutableLassoDictionary_.erase(it);
      } else {
        ++it;
      }
    }
  }
  return taken;
}

void KSLassoManager::exitLassoForSerialNumbers(const std::vector<std::string>& serialNumbers) {
  const auto exited = takeLassosForSerialNumbers(serialNumbers);
  auto delegate = this->delegate();
  if (!delegate) return;
  for (const auto& lasso : exited) delegate->didExitLasso(lasso);
}

void KSLassoManager::microLocationManagerDidEndVisitForBeaconsWithSerialNumbers(
    const std::vector<std::string>& serialNumbers) {
  exitLassoForSerialNumbers(serialNumbers);
}

}  // namespace velmora::kestrine
