#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApp;
class KSBeacon;
class KSCategory;
class KSSite;
class KSTeam;

// One call of the cloud API as the record calls make it: method, path relative to the API
// base (identifiers escaped as one segment each) and the parameters (the query of a GET or
// DELETE, the JSON body otherwise; Absent for none).
struct KSApiRequest {
  std::string method;
  std::string path;
  platform::Value parameters;
  friend bool operator==(const KSApiRequest&, const KSApiRequest&) = default;
};

// The requests of the record calls. A call that needs an identifier the record lacks gives
// nothing: no request can be built.
namespace record_requests {

std::optional<KSApiRequest> updateBeacon(const KSBeacon& beacon);
std::optional<KSApiRequest> moveBeaconToTeam(const KSBeacon& beacon, const KSTeam& team, const KSSite& site,
                                             bool keepCategories);
std::optional<KSApiRequest> beaconVersion(const KSBeacon& beacon, std::int64_t version);
std::optional<KSApiRequest> latestBeaconVersion(const KSBeacon& beacon);
std::optional<KSApiRequest> confirmBeaconVersion(const KSBeacon& beacon, std::int64_t version);
// By beacon id, else by Bluetooth address.
std::optional<KSApiRequest> refreshBeacon(const KSBeacon& beacon);
std::optional<KSApiRequest> latestBeacon(const KSBeacon& beacon);
std::optional<KSApiRequest> beaconTargetSpeeds(const KSBeacon& beacon, platform::Value parameters);
std::optional<KSApiRequest> beaconModes(const KSBeacon& beacon, platform::Value parameters);
std::optional<KSApiRequest> beaconLoudnesses(const KSBeacon& beacon, platform::Value parameters);
std::optional<KSApiRequest> updateSite(const KSSite& site, const std::optional<std::string>& teamID);
std::optional<KSApiRequest> updateApp(const KSApp& app);
std::optional<KSApiRequest> appToken(const KSApp& app);
std::optional<KSApiRequest> updateCategory(const KSCategory& category);
std::optional<KSApiRequest> updateTeam(const KSTeam& team);
// The paged lists: method GET, the list's path, no parameters of their own.
std::optional<KSApiRequest> teamApps(const KSTeam& team);
std::optional<KSApiRequest> teamTeammates(const KSTeam& team);
std::optional<KSApiRequest> teamSites(const KSTeam& team);
KSApiRequest personTeams();
// The site's dictionary with the team's id as its "teamID".
std::optional<KSApiRequest> createSite(const KSTeam& team, const KSSite& site);
std::optional<KSApiRequest> deleteSite(const KSSite& site);
KSApiRequest createTeam(const KSTeam& team);
std::optional<KSApiRequest> deleteTeam(const KSTeam& team);

}  // namespace record_requests

}  // namespace velmora::kestrine
