#include "beacons/model/KSSiteAccessType.h"

namespace kestrine {

const KSJSONModelClass& KSSiteAccessType::jsonClass() {
  using T = KSSiteAccessType;
  static const KSJSONModelClass cls = KSJSONModelClass::define<T>("KSSiteAccessType", [](auto& c) {
    c.keyMapper({{"id", "siteAccessTypeID"}});
    c.allOptional();
    c.scalar("siteAccessTypeID", &T::siteAccessTypeID, &T::setSiteAccessTypeID);
    c.text("name", &T::name, &T::setName);
    c.text("displayName", &T::displayName, &T::setDisplayName);
  });
  return cls;
}

std::shared_ptr<KSSiteAccessType> KSSiteAccessType::siteAccessTypeWithPublic(bool isPublic) {
  auto type = std::make_shared<KSSiteAccessType>();
  type->setSiteAccessTypeID(isPublic ? 1 : 2);
  return type;
}

std::string KSSiteAccessType::description() const {
  if (displayName_) return *displayName_;
  return name_.value_or(std::string());
}

}  // namespace kestrine
