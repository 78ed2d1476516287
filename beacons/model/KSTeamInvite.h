#pragma once

#include <memory>
#include <optional>
#include <string>

#include "beacons/foundation/KSJSONRecord.h"
#include "platform/core/Date.h"

namespace velmora::kestrine {

class KSPerson;
class KSTeam;
class KSTeamRole;
class KSInviteStatus;

// An invitation to join a team with a role; sent by a team, received by a person.
class KSTeamInvite : public KSJSONRecord<KSTeamInvite> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::optional<std::string>& teamInviteID() const { return teamInviteID_; }
  void setTeamInviteID(std::optional<std::string> v) { teamInviteID_ = std::move(v); }
  const std::optional<std::string>& email() const { return email_; }
  void setEmail(std::optional<std::string> v) { email_ = std::move(v); }
  const std::optional<std::string>& userName() const { return userName_; }
  void setUserName(std::optional<std::string> v) { userName_ = std::move(v); }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> v) { message_ = std::move(v); }
  const std::shared_ptr<KSPerson>& inviter() const { return inviter_; }
  void setInviter(std::shared_ptr<KSPerson> v) { inviter_ = std::move(v); }
  const std::shared_ptr<KSTeam>& team() const { return team_; }
  void setTeam(std::shared_ptr<KSTeam> v) { team_ = std::move(v); }
  // The role offered.
  const std::shared_ptr<KSTeamRole>& teamRole() const { return teamRole_; }
  void setTeamRole(std::shared_ptr<KSTeamRole> v) { teamRole_ = std::move(v); }
  const std::shared_ptr<KSInviteStatus>& inviteStatus() const { return inviteStatus_; }
  void setInviteStatus(std::shared_ptr<KSInviteStatus> v) { inviteStatus_ = std::move(v); }
  const std::optional<platform::Date>& acceptedAt() const { return acceptedAt_; }
  void setAcceptedAt(std::optional<platform::Date> v) { acceptedAt_ = v; }
  const std::optional<platform::Date>& createdAt() const { return createdAt_; }
  void setCreatedAt(std::optional<platform::Date> v) { createdAt_ = v; }

 private:
  std::optional<std::string> teamInviteID_, email_, userName_, message_;
  std::shared_ptr<KSPerson> inviter_;
  std::shared_ptr<KSTeam> team_;
  std::shared_ptr<KSTeamRole> teamRole_;
  std::shared_ptr<KSInviteStatus> inviteStatus_;
  std::optional<platform::Date> acceptedAt_, createdAt_;
};

// One member of a team: the person and the role.
class KSTeammate : public KSJSONRecord<KSTeammate> {
 public:
  static const KSJSONModelClass& jsonClass();

  const std::shared_ptr<KSTeam>& team() const { return team_; }
  void setTeam(std::shared_ptr<KSTeam> v) { team_ = std::move(v); }
  const std::optional<std::string>& teammateId() const { return teammateId_; }
  void setTeammateId(std::optional<std::string> v) { teammateId_ = std::move(v); }
  const std::shared_ptr<KSTeamRole>& teamRole() const { return teamRole_; }
  void setTeamRole(std::shared_ptr<KSTeamRole> v) { teamRole_ = std::move(v); }
  const std::shared_ptr<KSPerson>& person() const { return person_; }
  void setPerson(std::shared_ptr<KSPerson> v) { person_ = std::move(v); }

 private:
  std::shared_ptr<KSTeam> team_;
  std::optional<std::string> teammateId_;
  std::shared_ptr<KSTeamRole> teamRole_;
  std::shared_ptr<KSPerson> person_;
};

}  // namespace velmora::kestrine
