#include "beacons/microlocation/KSMicroLocation.h"

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconArray.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSMapPoint.h"
#include "beacons/model/KSPoint.h"

namespace velmora::kestrine {

namespace {

std::string groupKeyOf(const KSBeacon& beacon) {
  if (auto site = beacon.site()) {
    if (auto id = site->siteID()) return *id;
  }
  return {};
}

}  // namespace

KSMicroLocation::KSMicroLocation(const Sites& sites, const Beacons& beacons) : sites_(sites) {
  Groups groups;
  for (const auto& beacon : beacons) {
    if (!beacon) continue;
    groups[groupKeyOf(*beacon)].push_back(beacon);
  }
  beaconsForSiteID_ = std::move(groups);
  allBeacons_ = beacons;
}

void KSMicroLocation::setBeaconsForSiteID(std::optional<Groups> v) {
  beaconsForSiteID_ = std::move(v);
  allBeacons_.reset();
}

KSMicroLocation::Beacons KSMicroLocation::beacons() const {
  if (allBeacons_) return *allBeacons_;
  if (!beaconsForSiteID_) return {};
  Beacons all;
  for (const auto& [id, group] : *beaconsForSiteID_) all.insert(all.end(), group.begin(), group.end());
  allBeacons_ = all;
  return all;
}

KSMicroLocation::Categories KSMicroLocation::allCategories() const {
  Categories out;
  for (const auto& beacon : beacons()) {
    if (!beacon) continue;
    if (auto cats = beacon->categories()) out.insert(out.end(), cats->begin(), cats->end());
  }
  return out;
}

KSMicroLocation::Beacons KSMicroLocation::beaconsForSiteID(const std::string& siteID, std::uint64_t proximity) const {
  if (siteID.empty() || !beaconsForSiteID_) return {};
  auto it = beaconsForSiteID_->find(siteID);
  if (it == beaconsForSiteID_->end()) return {};
  return beacon_array::sortedBeaconArrayUsingAccuracyAscending(
      beacon_array::filteredBeaconArrayUsingProximity(it->second, proximity), true);
}

KSMicroLocation::Beacons KSMicroLocation::beaconsForSite(const std::shared_ptr<KSSite>& site,
                                                         std::uint64_t proximity) const {
  if (!site) return {};
  return beaconsForSiteID(site->siteID().value_or(""), proximity);
}

KSMicroLocation::Beacons KSMicroLocation::beaconsInProximity(std::uint64_t proximity) const {
  return beacon_array::sortedBeaconArrayUsingAccuracyAscending(
      beacon_array::filteredBeaconArrayUsingProximity(beacons(), proximity), true);
}

KSMicroLocation::Categories KSMicroLocation::categoriesForSiteID(const std::string& siteID,
                                                                 std::uint64_t proximity) const {
  Categories out;
  for (const auto& beacon : beaconsForSiteID(siteID, proximity)) {
    if (auto cats = beacon->categories()) out.insert(out.end(), cats->begin(), cats->end());
  }
  return out;
}

KSMicroLocation::Categories KSMicroLocation::categoriesForSite(const std::shared_ptr<KSSite>& site,
                                                               std::uint64_t proximity) const {
  if (!site) return {};
  return categoriesForSiteID(site->siteID().value_or(""), proximity);
}

KSMicroLocation::Sites KSMicroLocation::sitesWithBeaconsInProximity(std::uint64_t proximity) const {
  Sites out;
  if (!sites_) return out;
  for (const auto& site : *sites_) {
    if (site && !beaconsForSite(site, proximity).empty()) out.push_back(site);
  }
  return out;
}

KSMicroLocation::Sites KSMicroLocation::sitesWithCategoriesInProximity(std::uint64_t proximity) const {
  Sites out;
  if (!sites_) return out;
  for (const auto& site : *sites_) {
    if (site && !categoriesForSite(site, proximity).empty()) out.push_back(site);
  }
  return out;
}

std::shared_ptr<KSMapPoint> KSMicroLocation::mapPointForSiteID(const std::string& siteID) const {
  if (siteID.empty()) return nullptr;
  if (auto point = determineMapPointForBeacons(beaconsForSiteID(siteID, 1))) return point;
  return determineMapPointForBeacons(beaconsForSiteID(siteID, 2));
}

std::shared_ptr<KSMapPoint> KSMicroLocation::mapPointForSite(const std::shared_ptr<KSSite>& site) const {
  if (!site) return nullptr;
  return mapPointForSiteID(site->siteID().value_or(""));
}

std::shared_ptr<KSMapPoint> KSMicroLocation::determineMapPointForBeacons(const Beacons& beacons) {
  if (beacons.empty()) return nullptr;
  if (beacons.size() == 1) {
    auto point = beacons.front() ? beacons.front()->mapPoint() : nullptr;
    return point ? point->copy() : nullptr;
  }
  double sumX = 0.0, sumY = 0.0;
  std::size_t count = 0;
  for (const auto& beacon : beacons) {
    if (!beacon) continue;
    auto mapPoint = beacon->mapPoint();
    if (!mapPoint || !mapPoint->point()) continue;
    sumX += mapPoint->point()->x();
    sumY += mapPoint->point()->y();
    ++count;
  }
  if (count == 0) return nullptr;
  auto result = std::make_shared<KSMapPoint>();
  result->setPoint(KSPoint::pointWithXY(sumX / static_cast<double>(count), sumY / static_cast<double>(count)));
  if (beacons.front()) {
    if (auto first = beacons.front()->mapPoint()) result->setMapID(first->mapID());
  }
  return result;
}

std::shared_ptr<KSMicroLocation> KSMicroLocation::copy() const {
  Sites sites;
  if (sites_) {
    for (const auto& site : *sites_) sites.push_back(site ? site->copy() : nullptr);
  }
  Beacons copies;
  for (const auto& beacon : beacons()) copies.push_back(beacon ? beacon->copy() : nullptr);
  auto other = std::make_shared<KSMicroLocation>(sites, copies);
  if (!sites_) other->sites_.reset();
  other->timestamp_ = timestamp_;
  return other;
}

std::shared_ptr<KSMicroLocationSnapshot> KSMicroLocation::clone() const {
  return copy();
}

}  // namespace velmora::kestrine
