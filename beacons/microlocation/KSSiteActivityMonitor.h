#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Clock.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;

// KSSiteState.
enum KSSiteState : std::uint64_t {
  KSSiteStateUnknown = 0,
  KSSiteStateInside = 1,
  KSSiteStateOutside = 2,
};

// The activity record of one site: whether it is monitored and ranged, when it was entered
// and left, and what the last ranging pass found of it. The site manager and the
// micro-location manager keep one each per site, and read them from several queues, so
// every field sits behind the record's lock and each operation changes its fields as one
// step. Times come from the clock given (the model clock when none is).
class KSSiteActivityMonitor {
 public:
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;

  explicit KSSiteActivityMonitor(std::string siteID, std::shared_ptr<const platform::Clock> clock = nullptr);
  static std::shared_ptr<KSSiteActivityMonitor> initWithSiteID(std::string siteID,
                                                               std::shared_ptr<const platform::Clock> clock = nullptr) {
    return std::make_shared<KSSiteActivityMonitor>(std::move(siteID), std::move(clock));
  }

  const std::string& siteID() const { return siteID_; }
  std::optional<platform::Date> startedMonitoringSiteAt() const { return f_.get(&Fields::startedMonitoringSiteAt); }
  std::optional<platform::Date> stoppedMonitoringSiteAt() const { return f_.get(&Fields::stoppedMonitoringSiteAt); }
  bool isMonitoringSite() const { return f_.get(&Fields::monitoringSite); }
  std::optional<platform::Date> startedRangingBeaconsAt() const { return f_.get(&Fields::startedRangingBeaconsAt); }
  std::optional<platform::Date> stoppedRangingBeaconsAt() const { return f_.get(&Fields::stoppedRangingBeaconsAt); }
  bool isRangingBeacons() const { return f_.get(&Fields::rangingBeacons); }
  std::optional<platform::Date> enteredSiteAt() const { return f_.get(&Fields::enteredSiteAt); }
  std::optional<platform::Date> exitedSiteAt() const { return f_.get(&Fields::exitedSiteAt); }
  std::uint64_t siteState() const { return f_.get(&Fields::siteState); }
  std::optional<platform::Date> lastRangedBeaconsAt() const { return f_.get(&Fields::lastRangedBeaconsAt); }
  std::optional<platform::Date> lastRangedAndFoundBeaconsAt() const {
    return f_.get(&Fields::lastRangedAndFoundBeaconsAt);
  }
  Beacons lastRangedBeacons() const { return f_.get(&Fields::lastRangedBeacons); }

  void startMonitoringSite();
  // Stops ranging first when it is on.
  void stopMonitoringSite();
  // Starts monitoring first when it is off.
  void startRangingBeacons();
  void stopRangingBeacons();
  void enteredSite();
  void exitedSite();
  // Keeps a copy of the pass's beacons of this site; a pass that found some also moves
  // lastRangedAndFoundBeaconsAt to the same time.
  void rangedBeacons(const Beacons& beacons);

 private:
  struct Fields {
    std::optional<platform::Date> startedMonitoringSiteAt, stoppedMonitoringSiteAt;
    bool monitoringSite = false;
    std::optional<platform::Date> startedRangingBeaconsAt, stoppedRangingBeaconsAt;
    bool rangingBeacons = false;
    std::optional<platform::Date> enteredSiteAt, exitedSiteAt;
    std::uint64_t siteState = KSSiteStateUnknown;
    std::optional<platform::Date> lastRangedBeaconsAt, lastRangedAndFoundBeaconsAt;
    Beacons lastRangedBeacons;
  };
  platform::Date now() const;

  const std::string siteID_;
  const std::shared_ptr<const platform::Clock> clock_;
  KSGuardedFields<Fields> f_;
};

}  // namespace velmora::kestrine
