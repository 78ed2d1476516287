#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>


namespace velmora::platform::dispatch {
class Queue;
}

namespace velmora::kestrine {

class KSBeacon;
class KSSite;

// What the internal site manager tells its subscribers. Every method is optional; `state`
// is the platform's region state (0 unknown, 1 inside, 2 outside).
//
// One ranging pass reaches a subscriber as: for each site in the pass its enter (when it was
// not inside) and its per-site ranging, then the exits, then the pass's beacons, then the
// groups by siteID with the ranged sites.
class KSSiteManagerInternalDelegate {
 public:
  // Named apart from the hub protocol's aliases: the facade implements both.
  using SiteBeacons = std::vector<std::shared_ptr<KSBeacon>>;
  using SiteList = std::vector<std::shared_ptr<KSSite>>;
  using BeaconsForSiteID = std::map<std::string, SiteBeacons>;

  virtual ~KSSiteManagerInternalDelegate() = default;
  virtual void siteManagerDidRemoveAllActivityMonitors() {}
  virtual void siteManagerInternalDidCacheSites(SiteList) {}
  virtual void siteManagerInternalDidRestoreSites(SiteList) {}
  virtual void siteManagerInternalDidSyncSites(SiteList) {}
  virtual void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite>) {}
  virtual void siteManagerInternalDidExitSite(std::shared_ptr<KSSite>) {}
  virtual void siteManagerInternalDidDetermineStateForSite(unsigned long /*state*/, std::shared_ptr<KSSite>) {}
  // One site's group of a pass; the site is null for the "" group and for uncached sites.
  virtual void siteManagerInternalDidRangeBeaconsInSite(SiteBeacons, std::shared_ptr<KSSite>) {}
  // The pass's groups ("" for beacons without a siteID) and the cached sites among them.
  virtual void siteManagerInternalDidRangeBeaconsForSiteIDInSites(BeaconsForSiteID, SiteList) {}
  // Every beacon of the pass.
  virtual void siteManagerInternalDidRangeBeacons(SiteBeacons) {}
};

// Subscribing to the internal site manager, and asking it for a site's state (answered
// through siteManagerInternalDidDetermineStateForSite). The site manager implements it and
// is found in the registry under kSingletonName.
class KSSiteManagerSubscription {
 public:
  static constexpr std::string_view kSingletonName = "KSSiteManagerSubscription";
  virtual ~KSSiteManagerSubscription() = default;
  virtual void addDelegate(std::shared_ptr<KSSiteManagerInternalDelegate> delegate) = 0;
  virtual void removeDelegate(const KSSiteManagerInternalDelegate* delegate) = 0;
  virtual void requestStateForSite(std::shared_ptr<KSSite> site) = 0;
};

}  // namespace velmora::kestrine
