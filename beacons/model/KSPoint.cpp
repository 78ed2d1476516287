#include "beacons/model/KSPoint.h"

#include <fmt/format.h>

namespace velmora::kestrine {

const KSJSONModelClass& KSPoint::jsonClass() {
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<KSPoint>("KSPoint", [](auto& c) {
    c.allOptional();
    c.scalar("x", &KSPoint::x, &KSPoint::setX);
    c.scalar("y", &KSPoint::y, &KSPoint::setY);
  });
  return cls;
}

std::shared_ptr<KSPoint> KSPoint::pointWithXY(double x, double y) {
  auto point = std::make_shared<KSPoint>();
  point->setX(x);
  point->setY(y);
  return point;
}

std::string KSPoint::description() const { return fmt::format("({:f}, {:f})", x_, y_); }

}  // namespace velmora::kestrine
