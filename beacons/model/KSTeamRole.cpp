#include "beacons/model/KSTeamRole.h"

namespace velmora::kestrine {

const KSJSONModelClass& KSTeamRole::jsonClass() {
  using R = KSTeamRole;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<R>("KSTeamRole", [](auto& c) {
    c.keyMapper({{"id", "teamRoleID"}});
    c.allOptional();
    c.scalar("teamRoleID", &R::teamRoleID, &R::setTeamRoleID);
    defineNames(c);
  });
  return cls;
}

namespace {
std::shared_ptr<KSTeamRole> role(std::int64_t id) {
  auto r = std::make_shared<KSTeamRole>();
  r->setTeamRoleID(id);
  return r;
}
}  // namespace

std::shared_ptr<KSTeamRole> KSTeamRole::teamRoleForOwner() { return role(kOwner); }
std::shared_ptr<KSTeamRole> KSTeamRole::teamRoleForContributor() { return role(kContributor); }
std::shared_ptr<KSTeamRole> KSTeamRole::teamRoleForConsumer() { return role(kConsumer); }


const KSJSONModelClass& KSInviteStatus::jsonClass() {
  using S = KSInviteStatus;
  static const KSJSONModelClass& cls = KSJSONModelClass::defineImmortal<S>("KSInviteStatus", [](auto& c) {
    c.keyMapper({{"id", "inviteStatusID"}});
    c.allOptional();
    c.scalar("inviteStatusID", &S::inviteStatusID, &S::setInviteStatusID);
    defineNames(c);
  });
  return cls;
}


}  // namespace velmora::kestrine
