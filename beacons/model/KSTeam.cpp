#include "beacons/model/KSTeam.h"

#include <algorithm>

#include "beacons/model/KSAlert.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTeamInvite.h"
#include "beacons/model/KSTeamRole.h"

namespace kestrine {

const KSJSONModelClass& KSTeam::jsonClass() {
  using T = KSTeam;
  static const KSJSONModelClass cls = KSJSONModelClass::define<T>("KSTeam", [](auto& c) {
    c.keyMapper({{"id", "teamID"}});
    c.allOptional();
    c.whitelist({"name", "teamID"});
    c.text("teamID", &T::teamID, &T::setTeamID);
    c.text("name", &T::name, &T::setName);
    c.record("owner", &T::owner, &T::setOwner);
    c.record("teamRole", &T::teamRole, &T::setTeamRole);
    c.scalar("siteCount", &T::siteCount, &T::setSiteCount);
    c.scalar("appCount", &T::appCount, &T::setAppCount);
    c.scalar("teammateCount", &T::teammateCount, &T::setTeammateCount);
    c.scalar("beaconCount", &T::beaconCount, &T::setBeaconCount);
    c.scalar("categoryCount", &T::categoryCount, &T::setCategoryCount);
    c.date("createdAt", &T::createdAt, &T::setCreatedAt);
    c.records("recentAlerts", &T::recentAlerts, &T::setRecentAlerts);
    c.records("beaconRegions", &T::beaconRegions, &T::setBeaconRegions);
  });
  return cls;
}

bool KSTeam::hasAppsCacheExpired() const { return model_services::hasCacheExpired(cachedAppsAt()); }
bool KSTeam::hasTeammatesCacheExpired() const { return model_services::hasCacheExpired(cachedTeammatesAt()); }
bool KSTeam::hasCategoriesCacheExpired() const { return model_services::hasCacheExpired(cachedCategoriesAt()); }
bool KSTeam::hasBeaconsCacheExpired() const { return model_services::hasCacheExpired(cachedBeaconsAt()); }
bool KSTeam::hasTeamInvitesCacheExpired() const { return model_services::hasCacheExpired(cachedTeamInvitesAt()); }

namespace team_array {

std::vector<std::shared_ptr<KSTeam>> sortedTeamArrayUsingNameAscending(std::vector<std::shared_ptr<KSTeam>> teams,
                                                                       bool ascending) {
  std::vector<std::pair<std::optional<std::string>, std::shared_ptr<KSTeam>>> keyed;
  keyed.reserve(teams.size());
  for (auto& team : teams) keyed.emplace_back(team ? team->name() : std::nullopt, std::move(team));
  // std::optional orders absent before any text, and texts by their bytes.
  std::stable_sort(keyed.begin(), keyed.end(), [ascending](const auto& a, const auto& b) {
    return ascending ? a.first < b.first : b.first < a.first;
  });
  std::vector<std::shared_ptr<KSTeam>> out;
  out.reserve(keyed.size());
  for (auto& [name, team] : keyed) out.push_back(std::move(team));
  return out;
}

std::vector<std::shared_ptr<KSTeam>> filteredTeamArrayUsingOwnerUsername(const std::vector<std::shared_ptr<KSTeam>>& teams,
                                                                         std::string_view userName) {
  std::vector<std::shared_ptr<KSTeam>> out;
  for (const auto& team : teams) {
    if (!team) continue;
    auto owner = team->owner();
    if (!owner) continue;
    auto name = owner->userName();
    if (name && *name == userName) out.push_back(team);
  }
  return out;
}

}  // namespace team_array

}  // namespace kestrine
