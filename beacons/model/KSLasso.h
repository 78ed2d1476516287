#pragma once

#include <memory>
#include <string_view>

namespace velmora::kestrine {

class KSBeacon;

// A beacon with the distance within which it counts as in reach: the upper bound, in the
// unit of the beacon's accuracy estimate (metres), of the accuracy range that redeems it.
// Both are fixed when the lasso is made.
class KSLasso {
 public:
  static constexpr double defaultRedemptionRadius = 0.25;
  static constexpr std::string_view redemptionRadiusKey = "LassoRedemptionRadius";

  // The radius is the beacon's "LassoRedemptionRadius" custom value when it has one (read
  // as redemptionRadiusFromText does), else 0.25.
  explicit KSLasso(std::shared_ptr<KSBeacon> beacon);
  static std::shared_ptr<KSLasso> initWithBeacon(std::shared_ptr<KSBeacon> beacon);

  const std::shared_ptr<KSBeacon>& beacon() const { return beacon_; }
  double redemptionRadius() const { return redemptionRadius_; }

  // The number a text starts with, the same in every locale: leading white space is
  // skipped, then the longest decimal prefix is read ("2.5m" is 2.5). 0 when there is no
  // number or it is not finite ("abc", "nan", "inf").
  static double redemptionRadiusFromText(std::string_view text);

 private:
  std::shared_ptr<KSBeacon> beacon_;
  double redemptionRadius_ = defaultRedemptionRadius;
};

}  // namespace velmora::kestrine
