#include "beacons/model/KSSiteAccessType.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSSiteAccessType::jsonClass() {
  using T = KSSiteAccessType;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<T>("KSSiteAccessType", [](auto& c) {
    c.keyMapper({{"id", "siteAccessTypeID"}});
    c.allOptional();
    c.scalar("siteAccessTypeID", &T::siteAccessTypeID, &T::setSiteAccessTypeID);
    defineNames(c);
  });
  return cls;
}

std::shared_ptr<KSSiteAccessType> KSSiteAccessType::siteAccessTypeWithPublic(bool isPublic) {
  auto type = std::make_shared<KSSiteAccessType>();
  type->setSiteAccessTypeID(isPublic ? 1 : 2);
  return type;
}


}  // namespace velmora::kestrine
