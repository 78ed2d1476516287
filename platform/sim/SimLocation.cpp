#include "platform/sim/SimLocation.h"

#include <algorithm>
#include <cmath>

namespace velmora::platform::sim {

using location::AuthorizationStatus;
using location::Beacon;
using location::BeaconRegion;
using location::Proximity;
using location::RegionState;

namespace {

constexpr std::string_view kErrorDomain = "platform.location";
enum : std::int64_t { kMonitoringUnavailable = 4, kRangingUnavailable = 16 };

double metresBetween(const location::Location& a, const location::Location& b) {
  constexpr double kEarthRadius = 6371000.0;
  constexpr double kRad = 3.14159265358979323846 / 180.0;
  const double dLat = (b.latitude - a.latitude) * kRad;
  const double dLon = (b.longitude - a.longitude) * kRad;
  const double h = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(a.latitude * kRad) * std::cos(b.latitude * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

Proximity proximityFor(double accuracy) {
  if (accuracy < 0) return Proximity::Unknown;
  if (accuracy < 0.5) return Proximity::Immediate;
  if (accuracy < 3) return Proximity::Near;
  return Proximity::Far;
}

}  // namespace

// One client's monitoring, ranging and location updates. Its state is guarded by the
// simulation's lock.
class SimLocationManager final : public location::LocationManager,
                                 public std::enable_shared_from_this<SimLocationManager> {
 public:
  SimLocationManager(std::shared_ptr<SimLocation> sim, std::weak_ptr<location::LocationManagerDelegate> delegate,
                     std::shared_ptr<dispatch::Queue> queue)
      : sim_(std::move(sim)), delegate_(std::move(delegate)), queue_(std::move(queue)) {}

  ~SimLocationManager() override {
    std::lock_guard lock(sim_->mutex_);
    for (auto& [id, m] : monitored_) sim_->timeline_->cancel(m.exitTimer);
    for (auto& [id, r] : ranged_) sim_->timeline_->cancel(r.tick);
  }

  void requestAlwaysAuthorization() override { request(); }
  void requestWhenInUseAuthorization() override { request(); }

  void setDistanceFilter(double meters) override {
    std::lock_guard lock(sim_->mutex_);
    distanceFilter_ = meters;
  }
  void startUpdatingLocation() override {
    std::lock_guard lock(sim_->mutex_);
    updating_ = true;
  }
  void stopUpdatingLocation() override {
    std::lock_guard lock(sim_->mutex_);
    updating_ = false;
  }
  void startMonitoringSignificantLocationChanges() override {
    std::lock_guard lock(sim_->mutex_);
    significant_ = true;
  }
  void stopMonitoringSignificantLocationChanges() override {
    std::lock_guard lock(sim_->mutex_);
    significant_ = false;
  }
  std::optional<location::Location> location() const override {
    std::lock_guard lock(sim_->mutex_);
    return last_;
  }

  std::vector<BeaconRegion> monitoredRegions() const override {
    std::lock_guard lock(sim_->mutex_);
    std::vector<BeaconRegion> out;
    for (const auto& [id, m] : monitored_) out.push_back(m.region);
    return out;
  }
  std::vector<BeaconRegion> rangedRegions() const override {
    std::lock_guard lock(sim_->mutex_);
    std::vector<BeaconRegion> out;
    for (const auto& [id, r] : ranged_) out.push_back(r.region);
    return out;
  }

  void startMonitoring(const BeaconRegion& region) override {
    std::lock_guard lock(sim_->mutex_);
    if (!sim_->capabilities_.monitoring) {
      const Error error(std::string(kErrorDomain), kMonitoringUnavailable, "Region monitoring is not available.");
      post([region, error](auto& d) { d.monitoringDidFail(region, error); });
      return;
    }
    if (auto f = sim_->monitoringFailures_.find(region.identifier()); f != sim_->monitoringFailures_.end()) {
      const Error error = f->second;
      sim_->monitoringFailures_.erase(f);
      post([region, error](auto& d) { d.monitoringDidFail(region, error); });
      return;
    }
    stopMonitoringLocked(region.identifier());
    auto& m = monitored_.emplace(region.identifier(), Monitored{region}).first->second;
    post([region](auto& d) { d.didStartMonitoring(region); });
    if (!sim_->activeLocked()) return;
    const std::int64_t now = sim_->timeline_->nowMicros();
    const auto last = lastMatchLocked(region, now);
    if (last) {
      armExitLocked(m, *last);
      changeStateLocked(m, RegionState::Inside);
    } else {
      m.state = RegionState::Outside;
      post([region](auto& d) { d.didDetermineState(RegionState::Outside, region); });
    }
  }

  void stopMonitoring(const BeaconRegion& region) override {
    std::lock_guard lock(sim_->mutex_);
    stopMonitoringLocked(region.identifier());
  }

  void requestState(const BeaconRegion& region) override {
    std::lock_guard lock(sim_->mutex_);
    auto it = monitored_.find(region.identifier());
    if (it == monitored_.end()) return;
    const auto state = it->second.state;
    const auto r = it->second.region;
    post([state, r](auto& d) { d.didDetermineState(state, r); });
  }

  void startRangingBeacons(const BeaconRegion& region) override {
    std::lock_guard lock(sim_->mutex_);
    if (!sim_->capabilities_.ranging) {
      const Error error(std::string(kErrorDomain), kRangingUnavailable, "Beacon ranging is not available.");
      post([region, error](auto& d) { d.rangingDidFail(region, error); });
      return;
    }
    stopRangingLocked(region.identifier());
    auto& r = ranged_.emplace(region.identifier(), Ranged{region}).first->second;
    scheduleTickLocked(r, sim_->timeline_->nowMicros() + SimTimeline::toMicros(1));
  }

  void stopRangingBeacons(const BeaconRegion& region) override {
    std::lock_guard lock(sim_->mutex_);
    stopRangingLocked(region.identifier());
  }

  // From the simulation, under its lock.
  void frameLocked(const Uuid& uuid, std::uint16_t major, std::uint16_t minor, std::int64_t now) {
    for (auto& [id, m] : monitored_) {
      if (!m.region.matches(uuid, major, minor)) continue;
      armExitLocked(m, now);
      changeStateLocked(m, RegionState::Inside);
    }
  }
  void authorizationLocked(AuthorizationStatus status) {
    post([status](auto& d) { d.didChangeAuthorization(status); });
  }
  void locationLocked(const location::Location& fix) {
    if (!updating_ && !significant_) return;
    last_ = fix;
    if (!sim_->activeLocked()) return;
    if (distanceFilter_ > 0 && delivered_ && metresBetween(*delivered_, fix) < distanceFilter_) return;
    delivered_ = fix;
    post([fix](auto& d) { d.didUpdateLocations({fix}); });
  }
  void locationFailureLocked(const Error& error) {
    if (!updating_ && !significant_) return;
    post([error](auto& d) { d.didFailWithError(error); });
  }
  void rangingFailureLocked(const std::string& identifier, const Error& error) {
    auto it = ranged_.find(identifier);
    if (it == ranged_.end()) return;
    const auto region = it->second.region;
    post([region, error](auto& d) { d.rangingDidFail(region, error); });
  }

 private:
  struct Monitored {
    BeaconRegion region;
    RegionState state = RegionState::Unknown;
    SimTimeline::Id exitTimer = 0;
  };
  struct Ranged {
    BeaconRegion region;
    SimTimeline::Id tick = 0;
  };

  void request() {
    std::lock_guard lock(sim_->mutex_);
    if (sim_->status_ == AuthorizationStatus::NotDetermined && sim_->enabled_ && sim_->answer_) {
      sim_->setAuthorizationStatus(*sim_->answer_);
    }
  }

  std::optional<std::int64_t> lastMatchLocked(const BeaconRegion& region, std::int64_t now) const {
    std::optional<std::int64_t> last;
    for (const auto& [key, heard] : sim_->heard_) {
      const auto& [uuid, major, minor] = key;
      if (!region.matches(uuid, major, minor)) continue;
      if (now - heard.at >= SimTimeline::toMicros(SimLocation::kInsideWindowSeconds)) continue;
      if (!last || heard.at > *last) last = heard.at;
    }
    return last;
  }

  void armExitLocked(Monitored& m, std::int64_t heardAt) {
    sim_->timeline_->cancel(m.exitTimer);
    std::weak_ptr<SimLocationManager> weak = weak_from_this();
    const std::string id = m.region.identifier();
    m.exitTimer = sim_->timeline_->at(heardAt + SimTimeline::toMicros(SimLocation::kInsideWindowSeconds), [weak, id] {
      if (auto self = weak.lock()) self->exitDue(id);
    });
  }

  void exitDue(const std::string& id) {
    std::lock_guard lock(sim_->mutex_);
    auto it = monitored_.find(id);
    if (it == monitored_.end()) return;
    it->second.exitTimer = 0;
    if (sim_->activeLocked()) changeStateLocked(it->second, RegionState::Outside);
  }

  void changeStateLocked(Monitored& m, RegionState state) {
    if (m.state == state) return;
    const bool initial = m.state == RegionState::Unknown;
    m.state = state;
    const auto region = m.region;
    if (state == RegionState::Inside && region.notifyOnEntry) {
      post([region](auto& d) { d.didEnterRegion(region); });
    } else if (state == RegionState::Outside && !initial && region.notifyOnExit) {
      post([region](auto& d) { d.didExitRegion(region); });
    }
    post([region, state](auto& d) { d.didDetermineState(state, region); });
  }

  void stopMonitoringLocked(const std::string& id) {
    auto it = monitored_.find(id);
    if (it == monitored_.end()) return;
    sim_->timeline_->cancel(it->second.exitTimer);
    monitored_.erase(it);
  }

  void stopRangingLocked(const std::string& id) {
    auto it = ranged_.find(id);
    if (it == ranged_.end()) return;
    sim_->timeline_->cancel(it->second.tick);
    ranged_.erase(it);
  }

  void scheduleTickLocked(Ranged& r, std::int64_t at) {
    std::weak_ptr<SimLocationManager> weak = weak_from_this();
    const std::string id = r.region.identifier();
    r.tick = sim_->timeline_->at(at, [weak, id, at] {
      if (auto self = weak.lock()) self->tick(id, at);
    });
  }

  void tick(const std::string& id, std::int64_t at) {
    std::lock_guard lock(sim_->mutex_);
    auto it = ranged_.find(id);
    if (it == ranged_.end()) return;
    if (sim_->activeLocked()) {
      auto beacons = sim_->rangingReportLocked(it->second.region, at);
      const auto region = it->second.region;
      post([beacons = std::move(beacons), region](auto& d) { d.didRangeBeacons(beacons, region); });
    }
    scheduleTickLocked(it->second, at + SimTimeline::toMicros(1));
  }

  template <class Call>
  void post(Call call) {
    std::weak_ptr<location::LocationManagerDelegate> delegate = delegate_;
    queue_->async([delegate, call] {
      if (auto d = delegate.lock()) call(*d);
    });
  }

  const std::shared_ptr<SimLocation> sim_;
  const std::weak_ptr<location::LocationManagerDelegate> delegate_;
  const std::shared_ptr<dispatch::Queue> queue_;
  std::map<std::string, Monitored> monitored_;
  std::map<std::string, Ranged> ranged_;
  bool updating_ = false;
  bool significant_ = false;
  double distanceFilter_ = -1;
  std::optional<location::Location> last_;
  std::optional<location::Location> delivered_;
};

std::shared_ptr<SimLocation> SimLocation::create(std::shared_ptr<dispatch::Scheduler> scheduler,
                                                 std::shared_ptr<SimRadio> radio) {
  std::shared_ptr<SimLocation> sim(new SimLocation(std::move(scheduler)));
  if (radio) {
    std::weak_ptr<SimLocation> weak = sim;
    sim->radio_ = radio;
    sim->airObserver_ = radio->addAirObserver([weak](const Uuid&, const bluetooth::AdvertisementData& ad, int rssi) {
      if (!SimRadio::isIBeaconFrame(ad)) return;
      auto self = weak.lock();
      if (!self) return;
      const Bytes& m = *ad.manufacturerData;
      Uuid::Bytes uuid{};
      std::copy(m.begin() + 4, m.begin() + 20, uuid.begin());
      const auto major = static_cast<std::uint16_t>(m[20] << 8 | m[21]);
      const auto minor = static_cast<std::uint16_t>(m[22] << 8 | m[23]);
      const int measuredPower = static_cast<std::int8_t>(m[24]);
      self->onFrame(Uuid(uuid), major, minor, measuredPower, rssi);
    });
  }
  return sim;
}

SimLocation::SimLocation(std::shared_ptr<dispatch::Scheduler> scheduler)
    : scheduler_(std::move(scheduler)), timeline_(SimTimeline::create(scheduler_, "platform.sim.location")) {}

SimLocation::~SimLocation() {
  if (auto radio = radio_.lock()) radio->removeAirObserver(airObserver_);
}

AuthorizationStatus SimLocation::authorizationStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}
bool SimLocation::locationServicesEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}
bool SimLocation::isMonitoringAvailableForBeaconRegions() const {
  std::lock_guard lock(mutex_);
  return capabilities_.monitoring;
}
bool SimLocation::isRangingAvailable() const {
  std::lock_guard lock(mutex_);
  return capabilities_.ranging;
}
bool SimLocation::significantLocationChangeMonitoringAvailable() const {
  std::lock_guard lock(mutex_);
  return capabilities_.significantChanges;
}

std::shared_ptr<location::LocationManager> SimLocation::makeManager(
    std::weak_ptr<location::LocationManagerDelegate> delegate, std::shared_ptr<dispatch::Queue> queue) {
  auto manager = std::make_shared<SimLocationManager>(shared_from_this(), std::move(delegate), std::move(queue));
  std::lock_guard lock(mutex_);
  std::erase_if(managers_, [](const auto& m) { return m.expired(); });
  managers_.push_back(manager);
  manager->authorizationLocked(status_);
  return manager;
}

void SimLocation::setAuthorizationStatus(AuthorizationStatus status) {
  std::lock_guard lock(mutex_);
  if (status_ == status) return;
  status_ = status;
  for (const auto& m : managersLocked()) m->authorizationLocked(status);
}

void SimLocation::setAuthorizationAnswer(std::optional<AuthorizationStatus> answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

void SimLocation::setLocationServicesEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

void SimLocation::setCapabilities(Capabilities capabilities) {
  std::lock_guard lock(mutex_);
  capabilities_ = capabilities;
}

void SimLocation::setAccuracyModel(AccuracyModel model) {
  std::lock_guard lock(mutex_);
  accuracy_ = std::move(model);
}

double SimLocation::defaultAccuracy(int measuredPower, int rssi) {
  return std::pow(10.0, static_cast<double>(measuredPower - rssi) / 20.0);
}

void SimLocation::setLocation(location::Location fix) {
  std::lock_guard lock(mutex_);
  for (const auto& m : managersLocked()) m->locationLocked(fix);
}

void SimLocation::failLocationUpdates(Error error) {
  std::lock_guard lock(mutex_);
  for (const auto& m : managersLocked()) m->locationFailureLocked(error);
}

void SimLocation::failMonitoring(std::string regionIdentifier, Error error) {
  std::lock_guard lock(mutex_);
  monitoringFailures_.insert_or_assign(std::move(regionIdentifier), std::move(error));
}

void SimLocation::failRanging(const std::string& regionIdentifier, Error error) {
  std::lock_guard lock(mutex_);
  for (const auto& m : managersLocked()) m->rangingFailureLocked(regionIdentifier, error);
}

void SimLocation::hear(const Uuid& uuid, std::uint16_t major, std::uint16_t minor, int measuredPower, int rssi) {
  onFrame(uuid, major, minor, measuredPower, rssi);
}

void SimLocation::onFrame(const Uuid& uuid, std::uint16_t major, std::uint16_t minor, int measuredPower, int rssi) {
  std::lock_guard lock(mutex_);
  const std::int64_t now = timeline_->nowMicros();
  heard_[{uuid, major, minor}] = Heard{now, rssi, measuredPower};
  if (heard_.size() >= std::max<std::size_t>(64, 2 * heardSweptSize_)) {
    const std::int64_t window = SimTimeline::toMicros(std::max(kInsideWindowSeconds, kRangedStaleSeconds));
    std::erase_if(heard_, [&](const auto& entry) { return now - entry.second.at >= window; });
    heardSweptSize_ = heard_.size();
  }
  if (!activeLocked()) return;
  for (const auto& m : managersLocked()) m->frameLocked(uuid, major, minor, now);
}

bool SimLocation::activeLocked() const {
  return enabled_ &&
         (status_ == AuthorizationStatus::AuthorizedAlways || status_ == AuthorizationStatus::AuthorizedWhenInUse);
}

std::vector<Beacon> SimLocation::rangingReportLocked(const BeaconRegion& region, std::int64_t now) const {
  std::vector<Beacon> fresh;
  std::vector<Beacon> stale;
  const Date stamp = scheduler_->clock()->now();
  for (const auto& [key, heard] : heard_) {
    const auto& [uuid, major, minor] = key;
    if (!region.matches(uuid, major, minor)) continue;
    const std::int64_t age = now - heard.at;
    Beacon b{.proximityUUID = uuid, .major = major, .minor = minor, .timestamp = stamp};
    if (age <= SimTimeline::toMicros(kRangedWindowSeconds)) {
      b.rssi = heard.rssi;
      // An RSSI the radio could not measure (0 or 127) gives no distance.
      b.accuracy = heard.rssi < 0 ? (accuracy_ ? accuracy_(heard.measuredPower, heard.rssi)
                                               : defaultAccuracy(heard.measuredPower, heard.rssi))
                                  : -1;
      b.proximity = proximityFor(b.accuracy);
      fresh.push_back(b);
    } else if (age < SimTimeline::toMicros(kRangedStaleSeconds)) {
      stale.push_back(b);
    }
  }
  // Nearest first, as the platform orders them; beacons without a distance after those with one.
  std::stable_sort(fresh.begin(), fresh.end(), [](const Beacon& a, const Beacon& b) {
    if ((a.accuracy < 0) != (b.accuracy < 0)) return b.accuracy < 0;
    return a.accuracy < b.accuracy;
  });
  fresh.insert(fresh.end(), stale.begin(), stale.end());
  return fresh;
}

std::vector<std::shared_ptr<SimLocationManager>> SimLocation::managersLocked() const {
  std::vector<std::shared_ptr<SimLocationManager>> out;
  for (const auto& weak : managers_) {
    if (auto m = weak.lock()) out.push_back(std::move(m));
  }
  return out;
}

}  // namespace velmora::platform::sim
