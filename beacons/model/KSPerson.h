#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "beacons/foundation/KSJSONRecord.h"
#include "beacons/foundation/KSMutableDictionary.h"
#include "beacons/model/KSGuardedFields.h"
#include "platform/core/Date.h"
#include "platform/core/Error.h"

namespace velmora::kestrine {

class KSApp;
class KSTeam;
class KSTeamInvite;

// The signed-in user: his profile, the teams he belongs to (cached by team id) and the
// invitations he has received. The JSON form is the profile alone; the caches stay out of
// it. Fields sit behind the record's lock; the team cache is a thread-safe dictionary.
class KSPerson : public KSJSONRecord<KSPerson>, public std::enable_shared_from_this<KSPerson> {
 public:
  using Teams = std::vector<std::shared_ptr<KSTeam>>;
  using TeamInvites = std::vector<std::shared_ptr<KSTeamInvite>>;

  static const KSJSONModelClass& jsonClass();

  std::optional<std::string> personID() const { return f_.get(&Fields::personID); }
  void setPersonID(std::optional<std::string> v) { f_.set(&Fields::personID, std::move(v)); }
  std::optional<std::string> userName() const { return f_.get(&Fields::userName); }
  void setUserName(std::optional<std::string> v) { f_.set(&Fields::userName, std::move(v)); }
  std::optional<std::string> email() const { return f_.get(&Fields::email); }
  void setEmail(std::optional<std::string> v) { f_.set(&Fields::email, std::move(v)); }
  std::optional<std::string> firstName() const { return f_.get(&Fields::firstName); }
  void setFirstName(std::optional<std::string> v) { f_.set(&Fields::firstName, std::move(v)); }
  std::optional<std::string> lastName() const { return f_.get(&Fields::lastName); }
  void setLastName(std::optional<std::string> v) { f_.set(&Fields::lastName, std::move(v)); }
  std::optional<platform::Date> createdAt() const { return f_.get(&Fields::createdAt); }
  void setCreatedAt(std::optional<platform::Date> v) { f_.set(&Fields::createdAt, v); }
  std::int64_t teamCount() const { return f_.get(&Fields::teamCount); }
  void setTeamCount(std::int64_t v) { f_.set(&Fields::teamCount, v); }
  // When the person's teams were last loaded.
  std::optional<platform::Date> cachedTeamsAt() const { return f_.get(&Fields::cachedTeamsAt); }
  void setCachedTeamsAt(std::optional<platform::Date> v) { f_.set(&Fields::cachedTeamsAt, v); }
  TeamInvites cachedTeamInvites() const { return f_.get(&Fields::cachedTeamInvites); }
  void setCachedTeamInvites(TeamInvites v) { f_.set(&Fields::cachedTeamInvites, std::move(v)); }
  std::optional<platform::Date> cachedTeamInvitesAt() const { return f_.get(&Fields::cachedTeamInvitesAt); }
  void setCachedTeamInvitesAt(std::optional<platform::Date> v) { f_.set(&Fields::cachedTeamInvitesAt, v); }
  // The cached teams by team id.
  KSMutableDictionary<std::string, std::shared_ptr<KSTeam>>& teamForKey() { return teamForKey_; }

  // The first and last names that are present and not empty, joined by one space.
  std::string name() const;

  bool hasTeamsCacheExpired() const;
  bool hasTeamInvitesCacheExpired() const;

  // Keeps the team under its id, replacing a team of the same id; without an id, nothing.
  void cacheTeam(const std::shared_ptr<KSTeam>& team);
  void cacheTeamsFromArray(const std::optional<Teams>& teams);
  void removeCachedTeam(const std::shared_ptr<KSTeam>& team);
  // Every cached team, by name ascending.
  Teams allCachedTeams() const;
  std::shared_ptr<KSTeam> cachedTeamWithTeamID(const std::optional<std::string>& teamID) const;
  // The cached teams whose owner has the person's user name, by name; nullopt without a
  // person.
  std::optional<Teams> cachedTeamsWithOwner(const std::shared_ptr<KSPerson>& owner) const;

  // Permission tests over the cached teams and the person's role in each.
  bool isOwnerOfTeamWithTeamID(std::string_view teamID) const;
  bool isContributorToTeamWithTeamID(std::string_view teamID) const;
  bool isInTeamWithTeamID(std::string_view teamID) const;
  bool canEditTeamWithTeamID(const std::optional<std::string>& teamID) const;
  bool canEditTeam(const std::shared_ptr<KSTeam>& team) const;
  bool canDeleteTeam(const std::shared_ptr<KSTeam>& team) const;
  bool canDeleteApp(const std::shared_ptr<KSApp>& app) const;

  // With preferCached and a fresh invite cache, success gets the cached invites later on
  // the main queue; otherwise one GET of "teaminvites", whose "teamInvites" become the
  // cache (items that do not import are skipped). The call holds the person weakly.
  void getTeamInvitesWithSuccess(std::function<void(const TeamInvites&)> success,
                                 std::function<void(const platform::Error&)> failure, bool preferCached);

 private:
  struct Fields {
    std::optional<std::string> personID, userName, email, firstName, lastName;
    std::optional<platform::Date> createdAt;
    std::int64_t teamCount = 0;
    std::optional<platform::Date> cachedTeamsAt;
    TeamInvites cachedTeamInvites;
    std::optional<platform::Date> cachedTeamInvitesAt;
  };
  KSGuardedFields<Fields> f_;
  KSMutableDictionary<std::string, std::shared_ptr<KSTeam>> teamForKey_;
};

}  // namespace velmora::kestrine
