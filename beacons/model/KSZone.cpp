#include "beacons/model/KSZone.h"

#include "beacons/model/KSSite.h"

namespace velmora::kestrine {

std::shared_ptr<KSSite> KSZone::site() const { return f_.get(&Fields::site); }

void KSZone::setSite(const std::shared_ptr<KSSite>& site) { f_.set(&Fields::site, site ? site->copy() : nullptr); }

std::optional<platform::Date> KSZone::lastEntered() const {
  const Fields f = f_.snapshot();
  return f.reenteredZoneAt ? f.reenteredZoneAt : f.enteredZoneAt;
}

}  // namespace velmora::kestrine
