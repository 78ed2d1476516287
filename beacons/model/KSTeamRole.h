#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/model/KSNamedLookupRecord.h"

namespace velmora::kestrine {

// A member's role in a team: 1 owner, 2 contributor, 3 consumer.
class KSTeamRole : public KSNamedLookupRecord<KSTeamRole> {
 public:
  static constexpr std::int64_t kOwner = 1;
  static constexpr std::int64_t kContributor = 2;
  static constexpr std::int64_t kConsumer = 3;

  static const KSJSONModelClass& jsonClass();

  // New roles with only the id set.
  static std::shared_ptr<KSTeamRole> teamRoleForOwner();
  static std::shared_ptr<KSTeamRole> teamRoleForContributor();
  static std::shared_ptr<KSTeamRole> teamRoleForConsumer();

  std::int64_t teamRoleID() const { return teamRoleID_; }
  void setTeamRoleID(std::int64_t v) { teamRoleID_ = v; }

 private:
  std::int64_t teamRoleID_ = 0;
  std::optional<std::string> name_, displayName_;
};

// The state of a team invitation; the ids come from the server.
class KSInviteStatus : public KSNamedLookupRecord<KSInviteStatus> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t inviteStatusID() const { return inviteStatusID_; }
  void setInviteStatusID(std::int64_t v) { inviteStatusID_ = v; }

 private:
  std::int64_t inviteStatusID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace velmora::kestrine
