#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/api/KSApiOperationPorts.h"
#include "beacons/api/KSRecordRequests.h"
#include "platform/core/Error.h"
#include "platform/core/Value.h"

namespace velmora::kestrine {

class KSApiClient;
class KSURLSessionTask;
using KSApiDataTask = KSURLSessionTask;
class KSApp;
class KSBeacon;
class KSBeaconLoudness;
class KSBeaconMode;
class KSBeaconVersion;
class KSCategory;
class KSPerson;
class KSSite;
class KSTargetSpeed;
class KSTeam;
class KSTeammate;

inline constexpr std::string_view KSBeaconApiErrorDomain = "com.kestrine.KSBeacon+Api";

namespace beacon_api {
// An error of the record calls themselves: their domain, code -1, the text as description.
platform::Error errorWithDescription(std::string_view description);
// Copies the server-owned fields of a beacon fetched from the API into `beacon`: identity,
// placement and features always (network access only when the fetched one has it); the
// settings, versions and battery fields only when the fetched record is a full one (it has
// a creation date).
void copyApiPropertiesFromBeacon(KSBeacon& beacon, const KSBeacon& fetched);
}  // namespace beacon_api

// The one-at-a-time calls on the platform's records: read and update beacons, sites, apps,
// categories and teams, and walk a team's or the signed-in person's lists. Each call is one
// request (or one walk of a paged list) through the client; nothing is queued, gated or
// retried. Blocks run on the client's completion queue, except the cached answers of the
// preferCached calls, which come later on the main queue. Calls that update caches hold
// their record weakly while the request runs.
class KSRecordApi {
 public:
  using Failure = std::function<void(const platform::Error&)>;
  using Reply = std::function<void(const std::shared_ptr<KSApiDataTask>&, const platform::Value&)>;
  using TaskFailure = std::function<void(const std::shared_ptr<KSApiDataTask>&, const platform::Error&)>;

  KSRecordApi(std::shared_ptr<KSApiClient> client, KSApiOperationManagerPorts ports);

  // --- beacons
  void updateBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void(std::shared_ptr<KSBeacon>)> success,
                    Failure failure);
  void moveBeaconToTeam(const std::shared_ptr<KSBeacon>& beacon, const KSTeam& team, const KSSite& site,
                        bool keepCategories, std::function<void(std::shared_ptr<KSBeacon>)> success, Failure failure);
  void getBeaconVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version,
                        std::function<void(std::shared_ptr<KSBeaconVersion>)> success, Failure failure);
  void getLatestBeaconVersion(const std::shared_ptr<KSBeacon>& beacon,
                              std::function<void(std::shared_ptr<KSBeaconVersion>)> success, Failure failure);
  void confirmBeaconVersion(const std::shared_ptr<KSBeacon>& beacon, std::int64_t version, Reply success,
                            TaskFailure failure);
  // Copies the fetched record's server fields into the beacon and hands it to the hub.
  void refreshBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void()> success, Failure failure);
  // A new record; the beacon itself and the hub's cache are left alone.
  void getLatestBeacon(const std::shared_ptr<KSBeacon>& beacon, std::function<void(std::shared_ptr<KSBeacon>)> success,
                       Failure failure);
  void getTargetSpeeds(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                       std::function<void(const std::vector<std::shared_ptr<KSTargetSpeed>>&)> success, Failure failure);
  void getBeaconModes(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                      std::function<void(const std::vector<std::shared_ptr<KSBeaconMode>>&)> success, Failure failure);
  void getBeaconLoudnesses(const std::shared_ptr<KSBeacon>& beacon, platform::Value parameters,
                           std::function<void(const std::vector<std::shared_ptr<KSBeaconLoudness>>&)> success,
                           Failure failure);

  // --- sites, apps, categories, teams
  // Success receives the record and the reply object; the record is kept alive until the
  // blocks have run.
  void updateSite(const std::shared_ptr<KSSite>& site, const std::optional<std::string>& teamID,
                  std::function<void(std::shared_ptr<KSSite>, const platform::Value& reply)> success, Failure failure);
  void updateApp(const std::shared_ptr<KSApp>& app,
                 std::function<void(std::shared_ptr<KSApp>, const platform::Value& reply)> success, Failure failure);
  // Success receives the record and the reply's "appToken" (nothing when absent), failure
  // the record and the error.
  void getAppToken(const std::shared_ptr<KSApp>& app,
                   std::function<void(std::shared_ptr<KSApp>, std::optional<std::string>)> success,
                   std::function<void(std::shared_ptr<KSApp>, const platform::Error&)> failure);
  void updateCategory(const std::shared_ptr<KSCategory>& category,
                      std::function<void(std::shared_ptr<KSCategory>)> success, Failure failure);
  void updateTeam(const std::shared_ptr<KSTeam>& team, std::function<void(std::shared_ptr<KSTeam>)> success,
                  Failure failure);
  // Never sends anything: failure runs at once, with no error.
  void getAlerts(const std::shared_ptr<KSTeam>& team, std::function<void()> success,
                 std::function<void(std::shared_ptr<KSTeam>, std::optional<platform::Error>)> failure);

  // Paged lists. The list of one walk starts empty and grows by each page, and success gets
  // the whole list so far after every page; a failed page ends the walk.
  using TeamFailure = std::function<void(std::shared_ptr<KSTeam>, const platform::Error&)>;
  void getApps(const std::shared_ptr<KSTeam>& team,
               std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSApp>>&)> success,
               TeamFailure failure, bool preferCached);
  void getTeammates(
      const std::shared_ptr<KSTeam>& team,
      std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSTeammate>>&)> success,
      TeamFailure failure, bool preferCached);
  // The sites go to the site cache; numberOfSitesCached is the walk's total so far.
  void getSites(const std::shared_ptr<KSTeam>& team,
                std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<KSSite>>&)> success,
                TeamFailure failure);
  void createSite(const std::shared_ptr<KSTeam>& team, const std::shared_ptr<KSSite>& site,
                  std::function<void(std::shared_ptr<KSTeam>, std::shared_ptr<KSSite>)> success, TeamFailure failure);
  void deleteSite(const std::shared_ptr<KSTeam>& team, const std::shared_ptr<KSSite>& site,
                  std::function<void(std::shared_ptr<KSTeam>)> success, TeamFailure failure);

  // Creates every category through the team's own create call, all started at once. Success
  // runs once, with the created categories in the order their replies came, when all of them
  // succeeded; failure runs once per failed creation. An empty list (or one of nulls only)
  // starts nothing and calls neither block.
  void createCategories(const std::shared_ptr<KSTeam>& team, const std::vector<std::shared_ptr<KSCategory>>& categories,
                        std::function<void(const std::vector<std::shared_ptr<KSCategory>>&)> success, Failure failure);

  // --- the signed-in person
  void getTeams(const std::shared_ptr<KSPerson>& person,
                std::function<void(const std::vector<std::shared_ptr<KSTeam>>&)> success, Failure failure,
                bool preferCached);
  void createTeam(const std::shared_ptr<KSPerson>& person, const std::shared_ptr<KSTeam>& team,
                  std::function<void(std::shared_ptr<KSTeam>)> success, Failure failure);
  void deleteTeam(const std::shared_ptr<KSPerson>& person, const std::shared_ptr<KSTeam>& team,
                  std::function<void()> success, Failure failure);

 private:
  // Sends the request, or fails later on the completion queue when there is none.
  void send(const std::optional<KSApiRequest>& request, std::string_view what, Reply success, TaskFailure failure);
  template <class T>
  void walk(const std::optional<KSApiRequest>& request, std::function<void(std::vector<std::shared_ptr<T>>, bool last)> page,
            Failure failure);
  // Walks one of a team's lists: each page is handed to onPage (when given), joins the walk's
  // list, which keep stores on the team (while it lives) with the time, and success gets the
  // whole list so far.
  template <class T>
  void walkTeamList(const std::shared_ptr<KSTeam>& team, const std::optional<KSApiRequest>& request,
                    std::function<void(const std::vector<std::shared_ptr<T>>&)> onPage,
                    std::function<void(KSTeam&, const std::vector<std::shared_ptr<T>>&, platform::Date)> keep,
                    std::function<void(std::shared_ptr<KSTeam>, const std::vector<std::shared_ptr<T>>&)> success,
                    TeamFailure failure);
  void postToMain(std::function<void()> work);

  const std::shared_ptr<KSApiClient> client_;
  const KSApiOperationManagerPorts ports_;
};

}  // namespace velmora::kestrine
