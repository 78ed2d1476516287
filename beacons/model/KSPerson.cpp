#include "beacons/model/KSPerson.h"

#include "beacons/model/KSApiClientPort.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSModelClock.h"
#include "beacons/model/KSModelServices.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamInvite.h"
#include "beacons/model/KSTeamRole.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSPerson::jsonClass() {
  using P = KSPerson;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<P>("KSPerson", [](auto& c) {
    c.keyMapper({{"id", "personID"}});
    c.allOptional();
    c.text("personID", &P::personID, &P::setPersonID);
    c.text("userName", &P::userName, &P::setUserName);
    c.text("email", &P::email, &P::setEmail);
    c.text("firstName", &P::firstName, &P::setFirstName);
    c.text("lastName", &P::lastName, &P::setLastName);
    c.date("createdAt", &P::createdAt, &P::setCreatedAt);
    c.scalar("teamCount", &P::teamCount, &P::setTeamCount);
  });
  return cls;
}

std::string KSPerson::name() const {
  std::string out;
  for (const auto& part : {firstName(), lastName()}) {
    if (!part || part->empty()) continue;
    if (!out.empty()) out += ' ';
    out += *part;
  }
  return out;
}

bool KSPerson::hasTeamsCacheExpired() const { return model_services::hasCacheExpired(cachedTeamsAt()); }
bool KSPerson::hasTeamInvitesCacheExpired() const { return model_services::hasCacheExpired(cachedTeamInvitesAt()); }

void KSPerson::cacheTeam(const std::shared_ptr<KSTeam>& team) {
  if (!team) return;
  auto id = team->teamID();
  if (!id || id->empty()) return;
  teamForKey_.setObject(team, *id);
}

void KSPerson::cacheTeamsFromArray(const std::optional<Teams>& teams) {
  if (!teams) return;
  for (const auto& team : *teams) cacheTeam(team);
}

void KSPerson::removeCachedTeam(const std::shared_ptr<KSTeam>& team) {
  if (!team) return;
  if (auto id = team->teamID()) teamForKey_.removeObjectForKey(*id);
}

KSPerson::Teams KSPerson::allCachedTeams() const {
  return team_array::sortedTeamArrayUsingNameAscending(teamForKey_.allValues(), true);
}

std::shared_ptr<KSTeam> KSPerson::cachedTeamWithTeamID(const std::optional<std::string>& teamID) const {
  if (!teamID || teamID->empty()) return nullptr;
  return teamForKey_.objectForKey(*teamID).value_or(nullptr);
}

std::optional<KSPerson::Teams> KSPerson::cachedTeamsWithOwner(const std::shared_ptr<KSPerson>& owner) const {
  if (!owner) return std::nullopt;
  auto userName = owner->userName();
  if (!userName) return Teams{};
  return team_array::sortedTeamArrayUsingNameAscending(
      team_array::filteredTeamArrayUsingOwnerUsername(teamForKey_.allValues(), *userName), true);
}

namespace {

// Whether a cached team of that id has a role passing the test.
template <class F>
bool anyTeamRole(const KSPerson::Teams& teams, std::string_view teamID, F test) {
  for (const auto& team : teams) {
    auto id = team->teamID();
    if (!id || *id != teamID) continue;
    if (auto role = team->teamRole(); role && test(role->teamRoleID())) return true;
  }
  return false;
}

}  // namespace

bool KSPerson::isOwnerOfTeamWithTeamID(std::string_view teamID) const {
  return anyTeamRole(allCachedTeams(), teamID, [](std::int64_t id) { return id == KSTeamRole::kOwner; });
}

bool KSPerson::isContributorToTeamWithTeamID(std::string_view teamID) const {
  return anyTeamRole(allCachedTeams(), teamID, [](std::int64_t id) { return id != KSTeamRole::kConsumer; });
}

bool KSPerson::isInTeamWithTeamID(std::string_view teamID) const {
  return cachedTeamWithTeamID(std::string(teamID)) != nullptr;
}

bool KSPerson::canEditTeamWithTeamID(const std::optional<std::string>& teamID) const {
  if (!teamID || teamID->empty()) return false;
  return isContributorToTeamWithTeamID(*teamID) || isOwnerOfTeamWithTeamID(*teamID);
}

bool KSPerson::canEditTeam(const std::shared_ptr<KSTeam>& team) const {
  return team && canEditTeamWithTeamID(team->teamID());
}

bool KSPerson::canDeleteTeam(const std::shared_ptr<KSTeam>& team) const {
  if (!team) return false;
  auto id = team->teamID();
  return id && isOwnerOfTeamWithTeamID(*id);
}

bool KSPerson::canDeleteApp(const std::shared_ptr<KSApp>& app) const {
  if (!app) return false;
  auto id = app->teamID();
  return id && !id->empty() && isOwnerOfTeamWithTeamID(*id);
}

void KSPerson::getTeamInvitesWithSuccess(std::function<void(const TeamInvites&)> success,
                                         std::function<void(const platform::Error&)> failure, bool preferCached) {
  if (preferCached && !hasTeamInvitesCacheExpired()) {
    if (success) {
      model_services::postToMainQueue([self = weak_from_this(), success = std::move(success)] {
        auto person = self.lock();
        success(person ? person->cachedTeamInvites() : TeamInvites{});
      });
    }
    return;
  }
  auto client = model_services::apiClientOrFail(failure);
  if (!client) return;
  client->GET(
      "teaminvites", platform::Value(),
      [self = weak_from_this(), success = std::move(success)](const platform::Value& reply) {
        const platform::Array* items = reply["teamInvites"].array();
        auto invites = model_services::importPage<KSTeamInvite>(items ? *items : platform::Array{}, "team invite");
        if (auto person = self.lock()) {
          person->setCachedTeamInvites(invites);
          person->setCachedTeamInvitesAt(KSModelClock::now());
        }
        if (success) success(invites);
      },
      std::move(failure));
}

}  // namespace velmora::kestrine
