#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"

namespace velmora::kestrine {

class KSAlert;
class KSApp;
class KSBeaconRegion;
class KSCategory;
class KSPerson;
class KSTeamInvite;
class KSTeamRole;
class KSTeammate;

// A team of the platform: it owns sites, beacons, apps and categories and has members with
// roles. Besides the server's fields it keeps client-side caches of lists loaded from the
// cloud API, each with its date; the caches stay out of the JSON form, which is the id and
// the name alone. Fields sit behind the record's lock.
class KSTeam : public KSJSONRecord<KSTeam>, public std::enable_shared_from_this<KSTeam> {
 public:
  using Alerts = std::vector<std::shared_ptr<KSAlert>>;
  using BeaconRegions = std::vector<std::shared_ptr<KSBeaconRegion>>;
  using Apps = std::vector<std::shared_ptr<KSApp>>;
  using Teammates = std::vector<std::shared_ptr<KSTeammate>>;
  using Categories = std::vector<std::shared_ptr<KSCategory>>;
  using TeamInvites = std::vector<std::shared_ptr<KSTeamInvite>>;

  static const KSJSONModelClass& jsonClass();

#define KS_TEAM_FIELD(Type, name, Setter)                     \
  Type name() const { return f_.get(&Fields::name); }         \
  void Setter(Type v) { f_.set(&Fields::name, std::move(v)); }
  KS_TEAM_FIELD(std::optional<std::string>, teamID, setTeamID)
  KS_TEAM_FIELD(std::optional<std::string>, name, setName)
  KS_TEAM_FIELD(std::shared_ptr<KSPerson>, owner, setOwner)
  // The signed-in person's role in this team.
  KS_TEAM_FIELD(std::shared_ptr<KSTeamRole>, teamRole, setTeamRole)
  KS_TEAM_FIELD(std::int64_t, siteCount, setSiteCount)
  KS_TEAM_FIELD(std::int64_t, appCount, setAppCount)
  KS_TEAM_FIELD(std::int64_t, teammateCount, setTeammateCount)
  KS_TEAM_FIELD(std::int64_t, beaconCount, setBeaconCount)
  KS_TEAM_FIELD(std::int64_t, categoryCount, setCategoryCount)
  KS_TEAM_FIELD(std::optional<platform::Date>, createdAt, setCreatedAt)
  KS_TEAM_FIELD(Alerts, recentAlerts, setRecentAlerts)
  KS_TEAM_FIELD(BeaconRegions, beaconRegions, setBeaconRegions)
  KS_TEAM_FIELD(Apps, cachedApps, setCachedApps)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedAppsAt, setCachedAppsAt)
  KS_TEAM_FIELD(Teammates, cachedTeammates, setCachedTeammates)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedTeammatesAt, setCachedTeammatesAt)
  KS_TEAM_FIELD(std::uint64_t, numberOfSitesCached, setNumberOfSitesCached)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedSitesAt, setCachedSitesAt)
  KS_TEAM_FIELD(Categories, cachedCategories, setCachedCategories)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedCategoriesAt, setCachedCategoriesAt)
  KS_TEAM_FIELD(std::uint64_t, numberOfBeaconsCached, setNumberOfBeaconsCached)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedBeaconsAt, setCachedBeaconsAt)
  KS_TEAM_FIELD(TeamInvites, cachedTeamInvites, setCachedTeamInvites)
  KS_TEAM_FIELD(std::optional<platform::Date>, cachedTeamInvitesAt, setCachedTeamInvitesAt)
#undef KS_TEAM_FIELD

  // The 30-minute cache tests of the lists' dates (a missing date has expired).
  bool hasAppsCacheExpired() const;
  bool hasTeammatesCacheExpired() const;
  bool hasCategoriesCacheExpired() const;
  bool hasBeaconsCacheExpired() const;
  bool hasTeamInvitesCacheExpired() const;

  using Failure = std::function<void(const platform::Error&)>;

  // With preferCached and a fresh cache, success gets the cached list later on the main
  // queue; otherwise the list loads from the cloud API. The category load is paged
  // ("categories" with the team id): the cached list restarts with the first page and
  // grows by each page, and success gets it after every page. The invite load is one GET
  // of "teams/<id>/teaminvites". Request errors go to failure unchanged; page items that
  // do not import are skipped. The calls hold the team weakly: once it is gone, replies
  // write no cache.
  void getCategoriesWithSuccess(std::function<void(const Categories&)> success, Failure failure, bool preferCached);
  void getTeamInvitesWithSuccess(std::function<void(const TeamInvites&)> success, Failure failure, bool preferCached);

  // Create and delete calls. Each clears the matching cache dates only once the request
  // succeeded and its reply imported; an import error goes to failure.
  // createApp: the app joins the team and is POSTed to "apps" as it exports; the reply's
  // "app" is the created app. Clears cachedAppsAt.
  void createApp(const std::shared_ptr<KSApp>& app, std::function<void(std::shared_ptr<KSApp>)> success, Failure failure);
  // DELETE "apps/<appID>". Clears cachedAppsAt.
  void deleteApp(const std::shared_ptr<KSApp>& app, std::function<void()> success, Failure failure);
  // The category joins the team and is POSTed to "categories" as {"category": ...}; the
  // reply's "category" is the created one. Clears cachedCategoriesAt.
  void createCategory(const std::shared_ptr<KSCategory>& category,
                      std::function<void(std::shared_ptr<KSCategory>)> success, Failure failure);
  // DELETE "categories/<categoryID>". Clears cachedCategoriesAt.
  void deleteCategory(const std::shared_ptr<KSCategory>& category, std::function<void()> success, Failure failure);
  // The invite gets this team and is POSTed to "teaminvites" as it exports (the team as
  // its id and name); the reply's "teamInvite" is the sent invite. Clears
  // cachedTeamInvitesAt and cachedTeammatesAt.
  void sendTeamInvite(const std::shared_ptr<KSTeamInvite>& invite,
                      std::function<void(std::shared_ptr<KSTeamInvite>)> success, Failure failure);

 private:
  struct Fields {
    std::optional<std::string> teamID, name;
    std::shared_ptr<KSPerson> owner;
    std::shared_ptr<KSTeamRole> teamRole;
    std::int64_t siteCount = 0, appCount = 0, teammateCount = 0, beaconCount = 0, categoryCount = 0;
    std::optional<platform::Date> createdAt;
    Alerts recentAlerts;
    BeaconRegions beaconRegions;
    Apps cachedApps;
    std::optional<platform::Date> cachedAppsAt;
    Teammates cachedTeammates;
    std::optional<platform::Date> cachedTeammatesAt;
    std::uint64_t numberOfSitesCached = 0;
    std::optional<platform::Date> cachedSitesAt;
    Categories cachedCategories;
    std::optional<platform::Date> cachedCategoriesAt;
    std::uint64_t numberOfBeaconsCached = 0;
    std::optional<platform::Date> cachedBeaconsAt;
    TeamInvites cachedTeamInvites;
    std::optional<platform::Date> cachedTeamInvitesAt;
  };
  KSGuardedFields<Fields> f_;
};

// Sorting and filtering of team lists; each gives a new list.
namespace team_array {

// Stable, by the name's bytes; a team without a name sorts first when ascending.
std::vector<std::shared_ptr<KSTeam>> sortedTeamArrayUsingNameAscending(std::vector<std::shared_ptr<KSTeam>> teams,
                                                                       bool ascending);
// The teams with an owner whose user name equals the text; teams without owner are dropped.
std::vector<std::shared_ptr<KSTeam>> filteredTeamArrayUsingOwnerUsername(const std::vector<std::shared_ptr<KSTeam>>& teams,
                                                                         std::string_view userName);

}  // namespace team_array

}  // namespace velmora::kestrine
