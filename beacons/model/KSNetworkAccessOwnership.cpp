#include "beacons/model/KSNetworkAccessOwnership.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSNetworkAccessOwnership::jsonClass() {
  using O = KSNetworkAccessOwnership;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<O>("KSNetworkAccessOwnership", [](auto& c) {
    c.keyMapper({{"id", "networkAccessOwnershipID"}});
    c.allOptional();
    c.scalar("networkAccessOwnershipID", &O::networkAccessOwnershipID, &O::setNetworkAccessOwnershipID);
    c.text("name", &O::name, &O::setName);
  });
  return cls;
}

std::string KSNetworkAccessOwnership::description() const {
  if (name_) return *name_;
  switch (networkAccessOwnershipID_) {
    case 1: return "Owned";
    case 2: return "Shared";
    case 3: return "Public";
    default: return "Unknown";
  }
}

}  // namespace velmora::kestrine
