#include "beacons/model/KSResource.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSResource::jsonClass() {
  using R = KSResource;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<R>("KSResource", [](auto& c) {
    c.keyMapper({{"id", "resourceID"}, {"url", "URL"}, {"secureUrl", "secureURL"}});
    c.allOptional();
    c.whitelist({"resourceID", "URL", "secureURL", "publicID", "version", "format", "resourceType"});
    c.text("resourceID", &R::resourceID, &R::setResourceID);
    c.text("URL", &R::URL, &R::setURL);
    c.text("secureURL", &R::secureURL, &R::setSecureURL);
    c.text("publicID", &R::publicID, &R::setPublicID);
    c.text("version", &R::version, &R::setVersion);
    c.text("format", &R::format, &R::setFormat);
    c.text("resourceType", &R::resourceType, &R::setResourceType);
    c.date("createdAt", &R::createdAt, &R::setCreatedAt);
    c.text("createdBy", &R::createdBy, &R::setCreatedBy);
  });
  return cls;
}

}  // namespace velmora::kestrine
