#include "beacons/model/KSNetworkAccess.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSNetworkAccess::jsonClass() {
  using N = KSNetworkAccess;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<N>("KSNetworkAccess", [](auto& c) {
    c.allOptional();
    c.date("beginsAt", &N::beginsAt, &N::setBeginsAt);
    c.date("endsAt", &N::endsAt, &N::setEndsAt);
    c.scalar("maxSecondsBeforeRevalidation", &N::maxSecondsBeforeRevalidation, &N::setMaxSecondsBeforeRevalidation);
    c.record("ownership", &N::ownership, &N::setOwnership);
    c.records("permittedRoles", &N::permittedRoles, &N::setPermittedRoles);
  });
  return cls;
}

}  // namespace velmora::kestrine
