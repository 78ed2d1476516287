#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSPoint.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

// Where a beacon sits on one of its site's maps. Exported in full.
class KSMapPoint : public KSJSONRecord<KSMapPoint> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& mapPointID() const { return mapPointID_; }
  void setMapPointID(std::optional<std::string> v) { mapPointID_ = std::move(v); }
  const std::optional<std::string>& mapID() const { return mapID_; }
  void setMapID(std::optional<std::string> v) { mapID_ = std::move(v); }
  const std::optional<std::string>& mapName() const { return mapName_; }
  void setMapName(std::optional<std::string> v) { mapName_ = std::move(v); }
  const std::shared_ptr<KSPoint>& point() const { return point_; }
  // Keeps a copy of the point, so the caller's point can change without moving this one.
  void setPoint(const std::shared_ptr<KSPoint>& v) { point_ = v ? v->copy() : nullptr; }
  const std::optional<platform::Date>& modifiedAt() const { return modifiedAt_; }
  void setModifiedAt(std::optional<platform::Date> v) { modifiedAt_ = v; }

  // The map id and the point's description, "(null)" for either that is missing.
  std::string description() const override;

 private:
  std::optional<std::string> mapPointID_, mapID_, mapName_;
  std::shared_ptr<KSPoint> point_;
  std::optional<platform::Date> modifiedAt_;
};

}  // namespace velmora::kestrine
