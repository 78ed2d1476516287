#include "beacons/model/KSMap.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSMap::jsonClass() {
  using M = KSMap;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<M>("KSMap", [](auto& c) {
    c.keyMapper({{"id", "mapID"}});
    c.allOptional();
    c.whitelist({"mapID", "name", "siteID", "mapResource", "mapPointCount", "scaleX", "scaleY", "scaleMarkerAx",
                 "scaleMarkerAy", "scaleMarkerBx", "scaleMarkerBy"});
    c.text("mapID", &M::mapID, &M::setMapID);
    c.text("name", &M::name, &M::setName);
    c.text("siteID", &M::siteID, &M::setSiteID);
    c.record("mapResource", &M::mapResource, &M::setMapResource);
    c.scalar("mapPointCount", &M::mapPointCount, &M::setMapPointCount);
    c.number("scaleX", &M::scaleX, &M::setScaleX);
    c.number("scaleY", &M::scaleY, &M::setScaleY);
    c.number("scaleMarkerAx", &M::scaleMarkerAx, &M::setScaleMarkerAx);
    c.number("scaleMarkerAy", &M::scaleMarkerAy, &M::setScaleMarkerAy);
    c.number("scaleMarkerBx", &M::scaleMarkerBx, &M::setScaleMarkerBx);
    c.number("scaleMarkerBy", &M::scaleMarkerBy, &M::setScaleMarkerBy);
  });
  return cls;
}

}  // namespace velmora::kestrine
