#include "beacons/model/KSTeamInvite.h"

#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamRole.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSTeamInvite::jsonClass() {
  using I = KSTeamInvite;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<I>("KSTeamInvite", [](auto& c) {
    c.keyMapper({{"id", "teamInviteID"}});
    c.allOptional();
    c.text("teamInviteID", &I::teamInviteID, &I::setTeamInviteID);
    c.text("email", &I::email, &I::setEmail);
    c.text("userName", &I::userName, &I::setUserName);
    c.text("message", &I::message, &I::setMessage);
    c.record("inviter", &I::inviter, &I::setInviter);
    c.record("team", &I::team, &I::setTeam);
    c.record("teamRole", &I::teamRole, &I::setTeamRole);
    c.record("inviteStatus", &I::inviteStatus, &I::setInviteStatus);
    c.date("acceptedAt", &I::acceptedAt, &I::setAcceptedAt);
    c.date("createdAt", &I::createdAt, &I::setCreatedAt);
  });
  return cls;
}

const KSJSONModelClass& KSTeammate::jsonClass() {
  using M = KSTeammate;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<M>("KSTeammate", [](auto& c) {
    c.keyMapper({{"id", "teammateId"}});
    c.allOptional();
    c.record("team", &M::team, &M::setTeam);
    c.text("teammateId", &M::teammateId, &M::setTeammateId);
    c.record("teamRole", &M::teamRole, &M::setTeamRole);
    c.record("person", &M::person, &M::setPerson);
  });
  return cls;
}

}  // namespace velmora::kestrine
