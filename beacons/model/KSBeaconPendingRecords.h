#pragma once

// The nested records a beacon holds, and a stand-in for the site record until its own header
// exists: it carries the site's identifier (JSON "id") and name. When the site record
// arrives, this stand-in gives way to its include.

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSBatteryStatus.h"
#include "beacons/model/KSBeaconLoudness.h"
#include "beacons/model/KSBeaconMode.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSCustomValue.h"
#include "beacons/model/KSEddystone.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSNetworkAccess.h"
#include "beacons/model/KSTargetSpeed.h"

namespace kestrine {

class KSSite : public KSJSONRecord<KSSite> {
 public:
  static const KSJSONModelClass& jsonClass() {
    static const KSJSONModelClass cls = KSJSONModelClass::define<KSSite>("KSSite", [](auto& c) {
      c.keyMapper({{"id", "siteID"}});
      c.allOptional();
      c.text("siteID", &KSSite::siteID, &KSSite::setSiteID);
      c.text("name", &KSSite::name, &KSSite::setName);
    });
    return cls;
  }
  std::optional<std::string> siteID() const { return siteID_; }
  void setSiteID(std::optional<std::string> v) { siteID_ = std::move(v); }
  std::optional<std::string> name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }

 private:
  std::optional<std::string> siteID_, name_;
};

}  // namespace kestrine
