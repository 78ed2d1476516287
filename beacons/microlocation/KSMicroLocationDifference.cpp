#include "beacons/microlocation/KSMicroLocationDifference.h"

#include <string>
#include <unordered_map>

#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSSite.h"

namespace velmora::kestrine {

namespace {

const KSMicroLocation::Beacons* groupOf(const KSMicroLocation& snapshot, const std::string& siteID) {
  const auto& groups = snapshot.beaconsForSiteID();
  if (!groups) return nullptr;
  auto it = groups->find(siteID);
  return it == groups->end() ? nullptr : &it->second;
}

}  // namespace

bool microLocationsAreDifferent(const std::vector<std::shared_ptr<KSMicroLocation>>& microLocations) {
  if (microLocations.empty()) return false;
  if (microLocations.size() == 1) return true;
  const auto& oldOne = microLocations.front();
  const auto& newOne = microLocations.back();
  if (!oldOne || !newOne) return oldOne != newOne;
  const auto& oldSites = oldOne->sites();
  const auto& newSites = newOne->sites();
  if (!oldSites && !newSites) return false;
  if (!oldSites || !newSites) return true;
  if (oldSites->size() != newSites->size()) return true;
  if (newSites->empty()) return false;

  for (const auto& site : *newSites) {
    const auto siteID = site ? site->siteID() : std::nullopt;
    if (!site_array::siteWithSiteID(*oldSites, siteID)) return true;
    const auto* oldGroup = groupOf(*oldOne, siteID.value_or(""));
    const auto* newGroup = groupOf(*newOne, siteID.value_or(""));
    if (!oldGroup && !newGroup) continue;
    if (!oldGroup || !newGroup) return true;
    if (oldGroup->size() != newGroup->size()) return true;
    // The first beacon of an id in the old group answers, as a front-to-back search would.
    std::unordered_map<std::string, std::uint64_t> oldProximity;
    for (const auto& beacon : *oldGroup) {
      if (!beacon) continue;
      if (auto id = beacon->beaconID()) oldProximity.emplace(*id, beacon->proximity());
    }
    for (const auto& beacon : *newGroup) {
      if (!beacon) return true;
      auto id = beacon->beaconID();
      if (!id) return true;
      auto it = oldProximity.find(*id);
      if (it == oldProximity.end() || it->second != beacon->proximity()) return true;
    }
  }
  return false;
}

}  // namespace velmora::kestrine
