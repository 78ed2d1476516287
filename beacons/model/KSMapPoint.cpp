#include "beacons/model/KSMapPoint.h"

#include <fmt/format.h>

namespace velmora::kestrine {

const KSJSONModelClass& KSMapPoint::jsonClass() {
  using M = KSMapPoint;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<M>("KSMapPoint", [](auto& c) {
    c.keyMapper({{"id", "mapPointID"}});
    c.allOptional();
    c.text("mapPointID", &M::mapPointID, &M::setMapPointID);
    c.text("mapID", &M::mapID, &M::setMapID);
    c.text("mapName", &M::mapName, &M::setMapName);
    c.record("point", &M::point, &M::setPoint);
    c.date("modifiedAt", &M::modifiedAt, &M::setModifiedAt);
  });
  return cls;
}

std::string KSMapPoint::description() const {
  return fmt::format("{} {}", mapID_.value_or("(null)"), point_ ? point_->description() : std::string("(null)"));
}

}  // namespace velmora::kestrine
