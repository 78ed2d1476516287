#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"

namespace kestrine {

// A member's role in a team: 1 owner, 2 contributor, 3 consumer.
class KSTeamRole : public KSJSONRecord<KSTeamRole> {
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
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }

  // The display name when it holds a value, else the name (empty when neither does).
  std::string description() const override;

 private:
  std::int64_t teamRoleID_ = 0;
  std::optional<std::string> name_, displayName_;
};

// The state of a team invitation; the ids come from the server.
class KSInviteStatus : public KSJSONRecord<KSInviteStatus> {
 public:
  static const KSJSONModelClass& jsonClass();

  std::int64_t inviteStatusID() const { return inviteStatusID_; }
  void setInviteStatusID(std::int64_t v) { inviteStatusID_ = v; }
  const std::optional<std::string>& name() const { return name_; }
  void setName(std::optional<std::string> v) { name_ = std::move(v); }
  const std::optional<std::string>& displayName() const { return displayName_; }
  void setDisplayName(std::optional<std::string> v) { displayName_ = std::move(v); }

  // The display name when it holds a value, else the name.
  std::string description() const override;

 private:
  std::int64_t inviteStatusID_ = 0;
  std::optional<std::string> name_, displayName_;
};

}  // namespace kestrine
