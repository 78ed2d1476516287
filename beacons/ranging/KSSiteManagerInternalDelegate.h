#pragma once

#include <memory>
#include <vector>

#include "beacons/foundation/KSRespondsTable.h"

namespace platform::dispatch {
class Queue;
}

namespace kestrine {

class KSBeacon;
class KSSite;

// What the internal site manager tells its subscribers. Every method is optional; `state`
// is the platform's region state (0 unknown, 1 inside, 2 outside).
class KSSiteManagerInternalDelegate {
 public:
  virtual ~KSSiteManagerInternalDelegate() = default;
  virtual void siteManagerInternalDidEnterSite(std::shared_ptr<KSSite>) {}
  virtual void siteManagerInternalDidExitSite(std::shared_ptr<KSSite>) {}
  // The maker's beacons ranged in a site.
  virtual void siteManagerInternalDidRangeBeacons(std::vector<std::shared_ptr<KSBeacon>>) {}
  virtual void siteManagerInternalDidDetermineStateForSite(unsigned long /*state*/, std::shared_ptr<KSSite>) {}

  template <class D>
  static KSRespondsTable respondsTable() {
    using P = KSSiteManagerInternalDelegate;
    return KSRespondsTable()
        .with(&P::siteManagerInternalDidEnterSite, &D::siteManagerInternalDidEnterSite)
        .with(&P::siteManagerInternalDidExitSite, &D::siteManagerInternalDidExitSite)
        .with(&P::siteManagerInternalDidRangeBeacons, &D::siteManagerInternalDidRangeBeacons)
        .with(&P::siteManagerInternalDidDetermineStateForSite, &D::siteManagerInternalDidDetermineStateForSite);
  }
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

}  // namespace kestrine
