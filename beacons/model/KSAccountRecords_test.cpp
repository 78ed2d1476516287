#include <gtest/gtest.h>

#include <thread>

#include "beacons/model/KSApp.h"
#include "beacons/model/KSAppSdkOption.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamInvite.h"
#include "beacons/model/KSTeamRole.h"
#include "platform/core/Json.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/FakeLocalStorage.h"
#include "testing/ScopedModelRegistry.h"

namespace velmora::kestrine {
namespace {

using platform::Value;

Value json(std::string_view text) { return *platform::json::parse(text); }

std::shared_ptr<KSTeam> team(std::string id, std::optional<std::string> name, std::optional<std::int64_t> role,
                             std::optional<std::string> ownerUserName = std::nullopt) {
  auto t = std::make_shared<KSTeam>();
  t->setTeamID(std::move(id));
  t->setName(std::move(name));
  if (role) {
    auto r = std::make_shared<KSTeamRole>();
    r->setTeamRoleID(*role);
    t->setTeamRole(r);
  }
  if (ownerUserName) {
    auto owner = std::make_shared<KSPerson>();
    owner->setUserName(ownerUserName);
    t->setOwner(owner);
  }
  return t;
}

// An invite nests a person, a team with its role and owner, a role and a status; the team
// exports only its id and name, wherever it sits.
TEST(KSTeamInvite, ImportsNestedRecordsAndExportsTheTeamWhitelisted) {
  platform::Error error;
  auto invite = KSTeamInvite::initWithDictionary(json(R"({
      "id": "inv", "email": "a@b", "message": "join",
      "inviter": {"id": "p1", "userName": "ann", "firstName": "Ann"},
      "team": {"id": "T", "name": "Team", "siteCount": 3, "teamRole": {"id": 2},
               "owner": {"id": "p1", "userName": "ann"}, "recentAlerts": [], "beaconRegions": [{"id": "r"}]},
      "teamRole": {"id": 3, "name": "consumer"},
      "inviteStatus": {"id": 1, "name": "pending", "displayName": "Pending"}})"),
                                                 &error);
  ASSERT_TRUE(invite) << error.localizedDescription;
  EXPECT_EQ(invite->teamInviteID(), "inv");
  EXPECT_EQ(invite->inviter()->personID(), "p1");
  ASSERT_TRUE(invite->team());
  EXPECT_EQ(invite->team()->siteCount(), 3);
  EXPECT_EQ(invite->team()->teamRole()->teamRoleID(), 2);
  EXPECT_EQ(invite->team()->owner()->userName(), "ann");
  EXPECT_EQ(invite->team()->beaconRegions().size(), 1u);
  EXPECT_EQ(invite->teamRole()->description(), "consumer");
  EXPECT_EQ(invite->inviteStatus()->description(), "Pending");

  const platform::Dict exported = invite->toDictionary();
  EXPECT_EQ(exported.at("id"), Value("inv"));
  EXPECT_EQ(Value(exported.at("team")), json(R"({"id":"T","name":"Team"})"));
  EXPECT_EQ(exported.at("inviter")["userName"], Value("ann"));

  auto teammate = KSTeammate::initWithDictionary(json(R"({"id":"m-1","person":{"id":"p"}})"));
  ASSERT_TRUE(teammate);
  EXPECT_EQ(teammate->teammateId(), "m-1");
  EXPECT_EQ(teammate->person()->personID(), "p");

  EXPECT_EQ(KSTeamRole::teamRoleForContributor()->teamRoleID(), 2);
  EXPECT_FALSE(KSTeamRole::teamRoleForOwner()->name());
}

// A person's export is the profile only, whatever its caches hold.
TEST(KSPerson, ExportsTheProfileAndJoinsTheNameParts) {
  auto person = KSPerson::initWithDictionary(json(R"({"id":"p","userName":"ann","firstName":"Ann","teamCount":2})"));
  ASSERT_TRUE(person);
  person->cacheTeam(team("T", "Team", 1));
  person->setCachedTeamInvites({std::make_shared<KSTeamInvite>()});
  person->setCachedTeamsAt(platform::Date::fromUnixSeconds(1));
  EXPECT_EQ(Value(person->toDictionary()), json(R"({"id":"p","userName":"ann","firstName":"Ann","teamCount":2})"));

  struct Case {
    std::optional<std::string> first, last;
    std::string name;
  };
  for (const Case& c : std::vector<Case>{{"Ann", "Lee", "Ann Lee"}, {"Ann", std::nullopt, "Ann"},
                                         {std::nullopt, "Lee", "Lee"}, {"", "Lee", "Lee"},
                                         {std::nullopt, std::nullopt, ""}}) {
    KSPerson p;
    p.setFirstName(c.first);
    p.setLastName(c.last);
    EXPECT_EQ(p.name(), c.name);
  }
}

TEST(KSPerson, TeamCacheAndPermissions) {
  auto ann = std::make_shared<KSPerson>();
  ann->setUserName("ann");
  KSPerson person;
  person.cacheTeamsFromArray(std::vector<std::shared_ptr<KSTeam>>{
      team("owner", "Delta", KSTeamRole::kOwner, "ann"), team("contrib", "alpha", KSTeamRole::kContributor),
      team("consumer", "Beta", KSTeamRole::kConsumer, "ann"), team("none", std::nullopt, std::nullopt),
      team("", "ignored", 1)});
  person.cacheTeamsFromArray(std::nullopt);
  // Sorted by the name's bytes, a team without a name first.
  std::vector<std::string> order;
  for (const auto& t : person.allCachedTeams()) order.push_back(*t->teamID());
  EXPECT_EQ(order, (std::vector<std::string>{"none", "consumer", "owner", "contrib"}));

  // Caching a team under a known id replaces the earlier one.
  person.cacheTeam(team("contrib", "Gamma", KSTeamRole::kContributor));
  EXPECT_EQ(person.cachedTeamWithTeamID("contrib")->name(), "Gamma");
  EXPECT_FALSE(person.cachedTeamWithTeamID(""));
  EXPECT_FALSE(person.cachedTeamWithTeamID(std::nullopt));

  auto owned = person.cachedTeamsWithOwner(ann);
  ASSERT_TRUE(owned);
  ASSERT_EQ(owned->size(), 2u);
  EXPECT_EQ((*owned)[0]->name(), "Beta");
  EXPECT_FALSE(person.cachedTeamsWithOwner(nullptr));

  struct Case {
    const char* id;
    bool edit, remove;
  };
  for (const Case& c : std::vector<Case>{{"owner", true, true}, {"contrib", true, false}, {"consumer", false, false},
                                         {"none", false, false}, {"unknown", false, false}}) {
    SCOPED_TRACE(c.id);
    auto t = team(c.id, std::nullopt, std::nullopt);
    EXPECT_EQ(person.canEditTeam(t), c.edit);
    EXPECT_EQ(person.canDeleteTeam(t), c.remove);
    auto app = std::make_shared<KSApp>();
    app->setTeamID(std::string(c.id));
    EXPECT_EQ(person.canDeleteApp(app), c.remove);
  }
  auto appWithoutTeam = std::make_shared<KSApp>();
  appWithoutTeam->setTeamID(std::string());
  EXPECT_FALSE(person.canDeleteApp(appWithoutTeam));
  EXPECT_FALSE(person.canEditTeamWithTeamID(std::string()));
  EXPECT_TRUE(person.isInTeamWithTeamID("none"));

  person.removeCachedTeam(team("owner", std::nullopt, std::nullopt));
  person.removeCachedTeam(nullptr);
  EXPECT_FALSE(person.isInTeamWithTeamID("owner"));
}

TEST(KSTeam, ExportAndCacheTests) {
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromUnixSeconds(10000));
  testing::ScopedModelRegistry registry({.scheduler = scheduler});
  auto t = KSTeam::initWithDictionary(json(R"({"id":"T","name":"Team","appCount":4,"createdAt":"2020-01-01T00:00:00Z"})"));
  ASSERT_TRUE(t);
  t->setCachedAppsAt(scheduler->clock()->now());
  t->setNumberOfBeaconsCached(7);
  EXPECT_EQ(Value(t->toDictionary()), json(R"({"id":"T","name":"Team"})"));

  EXPECT_FALSE(t->hasAppsCacheExpired());
  EXPECT_TRUE(t->hasCategoriesCacheExpired());
  scheduler->manualClock()->advance(1800.0);
  EXPECT_FALSE(t->hasAppsCacheExpired());
  scheduler->manualClock()->advance(1.0);
  EXPECT_TRUE(t->hasAppsCacheExpired());

  auto a = team("a", "b", std::nullopt), b = team("b", "a", std::nullopt), c = team("c", std::nullopt, std::nullopt);
  auto d = team("d", "a", std::nullopt);
  std::vector<std::string> order;
  for (const auto& x : team_array::sortedTeamArrayUsingNameAscending({a, b, c, d}, false)) order.push_back(*x->teamID());
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "d", "c"}));
}

TEST(KSApp, RemoteOptionsVerificationAgeAndApiCopy) {
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromUnixSeconds(10000));
  testing::ScopedModelRegistry registry({.scheduler = scheduler});
  auto app = KSApp::initWithDictionary(json(R"({"id":"A","teamID":"T","platformType":{"id":1},
      "appSdkOptions":[{"optionKey":"k","optionValue":"1"},{"optionKey":"j"},{"optionValue":"x"},
                       {"optionKey":"k","optionValue":"2"}]})"));
  ASSERT_TRUE(app);
  EXPECT_EQ(app->remoteOptions(), (std::map<std::string, std::string>{{"k", "2"}}));
  EXPECT_TRUE(KSApp().remoteOptions().empty());
  const platform::Dict exported = app->toDictionary();
  EXPECT_EQ(exported.at("id"), Value("A"));
  EXPECT_EQ(exported.at("appSdkOptions").size(), 4u);

  EXPECT_FALSE(app->wasVerifiedWithinTimeInterval(60));
  const platform::Date now = scheduler->clock()->now();
  app->setVerifiedAt(now.addingTimeInterval(-59));
  EXPECT_TRUE(app->wasVerifiedWithinTimeInterval(60));
  app->setVerifiedAt(now.addingTimeInterval(-61));
  EXPECT_FALSE(app->wasVerifiedWithinTimeInterval(60));
  app->setVerifiedAt(now.addingTimeInterval(-60));
  EXPECT_FALSE(app->wasVerifiedWithinTimeInterval(60));

  KSApp copy;
  copy.copyApiPropertiesFromApp(*app);
  EXPECT_EQ(copy.toDictionary(), app->toDictionary());
}

// The person's team cache and a team's fields are read and written from several threads.
TEST(KSPerson, TeamCacheAcrossThreads) {
  auto person = std::make_shared<KSPerson>();
  std::vector<std::thread> threads;
  for (int w = 0; w < 4; ++w) {
    threads.emplace_back([person, w] {
      for (int i = 0; i < 200; ++i) {
        auto t = team("T" + std::to_string(i % 20), "n" + std::to_string(w), i % 3 + 1);
        person->cacheTeam(t);
        (void)person->canEditTeamWithTeamID(std::string("T") + std::to_string(i % 20));
        if (auto cached = person->cachedTeamWithTeamID("T1")) cached->setName("renamed");
        (void)person->allCachedTeams();
        if (i % 7 == 0) person->removeCachedTeam(t);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_LE(person->allCachedTeams().size(), 20u);
}

}  // namespace
}  // namespace velmora::kestrine
