#include "beacons/api/KSRecordRequests.h"

#include "beacons/api/KSApiPath.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSBeaconPendingRecords.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSTeam.h"

namespace velmora::kestrine::record_requests {

namespace {

// An identifier a path needs: present and not empty.
const std::string* id(const std::optional<std::string>& value) { return value && !value->empty() ? &*value : nullptr; }

platform::Value wrapped(std::string_view key, platform::Value dictionary) {
  platform::Value body;
  body.set(key, std::move(dictionary));
  return body;
}

std::optional<KSApiRequest> onBeacon(const KSBeacon& beacon, std::string method, std::string_view pathTemplate,
                                     platform::Value parameters = {}) {
  const auto beaconID = beacon.beaconID();
  const std::string* bid = id(beaconID);
  if (!bid) return std::nullopt;
  return KSApiRequest{std::move(method), KSApiPath(pathTemplate, {*bid}), std::move(parameters)};
}

}  // namespace

std::optional<KSApiRequest> updateBeacon(const KSBeacon& beacon) {
  return onBeacon(beacon, "PUT", "beacons/%@", wrapped("beacon", beacon.toDictionary()));
}

std::optional<KSApiRequest> moveBeaconToTeam(const KSBeacon& beacon, const KSTeam& team, const KSSite& site,
                                             bool keepCategories) {
  const auto beaconID = beacon.beaconID();
  const auto teamID = team.teamID();
  const auto siteID = site.siteID();
  if (!id(beaconID) || !id(teamID) || !id(siteID)) return std::nullopt;
  return KSApiRequest{"POST", "beacontransfer",
                      platform::Value::makeDict({{"teamID", *teamID},
                                                 {"siteID", *siteID},
                                                 {"beaconIDs", platform::Value::makeArray({*beaconID})},
                                                 {"keepCategories", keepCategories ? 1 : 0}})};
}

std::optional<KSApiRequest> beaconVersion(const KSBeacon& beacon, std::int64_t version) {
  return onBeacon(beacon, "GET", "beacons/%@/versions/" + std::to_string(version));
}

std::optional<KSApiRequest> latestBeaconVersion(const KSBeacon& beacon) {
  return onBeacon(beacon, "GET", "beacons/%@/versions/latest");
}

std::optional<KSApiRequest> confirmBeaconVersion(const KSBeacon& beacon, std::int64_t version) {
  return onBeacon(beacon, "PUT", "beacons/%@/versions/" + std::to_string(version) + "/confirm");
}

std::optional<KSApiRequest> refreshBeacon(const KSBeacon& beacon) {
  const auto beaconID = beacon.beaconID();
  const auto address = beacon.bluetoothAddress();
  const std::string* identifier = id(beaconID) ? id(beaconID) : id(address);
  if (!identifier) return std::nullopt;
  return KSApiRequest{"GET", KSApiPath("beacons/%@", {*identifier}), {}};
}

std::optional<KSApiRequest> latestBeacon(const KSBeacon& beacon) {
  return onBeacon(beacon, "GET", "beacons/%@", platform::Value::makeDict({{"version", "latest"}}));
}

std::optional<KSApiRequest> beaconTargetSpeeds(const KSBeacon& beacon, platform::Value parameters) {
  return onBeacon(beacon, "GET", "beacons/%@/targetspeeds", std::move(parameters));
}
std::optional<KSApiRequest> beaconModes(const KSBeacon& beacon, platform::Value parameters) {
  return onBeacon(beacon, "GET", "beacons/%@/beaconModes", std::move(parameters));
}
std::optional<KSApiRequest> beaconLoudnesses(const KSBeacon& beacon, platform::Value parameters) {
  return onBeacon(beacon, "GET", "beacons/%@/beaconLoudnesses", std::move(parameters));
}

std::optional<KSApiRequest> updateSite(const KSSite& site, const std::optional<std::string>& teamID) {
  const auto siteID = site.siteID();
  if (!id(teamID) || !id(siteID)) return std::nullopt;
  return KSApiRequest{"PUT", KSApiPath("teams/%@/sites/%@", {*teamID, *siteID}), wrapped("site", site.toDictionary())};
}

std::optional<KSApiRequest> updateApp(const KSApp& app) {
  const auto appID = app.appID();
  if (!id(appID)) return std::nullopt;
  return KSApiRequest{"PUT", KSApiPath("apps/%@", {*appID}), wrapped("app", app.toDictionary())};
}

std::optional<KSApiRequest> appToken(const KSApp& app) {
  const auto appID = app.appID();
  if (!id(appID)) return std::nullopt;
  return KSApiRequest{"GET", KSApiPath("apps/%@/requestapptoken", {*appID}), {}};
}

std::optional<KSApiRequest> updateCategory(const KSCategory& category) {
  const auto categoryID = category.categoryID();
  if (!id(categoryID)) return std::nullopt;
  return KSApiRequest{"PUT", KSApiPath("categories/%@", {*categoryID}), wrapped("category", category.toDictionary())};
}

std::optional<KSApiRequest> updateTeam(const KSTeam& team) {
  const auto teamID = team.teamID();
  if (!id(teamID)) return std::nullopt;
  return KSApiRequest{"PUT", KSApiPath("teams/%@", {*teamID}), wrapped("team", team.toDictionary())};
}

namespace {
std::optional<KSApiRequest> teamList(const KSTeam& team, std::string_view pathTemplate) {
  const auto teamID = team.teamID();
  if (!id(teamID)) return std::nullopt;
  return KSApiRequest{"GET", KSApiPath(pathTemplate, {*teamID}), {}};
}
}  // namespace

std::optional<KSApiRequest> teamApps(const KSTeam& team) { return teamList(team, "teams/%@/apps"); }
std::optional<KSApiRequest> teamTeammates(const KSTeam& team) { return teamList(team, "teams/%@/teammates"); }
std::optional<KSApiRequest> teamSites(const KSTeam& team) { return teamList(team, "teams/%@/sites"); }
KSApiRequest personTeams() { return KSApiRequest{"GET", "teams", {}}; }

std::optional<KSApiRequest> createSite(const KSTeam& team, const KSSite& site) {
  const auto teamID = team.teamID();
  if (!id(teamID)) return std::nullopt;
  platform::Value dictionary = site.toDictionary();
  dictionary.set("teamID", *teamID);
  return KSApiRequest{"POST", "sites", wrapped("site", std::move(dictionary))};
}

std::optional<KSApiRequest> deleteSite(const KSSite& site) {
  const auto siteID = site.siteID();
  if (!id(siteID)) return std::nullopt;
  return KSApiRequest{"DELETE", KSApiPath("sites/%@", {*siteID}), {}};
}

KSApiRequest createTeam(const KSTeam& team) { return KSApiRequest{"POST", "teams", wrapped("team", team.toDictionary())}; }

std::optional<KSApiRequest> deleteTeam(const KSTeam& team) {
  const auto teamID = team.teamID();
  if (!id(teamID)) return std::nullopt;
  return KSApiRequest{"DELETE", KSApiPath("teams/%@", {*teamID}), {}};
}

}  // namespace velmora::kestrine::record_requests
