#include "beacons/model/KSNetworkAccessRole.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSNetworkAccessRole::jsonClass() {
  using R = KSNetworkAccessRole;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<R>("KSNetworkAccessRole", [](auto& c) {
    c.keyMapper({{"id", "networkAccessRoleID"}});
    c.allOptional();
    c.scalar("networkAccessRoleID", &R::networkAccessRoleID, &R::setNetworkAccessRoleID);
    c.text("name", &R::name, &R::setName);
  });
  return cls;
}

}  // namespace velmora::kestrine
