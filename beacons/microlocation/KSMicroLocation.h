#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSMicroLocationSnapshot.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSBeacon;
class KSCategory;
class KSMapPoint;

// A snapshot of where the device is: the sites it is in and the ranged beacons grouped by
// their site's id ("" for beacons without a site). Answers queries by site and proximity
// and gives a map point per site. Not shared between threads while it changes: the owner
// builds it, then hands it out.
class KSMicroLocation : public KSMicroLocationSnapshot {
 public:
  using Beacons = std::vector<std::shared_ptr<KSBeacon>>;
  using Sites = std::vector<std::shared_ptr<KSSite>>;
  using Categories = std::vector<std::shared_ptr<KSCategory>>;
  using Groups = std::map<std::string, Beacons>;

  KSMicroLocation() = default;
  // Keeps the sites, groups the beacons by their site's id in the beacons' order, and keeps
  // the beacon list as allBeacons.
  KSMicroLocation(const Sites& sites, const Beacons& beacons);
  static std::shared_ptr<KSMicroLocation> initWithSites(const Sites& sites, const Beacons& beacons) {
    return std::make_shared<KSMicroLocation>(sites, beacons);
  }

  const std::optional<Sites>& sites() const { return sites_; }
  void setSites(std::optional<Sites> v) { sites_ = std::move(v); }
  const std::optional<Groups>& beaconsForSiteID() const { return beaconsForSiteID_; }
  // Also drops the allBeacons cache.
  void setBeaconsForSiteID(std::optional<Groups> v);
  const std::optional<platform::Date>& timestamp() const { return timestamp_; }
  void setTimestamp(std::optional<platform::Date> v) { timestamp_ = v; }

  // allBeacons when set, else the groups joined (then kept as allBeacons); [] without groups.
  Beacons beacons() const;
  // Every beacon's categories in beacon order, duplicates kept.
  Categories allCategories() const;

  // The site's group within the proximity bound (0 all; 1 immediate; 2 and near; 3 and
  // far), nearest first. [] for an empty id or a site without a group.
  Beacons beaconsForSiteID(const std::string& siteID, std::uint64_t proximity) const;
  Beacons beaconsForSite(const std::shared_ptr<KSSite>& site, std::uint64_t proximity) const;
  Beacons beaconsInProximity(std::uint64_t proximity) const;
  Categories categoriesForSiteID(const std::string& siteID, std::uint64_t proximity) const;
  Categories categoriesForSite(const std::shared_ptr<KSSite>& site, std::uint64_t proximity) const;
  Sites sitesWithBeaconsInProximity(std::uint64_t proximity) const;
  Sites sitesWithCategoriesInProximity(std::uint64_t proximity) const;

  // The map point of the site's immediate beacons, else of its immediate and near ones.
  std::shared_ptr<KSMapPoint> mapPointForSiteID(const std::string& siteID) const;
  std::shared_ptr<KSMapPoint> mapPointForSite(const std::shared_ptr<KSSite>& site) const;
  // None for no beacons; a copy of the one beacon's point; else the mean of the points
  // present, on the first beacon's map (none when no beacon has a point).
  static std::shared_ptr<KSMapPoint> determineMapPointForBeacons(const Beacons& beacons);

  // A new snapshot from copies of the sites and beacons, regrouped by each beacon's site.
  std::shared_ptr<KSMicroLocation> copy() const;
  std::shared_ptr<KSMicroLocationSnapshot> clone() const override;

 private:
  std::optional<Sites> sites_;
  std::optional<Groups> beaconsForSiteID_;
  std::optional<platform::Date> timestamp_;
  mutable std::optional<Beacons> allBeacons_;
};

}  // namespace velmora::kestrine
