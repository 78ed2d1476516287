#include "parking/lane_detection/BeaconService.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>

#include "parking/carpark_api/CarParkModel.h"
#include "parking/carpark_api/DetailsRequest.h"
#include "parking/carpark_api/LaneBeaconModel.h"
#include "parking/carpark_api/LaneModel.h"
#include "parking/config/VelmoraSDKConfig.h"
#include "parking/lane_detection/KestrineBeaconSDK.h"
#include "parking/user_api/StatusRequest.h"
#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora {

using platform::dispatch::Scheduler;

namespace {

constexpr std::string_view kLogCategory = "BeaconService";

bool logsAboveNone() { return VelmoraSDKConfig::getBeaconLogLevel() != BeaconLogLevel::none; }
bool signedIn() { return VelmoraSDKConfig::getUserId() >= 1; }

}  // namespace

// ---- construction and lifetime ----

BeaconService::BeaconService(Token, std::shared_ptr<BeaconSDKPort> sdk, std::shared_ptr<ParkingLookups> lookups)
    : sdk_(sdk ? std::move(sdk) : std::make_shared<KestrineBeaconSDK>()),
      lookups_(lookups ? std::move(lookups) : ParkingLookups::makeDefault()),
      workQueue_(Scheduler::shared()->makeSerialQueue("com.velmora.beaconService")),
      deliveryQueue_(Scheduler::shared()->makeSerialQueue("com.velmora.beaconService.delivery")) {
  const platform::Date start = now();
  _lastBeaconRead = start;
  _lastCarParkChange = start.addingTimeInterval(-2.0 * kBeaconResetInterval);
  _lastLaneChange = _lastCarParkChange;
  _beaconManager = sdk_->makeBeaconManager();
}

std::shared_ptr<BeaconService> BeaconService::create(std::shared_ptr<BeaconSDKPort> sdk,
                                                     std::shared_ptr<ParkingLookups> lookups) {
  auto service = std::make_shared<BeaconService>(Token{}, std::move(sdk), std::move(lookups));
  service->startTimer();
  return service;
}

void BeaconService::startTimer() {
  timer_ = RepeatingTimer::create(static_cast<double>(kBeaconResetInterval), workQueue_);
  timer_->setEventHandler([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->runWork([&] { self->tick(); });
  });
  timer_->resume();
}

BeaconService::~BeaconService() {
  // The timer's teardown silences and cancels its source; the manager stops calling a
  // listener that is detached here (and holds it only weakly anyway).
  timer_.reset();
  if (_beaconManager) _beaconManager->setDelegate({});
}

std::shared_ptr<BeaconServiceDelegate> BeaconService::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void BeaconService::setDelegate(const std::shared_ptr<BeaconServiceDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate;
}

void BeaconService::onWorkQueue(std::function<void(BeaconService&)> work) {
  if (workQueue_->isCurrent()) {
    if (inWork_) {
      // From inside a delegate call: the running work still reads the lists.
      deferred_.push_back(std::move(work));
      return;
    }
    // The host may let its last reference go inside a delegate call of this very work.
    auto self = shared_from_this();
    runWork([&] { work(*self); });
    return;
  }
  workQueue_->async([weak = weak_from_this(), work = std::move(work)] {
    if (auto self = weak.lock()) self->runWork([&] { work(*self); });
  });
}

void BeaconService::runWork(const std::function<void()>& work) {
  if (inWork_) {
    work();
    return;
  }
  struct Leave {
    bool& inWork;
    ~Leave() { inWork = false; }
  } leave{inWork_};
  inWork_ = true;
  work();
  // Each deferred setter may defer more (its reset calls the delegate): all run here, in the order
  // called.
  while (!deferred_.empty()) {
    auto next = std::move(deferred_.front());
    deferred_.pop_front();
    next(*this);
  }
}

platform::Date BeaconService::now() const { return Scheduler::shared()->clock()->now(); }

std::int64_t BeaconService::wholeSecondsSince(platform::Date then) const {
  // Integer division truncates toward zero.
  return now().microsecondsSince(then) / 1'000'000;
}

// ---- the beacon SDK ----

void BeaconService::initService() {
  auto adapter = std::make_shared<BeaconManagerDelegateImp>(weak_from_this());
  {
    std::lock_guard lock(mutex_);
    _beaconManagerDelegate = adapter;
  }
  _beaconManager->setQueue(deliveryQueue_);
  _beaconManager->setDelegate(adapter);
  platform::Dict options;
  options.emplace(std::string(BeaconSDKPort::kOptionCacheAllBeaconsForApp), platform::Value(true));
  options.emplace(std::string(BeaconSDKPort::kOptionDiscoverBeaconsNearby), platform::Value(true));
  options.emplace(std::string(BeaconSDKPort::kOptionMaximumDailyBackgroundUsageInMinutes),
                  platform::Value(std::int64_t{1440}));
  options.emplace(std::string(BeaconSDKPort::kOptionBackgroundSessionTimeIntervalInSeconds),
                  platform::Value(std::int64_t{10800}));
  sdk_->setOptions(options);
}

void BeaconService::startBeaconSDK(std::function<void(const BeaconServiceResult&)> completionBlock) {
  // The SDK's completion holds only what it needs: the port and the block, not the service.
  std::shared_ptr<BeaconSDKPort> sdk = sdk_;
  sdk_->startRunning(VelmoraSDKConfig::getBeaconToken(), [sdk, completionBlock = std::move(completionBlock)](int) {
    BeaconServiceResult result;
    if (logsAboveNone()) {
      const int token = sdk->appTokenVerificationStatus();
      // With its cloud API off on purpose the SDK verifies no token: that is the host's
      // choice, not a bad token, so it is said as such.
      if (!sdk->isUsingApi()) {
        platform::Log::debug(kLogCategory, "Beacon SDK runs without its cloud API");
      } else if (token == BeaconSDKPort::kTokenNone || token == BeaconSDKPort::kTokenInvalid) {
        platform::Log::info(kLogCategory, "Beacon token is invalid");
      }
      if (!sdk->isLocationAuthorized()) platform::Log::info(kLogCategory, "Request location use from user");
      if (!sdk->isNetworkReachable()) platform::Log::info(kLogCategory, "Network is not reachable");
      if (!sdk->isBluetoothEnabled()) platform::Log::info(kLogCategory, "Bluetooth is not enabled");
    }
    platform::Log::info(kLogCategory, "BeaconService: startService finished");
    if (completionBlock) completionBlock(result);
  });
}

void BeaconService::startService(std::function<void(const BeaconServiceResult&)> completionBlock) {
  startBeaconSDK(std::move(completionBlock));
}

void BeaconService::stopService(std::function<void(const BeaconServiceResult&)> completionBlock) {
  BeaconServiceResult result;
  sdk_->stopRunning();
  const int status = sdk_->status();
  if (status != BeaconSDKPort::kStatusStopped) {
    result.success = false;
    result.message = fmt::format("{}{}", kStopFailedMessage, status);
  }
  if (completionBlock) completionBlock(result);
}

void BeaconService::BeaconManagerDelegateImp::didRangeBeacons(const std::vector<RangedBeacon>& beacons) {
  auto service = _beaconService.lock();
  if (!service) return;
  if (VelmoraSDKConfig::getBeaconLogLevel() >= BeaconLogLevel::high) {
    std::fputs(fmt::format("didRangeBeacons: {}\n", beacons.size()).c_str(), stdout);
  }
  std::vector<std::shared_ptr<BeaconModel>> models;
  models.reserve(beacons.size());
  for (const RangedBeacon& beacon : beacons) {
    if (auto model = BeaconModel::toModel(beacon)) models.push_back(std::move(model));
  }
  service->updateRangedBeacons(std::move(models));
}

// ---- host setters and getters ----

void BeaconService::reset(bool) {
  onWorkQueue([](BeaconService& s) { s.resetOnQueue(); });
}

void BeaconService::setTimerEnabled(bool enabled) {
  onWorkQueue([enabled](BeaconService& s) {
    std::lock_guard lock(s.mutex_);
    s._timerEnabled = enabled;
  });
}

void BeaconService::onBackground() {
  onWorkQueue([](BeaconService& s) {
    {
      std::lock_guard lock(s.mutex_);
      s._inBackground = true;
    }
    s.resetOnQueue();
  });
}

void BeaconService::onForeground() {
  onWorkQueue([](BeaconService& s) {
    {
      std::lock_guard lock(s.mutex_);
      s._inBackground = false;
    }
    s.resetOnQueue();
    const int status = s.sdk_->status();
    if (status == BeaconSDKPort::kStatusStopped || status == BeaconSDKPort::kStatusNotConfigured ||
        status == BeaconSDKPort::kStatusRunningWithErrors) {
      s.startBeaconSDK([](const BeaconServiceResult&) { platform::Log::info(kLogCategory, "BeaconService restarted"); });
    }
  });
}

void BeaconService::setUserStatus(StatusResult userStatus) {
  onWorkQueue([userStatus = std::move(userStatus)](BeaconService& s) mutable {
    {
      std::lock_guard lock(s.mutex_);
      s._userStatus = std::move(userStatus);
    }
    s.resetOnQueue();
  });
}

std::shared_ptr<LaneModel> BeaconService::getClosestLane() const {
  std::lock_guard lock(mutex_);
  return _closestLane;
}

std::string BeaconService::getCarParkName() const {
  std::lock_guard lock(mutex_);
  return _carParkName;
}

std::int64_t BeaconService::getCarParkId() const {
  std::lock_guard lock(mutex_);
  return _carParkID;
}

std::vector<std::int64_t> BeaconService::getAcceptableLaneTypes() {
  const std::optional<StatusResult> status = getUserStatus();
  if (!status) return {};
  if (!status->inCarPark) return {1, 7};
  if (!status->isNested) return {2, 4, 3};
  return {5, 3};
}

std::optional<StatusResult> BeaconService::getUserStatus() {
  if (!signedIn()) {
    std::lock_guard lock(mutex_);
    _userStatus.reset();
    return std::nullopt;
  }
  {
    std::lock_guard lock(mutex_);
    if (_userStatus) return _userStatus;
  }
  StatusResult fetched = lookups_->status(StatusRequest());
  std::lock_guard lock(mutex_);
  if (fetched.result == "Success") {
    _userStatus = std::move(fetched);
  } else {
    _userStatus.reset();
  }
  return _userStatus;
}

void BeaconService::setCarParkName(std::string name) {
  {
    std::lock_guard lock(mutex_);
    _carParkName = name;
  }
  notify([&](BeaconServiceDelegate& d) { d.carParkNameChanged(name); });
}

// ---- reset and tick ----

void BeaconService::resetOnQueue() {
  _beacons.clear();
  _carParks.clear();
  _lanes.clear();
  _laneBeacons.clear();
  _processedBeacons.clear();
  beaconsById_.clear();
  laneByBeaconId_.clear();
  _lastCarParkChange = now().addingTimeInterval(-2.0 * kBeaconResetInterval);
  _lastLaneChange = _lastCarParkChange;
  {
    std::lock_guard lock(mutex_);
    _closestLane.reset();
  }
  notify([&](BeaconServiceDelegate& d) { d.beaconsChanged(_beacons); });
  notify([&](BeaconServiceDelegate& d) { d.lanesChanged(_lanes); });
  notify([&](BeaconServiceDelegate& d) { d.laneBeaconsChanged(_laneBeacons); });
  notify([&](BeaconServiceDelegate& d) { d.closestLaneChanged(nullptr); });
}

void BeaconService::tick() {
  bool due = false;
  {
    std::lock_guard lock(mutex_);
    if (!_timerEnabled || _inBackground) return;
    // A pass that is running or queued holds the busy flag: no reset under it.
    due = wholeSecondsSince(_lastBeaconRead) > kBeaconResetInterval && _enableBeaconDetection;
  }
  if (due) resetOnQueue();
}

// ---- ranging ----

void BeaconService::updateRangedBeacons(std::vector<std::shared_ptr<BeaconModel>> beaconModels) {
  std::erase(beaconModels, nullptr);
  {
    std::lock_guard lock(mutex_);
    _lastBeaconRead = now();
    if (!_enableBeaconDetection) return;
    _enableBeaconDetection = false;
  }
  workQueue_->async([weak = weak_from_this(), models = std::move(beaconModels)] {
    if (auto self = weak.lock()) self->runWork([&] { self->runPass(models); });
  });
}

void BeaconService::runPass(const std::vector<std::shared_ptr<BeaconModel>>& beaconModels) {
  if (!signedIn()) {
    platform::Log::warning(kLogCategory, "WARNING: No user logged in - don't scan for beacons");
  } else {
    // Fills the status cache for the lane step.
    (void)getUserStatus();
    processRangedBeacons(beaconModels);
  }
  std::lock_guard lock(mutex_);
  _enableBeaconDetection = true;
}

void BeaconService::processRangedBeacons(const std::vector<std::shared_ptr<BeaconModel>>& beaconModels) {
  for (const auto& snapshot : beaconModels) {
    const std::string id = snapshot->beaconID();
    if (_processedBeacons.count(id)) continue;
    // A lane beacon of a car park already held needs no lookup.
    if (laneByBeaconId_.count(id)) continue;
    if (!signedIn()) continue;

    DetailsRequest request;
    request.beaconID = id;
    request.carParkID = std::nullopt;
    const DetailsResult result = lookups_->detail(request);
    if (result.result == "Success") {
      std::shared_ptr<CarParkModel> carPark = DetailsResult::toModel(result);
      HeldCarPark entry{carPark, carPark->carParkId(), carPark->lanes()};
      const bool known = std::any_of(_carParks.begin(), _carParks.end(),
                                     [&](const HeldCarPark& p) { return p.carParkId == entry.carParkId; });
      if (!entry.lanes.empty() && !known) {
        if (logsAboveNone()) {
          platform::Log::info(kLogCategory, "Found car park: {} ({})", carPark->carParkName(), entry.carParkId);
        }
        for (const auto& lane : entry.lanes) {
          lane->setCarPark(carPark);
          for (const auto& laneBeacon : lane->laneBeacons()) laneByBeaconId_.emplace(laneBeacon->beaconId(), lane);
        }
        _carParks.push_back(std::move(entry));
      }
    }
    _processedBeacons.insert(id);
  }

  bool changed = false;
  for (const auto& snapshot : beaconModels) {
    if (addOrUpdateBeacon(snapshot)) changed = true;
  }
  if (auto lane = findCandidateLane()) processLane(lane);
  if (changed) notify([&](BeaconServiceDelegate& d) { d.beaconsChanged(_beacons); });
}

bool BeaconService::addOrUpdateBeacon(const std::shared_ptr<BeaconModel>& beaconModel) {
  auto [it, added] = beaconsById_.emplace(beaconModel->beaconID(), beaconModel);
  if (!added) return it->second->update(*beaconModel);
  _beacons.push_back(beaconModel);
  return true;
}

}  // namespace velmora
