#include "beacons/microlocation/KSSiteActivityMonitor.h"

#include <utility>

#include "beacons/model/KSModelClock.h"

namespace velmora::kestrine {

KSSiteActivityMonitor::KSSiteActivityMonitor(std::string siteID, std::shared_ptr<const platform::Clock> clock)
    : siteID_(std::move(siteID)), clock_(std::move(clock)) {}

platform::Date KSSiteActivityMonitor::now() const { return clock_ ? clock_->now() : KSModelClock::now(); }

void KSSiteActivityMonitor::startMonitoringSite() {
  const auto at = now();
  f_.update([&](Fields& f) {
    f.startedMonitoringSiteAt = at;
    f.monitoringSite = true;
  });
}

void KSSiteActivityMonitor::stopMonitoringSite() {
  const auto at = now();
  f_.update([&](Fields& f) {
    if (f.rangingBeacons) {
      f.rangingBeacons = false;
      f.stoppedRangingBeaconsAt = at;
    }
    f.monitoringSite = false;
    f.stoppedMonitoringSiteAt = at;
  });
}

void KSSiteActivityMonitor::startRangingBeacons() {
  const auto at = now();
  f_.update([&](Fields& f) {
    if (!f.monitoringSite) {
      f.startedMonitoringSiteAt = at;
      f.monitoringSite = true;
    }
    f.startedRangingBeaconsAt = at;
    f.rangingBeacons = true;
  });
}

void KSSiteActivityMonitor::stopRangingBeacons() {
  const auto at = now();
  f_.update([&](Fields& f) {
    f.rangingBeacons = false;
    f.stoppedRangingBeaconsAt = at;
  });
}

void KSSiteActivityMonitor::enteredSite() {
  const auto at = now();
  f_.update([&](Fields& f) {
    f.enteredSiteAt = at;
    f.siteState = KSSiteStateInside;
  });
}

void KSSiteActivityMonitor::exitedSite() {
  const auto at = now();
  f_.update([&](Fields& f) {
    f.exitedSiteAt = at;
    f.siteState = KSSiteStateOutside;
  });
}

void KSSiteActivityMonitor::rangedBeacons(const Beacons& beacons) {
  const auto at = now();
  Beacons copy = beacons;
  f_.update([&](Fields& f) {
    f.lastRangedBeaconsAt = at;
    if (!copy.empty()) f.lastRangedAndFoundBeaconsAt = at;
    std::swap(f.lastRangedBeacons, copy);  // the old list is released after the lock
  });
}

}  // namespace velmora::kestrine
