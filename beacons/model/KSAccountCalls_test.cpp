#include <gtest/gtest.h>

#include "beacons/model/KSApp.h"
#include "beacons/model/KSCategory.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSSite.h"
#include "beacons/model/KSTeam.h"
#include "beacons/model/KSTeamInvite.h"
#include "platform/core/Json.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "testing/FakeApiClient.h"
#include "testing/ScopedModelRegistry.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using testing::FakeApiClient;

Value json(std::string_view text) { return *platform::json::parse(text); }

class AccountCalls : public ::testing::Test {
 protected:
  std::shared_ptr<platform::dispatch::VirtualScheduler> scheduler =
      std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromUnixSeconds(50000));
  std::shared_ptr<FakeApiClient> client = std::make_shared<FakeApiClient>();
  testing::ScopedModelRegistry registry{{.apiClient = client, .scheduler = scheduler}};
  std::shared_ptr<KSTeam> team = makeTeam();
  const platform::Error networkError{"NSURLErrorDomain", -1009, "offline"};

  static std::shared_ptr<KSTeam> makeTeam() {
    auto t = std::make_shared<KSTeam>();
    t->setTeamID("T");
    t->setName("Team");
    return t;
  }
  platform::Date now() const { return scheduler->clock()->now(); }
};

// Each call's method, path and body, and which caches it clears once its reply imported.
TEST_F(AccountCalls, CreateAndDeleteCallsAndTheirCaches) {
  auto stamp = [&] {
    team->setCachedAppsAt(now());
    team->setCachedCategoriesAt(now());
    team->setCachedTeamInvitesAt(now());
    team->setCachedTeammatesAt(now());
  };
  auto cleared = [&] {
    return std::vector<bool>{!team->cachedAppsAt(), !team->cachedCategoriesAt(), !team->cachedTeamInvitesAt(),
                             !team->cachedTeammatesAt()};
  };
  struct Case {
    const char* name;
    std::function<void(bool& succeeded, std::optional<platform::Error>& failed)> call;
    const char* method;
    const char* path;
    const char* body;  // JSON, or nullptr for none
    const char* reply;
    std::vector<bool> clears;  // apps, categories, invites, teammates
  };
  const std::vector<Case> cases = {
      {"createApp",
       [&](bool& ok, auto& failed) {
         auto app = std::make_shared<KSApp>();
         app->setName("New");
         team->createApp(app, [&](auto created) { ok = created->appID() == "A"; }, [&](auto& e) { failed = e; });
       },
       "POST", "apps", R"({"name":"New","teamID":"T"})", R"({"app":{"id":"A","name":"New"}})",
       {true, false, false, false}},
      {"deleteApp",
       [&](bool& ok, auto& failed) {
         auto app = std::make_shared<KSApp>();
         app->setAppID("A");
         team->deleteApp(app, [&] { ok = true; }, [&](auto& e) { failed = e; });
       },
       "DELETE", "apps/A", nullptr, "{}", {true, false, false, false}},
      {"createCategory",
       [&](bool& ok, auto& failed) {
         auto category = std::make_shared<KSCategory>();
         category->setName("Cat");
         team->createCategory(category, [&](auto created) { ok = created->categoryID() == "C"; },
                              [&](auto& e) { failed = e; });
       },
       "POST", "categories", R"({"category":{"categoryType":0,"name":"Cat","teamID":"T"}})", R"({"category":{"id":"C"}})",
       {false, true, false, false}},
      {"deleteCategory",
       [&](bool& ok, auto& failed) {
         auto category = std::make_shared<KSCategory>();
         category->setCategoryID("C");
         team->deleteCategory(category, [&] { ok = true; }, [&](auto& e) { failed = e; });
       },
       "DELETE", "categories/C", nullptr, "{}", {false, true, false, false}},
      {"sendTeamInvite",
       [&](bool& ok, auto& failed) {
         auto invite = std::make_shared<KSTeamInvite>();
         invite->setEmail("a@b");
         team->sendTeamInvite(invite, [&](auto sent) { ok = sent->teamInviteID() == "I"; },
                              [&](auto& e) { failed = e; });
       },
       "POST", "teaminvites", R"({"email":"a@b","team":{"id":"T","name":"Team"}})", R"({"teamInvite":{"id":"I"}})",
       {false, false, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A failed request passes the client's error and clears nothing.
    stamp();
    bool ok = false;
    std::optional<platform::Error> failed;
    c.call(ok, failed);
    ASSERT_EQ(client->pending.size(), 1u);
    EXPECT_EQ(client->pending.front().method, c.method);
    EXPECT_EQ(client->pending.front().path, c.path);
    if (c.body) {
      EXPECT_EQ(platform::json::write(client->pending.front().parameters), platform::json::write(json(c.body)));
    } else {
      EXPECT_TRUE(client->pending.front().parameters.isAbsent());
    }
    client->fail(networkError);
    EXPECT_EQ(failed, networkError);
    EXPECT_FALSE(ok);
    EXPECT_EQ(cleared(), (std::vector<bool>{false, false, false, false}));

    failed.reset();
    c.call(ok, failed);
    client->reply(json(c.reply));
    EXPECT_TRUE(ok);
    EXPECT_FALSE(failed);
    EXPECT_EQ(cleared(), c.clears);
  }

  // A reply that does not import fails and clears nothing.
  stamp();
  std::optional<platform::Error> failed;
  team->createApp(std::make_shared<KSApp>(), [&](auto) { ADD_FAILURE(); }, [&](auto& e) { failed = e; });
  client->reply(json(R"({"app":"not an object"})"));
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->domain, "KSJSONModelErrorDomain");
  EXPECT_TRUE(team->cachedAppsAt());
  EXPECT_FALSE(team->hasCategoriesCacheExpired());
}

TEST_F(AccountCalls, PagedCategoryLoadAccumulatesAndPreferCachedAnswersOnTheMainQueue) {
  std::vector<std::size_t> sizes;
  team->getCategoriesWithSuccess([&](const KSTeam::Categories& c) { sizes.push_back(c.size()); }, nullptr, true);
  ASSERT_EQ(client->pending.size(), 1u);
  EXPECT_EQ(client->pending.front().method, "PAGES");
  EXPECT_EQ(client->pending.front().path, "categories");
  EXPECT_EQ(client->pending.front().parameters, json(R"({"teamID":"T"})"));
  client->page(json(R"([{"id":"c1"},{"id":"c2"}])").array()[0], true);
  // An item that does not import is skipped; the rest of the page is kept.
  client->page(json(R"([{"id":"c3"},"not a category"])").array()[0], false);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 3}));
  ASSERT_EQ(team->cachedCategories().size(), 3u);
  EXPECT_EQ(team->cachedCategories()[2]->categoryID(), "c3");
  EXPECT_EQ(team->cachedCategoriesAt(), now());

  // Fresh cache: the answer waits for the main queue, and nothing is requested.
  sizes.clear();
  team->getCategoriesWithSuccess([&](const KSTeam::Categories& c) { sizes.push_back(c.size()); }, nullptr, true);
  EXPECT_TRUE(client->pending.empty());
  EXPECT_TRUE(sizes.empty());
  scheduler->runUntilIdle();
  EXPECT_EQ(sizes, (std::vector<std::size_t>{3}));

  // A new load starts the list again with its first page.
  team->getCategoriesWithSuccess(nullptr, nullptr, false);
  client->page(json(R"([{"id":"c9"}])").array()[0], false);
  ASSERT_EQ(team->cachedCategories().size(), 1u);
}

TEST_F(AccountCalls, InviteLoadsOfTeamAndPerson) {
  KSTeam::TeamInvites got;
  team->getTeamInvitesWithSuccess([&](const auto& invites) { got = invites; }, nullptr, false);
  EXPECT_EQ(client->pending.front().method, "GET");
  EXPECT_EQ(client->pending.front().path, "teams/T/teaminvites");
  client->reply(json(R"([{"id":"i1"},{"id":"i2","team":{"id":"T"}}])"));
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(team->cachedTeamInvites().size(), 2u);
  EXPECT_FALSE(team->hasTeamInvitesCacheExpired());

  auto person = std::make_shared<KSPerson>();
  std::optional<platform::Error> failed;
  person->getTeamInvitesWithSuccess([&](const auto& invites) { got = invites; }, [&](auto& e) { failed = e; }, true);
  EXPECT_EQ(client->pending.front().path, "teaminvites");
  client->fail(networkError);
  EXPECT_EQ(failed, networkError);
  EXPECT_TRUE(person->hasTeamInvitesCacheExpired());
  person->getTeamInvitesWithSuccess([&](const auto& invites) { got = invites; }, nullptr, true);
  client->reply(json(R"({"teamInvites":[{"id":"p1"}]})"));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(person->cachedTeamInvites()[0]->teamInviteID(), "p1");
}

// The calls hold the team weakly: a team released before its reply gets no cache write,
// while the caller's success still runs.
TEST_F(AccountCalls, TeamReleasedBeforeItsReplyWritesNothing) {
  std::weak_ptr<KSTeam> weak = team;
  bool answered = false;
  team->getTeamInvitesWithSuccess([&](const auto&) { answered = true; }, nullptr, false);
  team.reset();
  EXPECT_TRUE(weak.expired());
  client->reply(json(R"([{"id":"i1"}])"));
  EXPECT_TRUE(answered);

  // The same for an invite sent by a team that the caller lets go of, invite and all, while
  // the POST is out: the reply only reaches the caller.
  team = makeTeam();
  weak = team;
  auto invite = std::make_shared<KSTeamInvite>();
  std::shared_ptr<KSTeamInvite> sent;
  team->sendTeamInvite(invite, [&](auto reply) { sent = reply; }, nullptr);
  invite.reset();
  team.reset();
  EXPECT_TRUE(weak.expired()) << "the pending call keeps no team";
  client->reply(json(R"({"teamInvite":{"id":"I2"}})"));
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->teamInviteID(), "I2");
}

// Without a cloud API client a call cannot be made; each one still completes, through its
// failure block on the main queue, instead of never answering.
TEST(AccountCallsWithoutClient, EveryCallFailsOnceOnTheMainQueue) {
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>(platform::Date::fromUnixSeconds(50000));
  testing::ScopedModelRegistry registry{{.scheduler = scheduler}};
  auto team = std::make_shared<KSTeam>();
  team->setTeamID("T");
  auto person = std::make_shared<KSPerson>();
  auto site = std::make_shared<KSSite>();
  site->setSiteID("S");
  int failures = 0, onMain = 0, successes = 0;
  auto failure = [&](const platform::Error& e) {
    ++failures;
    if (scheduler->mainQueue()->isCurrent()) ++onMain;
    EXPECT_EQ(e.domain, "com.kestrine.KSApiClient");
  };
  team->getTeamInvitesWithSuccess([&](const auto&) { ++successes; }, failure, /*preferCached=*/false);
  team->getCategoriesWithSuccess([&](const auto&) { ++successes; }, failure, /*preferCached=*/false);
  person->getTeamInvitesWithSuccess([&](const auto&) { ++successes; }, failure, /*preferCached=*/false);
  site->getBeaconsWithSuccess([&](const auto&) { ++successes; }, failure, /*preferCached=*/false);
  EXPECT_EQ(failures, 0);  // not before the caller has returned
  scheduler->runUntilIdle();
  EXPECT_EQ(failures, 4);
  EXPECT_EQ(onMain, 4);
  EXPECT_EQ(successes, 0);
}

}  // namespace
}  // namespace velmora::kestrine
