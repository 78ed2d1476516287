#include "beacons/model/KSTeam.h"

#include <algorithm>

#include "beacons/model/KSAlert.h"
#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeaconRegion.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTeamInvite.h"
#include "beacons/model/KSTeamRole.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

using platform::Value;

const KSJSONModelClass& KSTeam::jsonClass() {
  using T = KSTeam;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<T>("KSTeam", [](auto& c) {
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

namespace {


// The reply's object under the key, imported as a record of class T.
template <class T>
std::shared_ptr<T> importReply(const Value& reply, std::string_view key, platform::Error& error) {
  return T::initWithDictionary(reply[key], &error);
}

}  // namespace

void KSTeam::getCategoriesWithSuccess(std::function<void(const Categories&)> success, Failure failure,
                                      bool preferCached) {
  if (preferCached && !hasCategoriesCacheExpired()) {
    if (success) {
      model_services::postToMainQueue([self = weak_from_this(), success = std::move(success)] {
        auto team = self.lock();
        success(team ? team->cachedCategories() : Categories{});
      });
    }
    return;
  }
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  auto collected = std::make_shared<Categories>();
  client->loadAllPagesForPath(
      "categories", Value::makeDict({{"teamID", Value(teamID().value_or(std::string()))}}),
      [self = weak_from_this(), collected, success = std::move(success)](const platform::Array& items, bool) {
        auto page = model_services::importPage<KSCategory>(items, "category");
        collected->insert(collected->end(), page.begin(), page.end());
        if (auto team = self.lock()) {
          team->setCachedCategories(*collected);
          team->setCachedCategoriesAt(KSModelClock::now());
        }
        if (success) success(*collected);
      },
      std::move(failure));
}

void KSTeam::getTeamInvitesWithSuccess(std::function<void(const TeamInvites&)> success, Failure failure,
                                       bool preferCached) {
  if (preferCached && !hasTeamInvitesCacheExpired()) {
    if (success) {
      model_services::postToMainQueue([self = weak_from_this(), success = std::move(success)] {
        auto team = self.lock();
        success(team ? team->cachedTeamInvites() : TeamInvites{});
      });
    }
    return;
  }
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  client->GET(
      "teams/" + teamID().value_or(std::string()) + "/teaminvites", Value(),
      [self = weak_from_this(), success = std::move(success)](const Value& reply) {
        const platform::Array* items = reply.array();
        auto invites = model_services::importPage<KSTeamInvite>(items ? *items : platform::Array{}, "team invite");
        if (auto team = self.lock()) {
          team->setCachedTeamInvites(invites);
          team->setCachedTeamInvitesAt(KSModelClock::now());
        }
        if (success) success(invites);
      },
      std::move(failure));
}

void KSTeam::createApp(const std::shared_ptr<KSApp>& app, std::function<void(std::shared_ptr<KSApp>)> success,
                       Failure failure) {
  if (!app) return;
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  app->setTeamID(teamID());
  client->POST(
      "apps", Value(app->toDictionary()),
      [self = weak_from_this(), success = std::move(success), failure](const Value& reply) {
        platform::Error error;
        auto created = importReply<KSApp>(reply, "app", error);
        if (!created) {
          if (failure) failure(error);
          return;
        }
        if (auto team = self.lock()) team->setCachedAppsAt(std::nullopt);
        if (success) success(created);
      },
      failure);
}

void KSTeam::deleteApp(const std::shared_ptr<KSApp>& app, std::function<void()> success, Failure failure) {
  if (!app) return;
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  client->DELETE(
      "apps/" + app->appID().value_or(std::string()), Value(),
      [self = weak_from_this(), success = std::move(success)](const Value&) {
        if (auto team = self.lock()) team->setCachedAppsAt(std::nullopt);
        if (success) success();
      },
      std::move(failure));
}

void KSTeam::createCategory(const std::shared_ptr<KSCategory>& category,
                            std::function<void(std::shared_ptr<KSCategory>)> success, Failure failure) {
  if (!category) return;
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  category->setTeamID(teamID());
  client->POST(
      "categories", Value::makeDict({{"category", Value(category->toDictionary())}}),
      [self = weak_from_this(), success = std::move(success), failure](const Value& reply) {
        platform::Error error;
        auto created = importReply<KSCategory>(reply, "category", error);
        if (!created) {
          if (failure) failure(error);
          return;
        }
        if (auto team = self.lock()) team->setCachedCategoriesAt(std::nullopt);
        if (success) success(created);
      },
      failure);
}

void KSTeam::deleteCategory(const std::shared_ptr<KSCategory>& category, std::function<void()> success,
                            Failure failure) {
  if (!category) return;
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  client->DELETE(
      "categories/" + category->categoryID().value_or(std::string()), Value(),
      [self = weak_from_this(), success = std::move(success)](const Value&) {
        if (auto team = self.lock()) team->setCachedCategoriesAt(std::nullopt);
        if (success) success();
      },
      std::move(failure));
}

void KSTeam::sendTeamInvite(const std::shared_ptr<KSTeamInvite>& invite,
                            std::function<void(std::shared_ptr<KSTeamInvite>)> success, Failure failure) {
  if (!invite) return;
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  // The invite names this team (the caller's invite keeps it, as any nested record); the
  // call itself holds the team only weakly, so a team released before the reply is neither
  // kept alive by it nor touched.
  invite->setTeam(weak_from_this().lock());
  client->POST(
      "teaminvites", Value(invite->toDictionary()),
      [self = weak_from_this(), success = std::move(success), failure](const Value& reply) {
        platform::Error error;
        auto sent = importReply<KSTeamInvite>(reply, "teamInvite", error);
        if (!sent) {
          if (failure) failure(error);
          return;
        }
        if (auto team = self.lock()) {
          team->setCachedTeamInvitesAt(std::nullopt);
          team->setCachedTeammatesAt(std::nullopt);
        }
        if (success) success(sent);
      },
      failure);
}

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

}  // namespace velmora::kestrine
