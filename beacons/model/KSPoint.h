#pragma once

#include <memory>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace velmora::kestrine {

// A position on a site map, in map coordinates. JSON keys equal the property names.
class KSPoint : public KSJSONRecord<KSPoint> {
 public:
  static const KSJSONModelClass& jsonClass();

  static std::shared_ptr<KSPoint> pointWithXY(double x, double y);

  double x() const { return x_; }
  void setX(double v) { x_ = v; }
  double y() const { return y_; }
  void setY(double v) { y_ = v; }

  // "(x, y)", each with six fraction digits: "(1.500000, -2.000000)".
  std::string description() const override;

 private:
  double x_ = 0.0;
  double y_ = 0.0;
};

}  // namespace velmora::kestrine
