#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSResource.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

// A map image of a site with its scale: the map coordinates of two scale markers A and B
// and the scale factors. JSON "id" is mapID; the export carries the eleven map fields.
class KSMap : public KSJSONRecord<KSMap> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& mapID() const { return mapID_; }
  void setMapID(std::optional<std::string> v) { mapID_ = std::move(v); }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& siteID() const { return siteID_; }
  void setSiteID(std::optional<std::string> v) { siteID_ = std::move(v); }
  // The stored image of the map (shared; a copy of the map copies it).
  const std::shared_ptr<KSResource>& mapResource() const { return mapResource_; }
  void setMapResource(std::shared_ptr<KSResource> v) { mapResource_ = std::move(v); }
  std::int64_t mapPointCount() const { return mapPointCount_; }
  void setMapPointCount(std::int64_t v) { mapPointCount_ = v; }
  const platform::Value& scaleX() const { return scaleX_; }
  void setScaleX(platform::Value v) { scaleX_ = std::move(v); }
  const platform::Value& scaleY() const { return scaleY_; }
  void setScaleY(platform::Value v) { scaleY_ = std::move(v); }
  const platform::Value& scaleMarkerAx() const { return scaleMarkerAx_; }
  void setScaleMarkerAx(platform::Value v) { scaleMarkerAx_ = std::move(v); }
  const platform::Value& scaleMarkerAy() const { return scaleMarkerAy_; }
  void setScaleMarkerAy(platform::Value v) { scaleMarkerAy_ = std::move(v); }
  const platform::Value& scaleMarkerBx() const { return scaleMarkerBx_; }
  void setScaleMarkerBx(platform::Value v) { scaleMarkerBx_ = std::move(v); }
  const platform::Value& scaleMarkerBy() const { return scaleMarkerBy_; }
  void setScaleMarkerBy(platform::Value v) { scaleMarkerBy_ = std::move(v); }

 private:
  std::optional<std::string> mapID_, name_, siteID_;
  std::shared_ptr<KSResource> mapResource_;
  std::int64_t mapPointCount_ = 0;
  platform::Value scaleX_, scaleY_, scaleMarkerAx_, scaleMarkerAy_, scaleMarkerBx_, scaleMarkerBy_;
};

}  // namespace velmora::kestrine
