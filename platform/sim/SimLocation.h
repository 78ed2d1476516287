#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/location/LocationManager.h"
#include "platform/sim/SimRadio.h"
#include "platform/sim/SimTimeline.h"

namespace velmora::platform::sim {

class SimLocationManager;

// Simulated location services. They hear the iBeacon frames of a SimRadio's air (or
// frames handed to hear()) and monitor and range beacon regions from them; authorisation,
// capabilities, failures and positions are scripted.
//
// - Monitoring: a region is inside while a matching beacon was heard within the last 10 s.
//   Each change reports enter or exit (when the region asks for it), then the state. The
//   first state after monitoring starts is reported as a state alone, plus an enter when it
//   is inside.
// - Ranging: every ranged region gets one report per virtual second from the moment
//   ranging started, also when empty: the beacons heard within the last second with
//   their latest RSSI, an accuracy from the accuracy model and the proximity from that
//   accuracy (< 0.5 m immediate, < 3 m near, else far), followed by those last heard
//   under 3 s ago with RSSI 0, accuracy -1 and proximity unknown.
// - Managers hear and report nothing while location services are off or not authorised
//   (status 3 or 4); each gets the status once after it is made.
// Timed work runs on the simulation's own serial queue; reports go to each manager's queue.
class SimLocation : public location::LocationServices, public std::enable_shared_from_this<SimLocation> {
 public:
  // Metres from the beacon's measured power at 1 m and the received RSSI.
  using AccuracyModel = std::function<double(int measuredPower, int rssi)>;

  static constexpr double kInsideWindowSeconds = 10;
  static constexpr double kRangedWindowSeconds = 1;
  static constexpr double kRangedStaleSeconds = 3;

  // radio may be null; frames then come only through hear().
  static std::shared_ptr<SimLocation> create(std::shared_ptr<dispatch::Scheduler> scheduler,
                                             std::shared_ptr<SimRadio> radio = nullptr);
  ~SimLocation() override;

  // location::LocationServices
  location::AuthorizationStatus authorizationStatus() const override;
  bool locationServicesEnabled() const override;
  bool isMonitoringAvailableForBeaconRegions() const override;
  bool isRangingAvailable() const override;
  bool significantLocationChangeMonitoringAvailable() const override;
  std::shared_ptr<location::LocationManager> makeManager(std::weak_ptr<location::LocationManagerDelegate> delegate,
                                                         std::shared_ptr<dispatch::Queue> queue) override;

  // Scripting. Status changes are posted to every manager.
  void setAuthorizationStatus(location::AuthorizationStatus status);
  // The answer a request for authorisation gets while the status is not determined;
  // nullopt (the default) leaves the request unanswered.
  void setAuthorizationAnswer(std::optional<location::AuthorizationStatus> answer);
  void setLocationServicesEnabled(bool enabled);
  struct Capabilities {
    bool monitoring = true;
    bool ranging = true;
    bool significantChanges = true;
  };
  void setCapabilities(Capabilities capabilities);
  void setAccuracyModel(AccuracyModel model);
  static double defaultAccuracy(int measuredPower, int rssi);
  // A new position, reported to the managers that update locations.
  void setLocation(location::Location fix);
  void failLocationUpdates(Error error);
  // The next startMonitoring of a region with that identifier fails with the error.
  void failMonitoring(std::string regionIdentifier, Error error);
  // Managers ranging a region with that identifier report the failure.
  void failRanging(const std::string& regionIdentifier, Error error);

  // One iBeacon frame heard now (the radio's frames arrive here too).
  void hear(const Uuid& uuid, std::uint16_t major, std::uint16_t minor, int measuredPower, int rssi);

  const std::shared_ptr<SimTimeline>& timeline() const { return timeline_; }

 private:
  friend class SimLocationManager;
  explicit SimLocation(std::shared_ptr<dispatch::Scheduler> scheduler);

  struct Heard {
    std::int64_t at = 0;
    int rssi = 0;
    int measuredPower = 0;
  };
  using BeaconKey = std::tuple<Uuid, std::uint16_t, std::uint16_t>;

  bool activeLocked() const;
  std::vector<location::Beacon> rangingReportLocked(const location::BeaconRegion& region, std::int64_t now) const;
  std::vector<std::shared_ptr<SimLocationManager>> managersLocked() const;
  void onFrame(const Uuid& uuid, std::uint16_t major, std::uint16_t minor, int measuredPower, int rssi);

  const std::shared_ptr<dispatch::Scheduler> scheduler_;
  const std::shared_ptr<SimTimeline> timeline_;
  std::weak_ptr<SimRadio> radio_;
  std::uint64_t airObserver_ = 0;

  mutable std::recursive_mutex mutex_;
  location::AuthorizationStatus status_ = location::AuthorizationStatus::NotDetermined;
  std::optional<location::AuthorizationStatus> answer_;
  bool enabled_ = true;
  Capabilities capabilities_;
  AccuracyModel accuracy_;
  // Frames older than the inside window count for nothing; they are swept once the table
  // has doubled, so a stream of passing beacons keeps it to those heard lately.
  std::map<BeaconKey, Heard> heard_;
  std::size_t heardSweptSize_ = 0;
  std::map<std::string, Error> monitoringFailures_;
  std::vector<std::weak_ptr<SimLocationManager>> managers_;
};

}  // namespace velmora::platform::sim
