#include "beacons/model/KSTeamRole.h"

namespace kestrine {

const KSJSONModelClass& KSTeamRole::jsonClass() {
  using R = KSTeamRole;
  static const KSJSONModelClass cls = KSJSONModelClass::define<R>("KSTeamRole", [](auto& c) {
    c.keyMapper({{"id", "teamRoleID"}});
    c.allOptional();
    c.scalar("teamRoleID", &R::teamRoleID, &R::setTeamRoleID);
    c.text("name", &R::name, &R::setName);
    c.text("displayName", &R::displayName, &R::setDisplayName);
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

std::string KSTeamRole::description() const {
  if (displayName_) return *displayName_;
  return name_.value_or(std::string());
}

const KSJSONModelClass& KSInviteStatus::jsonClass() {
  using S = KSInviteStatus;
  static const KSJSONModelClass cls = KSJSONModelClass::define<S>("KSInviteStatus", [](auto& c) {
    c.keyMapper({{"id", "inviteStatusID"}});
    c.allOptional();
    c.scalar("inviteStatusID", &S::inviteStatusID, &S::setInviteStatusID);
    c.text("name", &S::name, &S::setName);
    c.text("displayName", &S::displayName, &S::setDisplayName);
  });
  return cls;
}

std::string KSInviteStatus::description() const {
  if (displayName_) return *displayName_;
  return name_.value_or(std::string());
}

}  // namespace kestrine
