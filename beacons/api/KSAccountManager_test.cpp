#include "beacons/api/KSAccountManager.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "beacons/foundation/KSJSONModelError.h"
#include "beacons/foundation/StringHash.h"
#include "beacons/model/KSApp.h"
#include "beacons/model/KSBeacon.h"
#include "beacons/model/KSPerson.h"
#include "beacons/model/KSPlatformType.h"
#include "beacons/model/KSSiteAccessType.h"
#include "beacons/storage/KSUserDefaultsManager.h"
#include "platform/defaults/UserDefaults.h"
#include "platform/notify/NotificationCenter.h"
#include "testing/ApiTestSupport.h"
#include "testing/TempDir.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::ApiTestWorld;
using velmora::testing::BeaconCloudFake;

class KSAccountManagerTest : public ::testing::Test {
 protected:
  ApiTestWorld world;
  velmora::testing::TempDir dir;
  std::shared_ptr<KSUserDefaultsManager> defaults =
      std::make_shared<KSUserDefaultsManager>(platform::UserDefaults::open(dir.path() / "defaults.plist"));
  std::shared_ptr<platform::NotificationCenter> center = std::make_shared<platform::NotificationCenter>();
  std::shared_ptr<KSAccountManager> account = KSAccountManager::create(world.client, defaults, center);
  std::vector<std::string> posted;
  std::vector<platform::NotificationCenter::ObserverToken> tokens;

  void SetUp() override {
    for (auto name : {KSAccountManagerDidVerifyAppNotification, KSAccountManagerDidFailVerifyAppNotification,
                      KSAccountManagerDidLogInPersonNotification, KSAccountManagerDidFailLogInNotification,
                      KSAccountManagerDidLogOffNotification}) {
      tokens.push_back(center->addObserver(std::string(name), nullptr, nullptr,
                                           [this](const platform::Notification& n) { posted.push_back(n.name); }));
    }
  }

  std::shared_ptr<KSApp> cachedAppFor(const std::string& token, bool upperCase = false) {
    auto app = KSApp::initWithDictionary(Value::makeDict({{"id", "app-1"}}));
    std::string code = string_hash::SHA256(token);
    if (upperCase) {
      for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    app->setVerificationCode(code);
    return app;
  }

  // Verifies and drains; answers whether success ran.
  std::optional<bool> verify(const std::string& token) {
    std::optional<bool> succeeded;
    account->verifyAppWithToken(
        token, [&](KSAppVerification::App) { succeeded = true; }, [&](platform::Error) { succeeded = false; });
    world.drainUntil([&] { return succeeded.has_value(); });
    world.drain();
    return succeeded;
  }
};

TEST_F(KSAccountManagerTest, AVerifiedReplyStoresTheAppWithTheTokensDigestAndTime) {
  world.cloud.putRecord("/apps/t%2Fk", "app", Value::makeDict({{"id", "app-1"}, {"name", "Lot"}}));
  std::optional<int> statusWhileRunning;
  account->verifyAppWithToken(
      "t/k", [&](KSAppVerification::App) {}, [&](platform::Error) {});
  statusWhileRunning = account->appTokenStatus();
  world.drainUntil([&] { return !posted.empty(); });
  EXPECT_EQ(statusWhileRunning, KSAppTokenStatusUnverified);
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusVerified);
  EXPECT_EQ(posted, (std::vector<std::string>{"KSAccountManagerDidVerifyApp"}));
  EXPECT_EQ(world.cloud.log().at(0).path, "/apps/t/k");
  auto stored = defaults->loadCachedApp();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->appID(), "app-1");
  EXPECT_EQ(stored->verificationCode(), string_hash::SHA256("t/k"));
  EXPECT_EQ(stored->verifiedAt(), world.now());
}

TEST_F(KSAccountManagerTest, ATokenMatchingTheCacheIsVerifiedAtOnceAndOnlyA401MakesItInvalid) {
  account->verifiedApp()->setVerificationCode(string_hash::SHA256("tok"));
  defaults->storeApp(cachedAppFor("tok"));
  world.cloud.setFault("GET", "/apps/tok", BeaconCloudFake::Fault{.status = 500, .times = 1});
  account->verifyAppWithToken("tok", [](KSAppVerification::App) {}, [](platform::Error) {});
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusVerified);
  world.drainUntil([&] { return !posted.empty(); });
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusVerified);
  EXPECT_EQ(posted.back(), "KSAccountManagerDidFailVerifyApp");

  world.cloud.setFault("GET", "/apps/tok", BeaconCloudFake::Fault{.status = 401});
  EXPECT_EQ(verify("tok"), false);
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusInvalid);
  EXPECT_EQ(defaults->loadCachedApp(), nullptr);
}

TEST_F(KSAccountManagerTest, AReplyWithoutTheAppFailsAndLeavesTheStatus) {
  world.cloud.putRecord("/apps/tok", "notApp", Value::makeDict({{"id", "x"}}));
  EXPECT_EQ(verify("tok"), false);
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusUnverified);
  EXPECT_EQ(posted, (std::vector<std::string>{"KSAccountManagerDidFailVerifyApp"}));
}

// A reply without its record ("app", "user", "beacon") fails with the record import's error
// for a nil input, not with one of the manager's own making.
TEST_F(KSAccountManagerTest, AReplyWithoutItsRecordFailsWithTheImportsNilInputError) {
  world.cloud.putRecord("/apps/tok", "notApp", Value::makeDict({{"id", "x"}}));
  world.cloud.putRecord("/account/verifycredentials", "person", Value::makeDict({{"id", "P1"}}));
  world.cloud.putRecord("beacons/B1", "other", Value::makeDict({{"id", "B1"}}));
  const struct {
    const char* name;
    std::function<void(std::function<void(const platform::Error&)>)> call;
  } cases[] = {
      {"app", [&](auto failed) { account->verifyAppWithToken("tok", [](KSAppVerification::App) {}, failed); }},
      {"user", [&](auto failed) { account->verifyCredentialsWithSuccess([](std::shared_ptr<KSPerson>) {}, failed); }},
      {"beacon", [&](auto failed) { account->getBeaconWithBeaconID("B1", 3, [](std::shared_ptr<KSBeacon>) {}, failed); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<platform::Error> error;
    c.call([&](const platform::Error& e) { error = e; });
    ASSERT_TRUE(world.drainUntil([&] { return error.has_value(); }));
    world.drain();
    EXPECT_EQ(error->domain, KSJSONModelErrorDomain);
    EXPECT_EQ(error->code, KSJSONModelError::kInputIsNil);
    EXPECT_EQ(error->localizedDescription, "Initializing model with nil input object.");
  }
  EXPECT_FALSE(account->isLoggedIn());
}

TEST_F(KSAccountManagerTest, RestoreMatchesTheCachedDigestWithoutRegardToCase) {
  defaults->storeApp(cachedAppFor("tok", /*upperCase=*/true));
  account->attemptAppRestoreAndVerifyWithToken("tok");
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusVerified);
  EXPECT_EQ(account->verifiedApp()->appID(), "app-1");
  EXPECT_EQ(posted, (std::vector<std::string>{"KSAccountManagerDidVerifyApp"}));
  EXPECT_TRUE(world.cloud.log().empty());
}

TEST_F(KSAccountManagerTest, RestoreOfAnotherTokensAppRemovesItAndLeavesTheStatus) {
  defaults->storeApp(cachedAppFor("other"));
  account->attemptAppRestoreAndVerifyWithToken("");
  EXPECT_TRUE(defaults->loadCachedApp());  // an empty token does nothing
  account->attemptAppRestoreAndVerifyWithToken("tok");
  EXPECT_EQ(defaults->loadCachedApp(), nullptr);
  EXPECT_EQ(account->appTokenStatus(), KSAppTokenStatusNone);
  EXPECT_TRUE(posted.empty());
}

TEST_F(KSAccountManagerTest, SiteAccessTypesComeBackAsRecords) {
  world.cloud.putList("siteaccesstypes", "siteAccessTypes",
                      {Value::makeDict({{"id", 1}, {"name", "public"}}), Value::makeDict({{"id", 2}, {"name", "private"}})});
  std::optional<KSAccountManager::List<KSSiteAccessType>> listed;
  account->getSiteAccessTypesWithSuccess([&](const auto& list) { listed = list; }, nullptr);
  ASSERT_TRUE(world.drainUntil([&] { return listed.has_value(); }));
  ASSERT_EQ(listed->size(), 2u);
  EXPECT_EQ((*listed)[0]->siteAccessTypeID(), 1);
  EXPECT_EQ((*listed)[1]->name(), "private");
  ASSERT_TRUE(account->siteAccessTypes());
  EXPECT_EQ(account->siteAccessTypes()->at(1), (*listed)[1]);
}

TEST_F(KSAccountManagerTest, CredentialsSignThePersonInAndLoadOnlyTheListsNotYetLoaded) {
  world.cloud.putRecord("/account/verifycredentials", "user", Value::makeDict({{"id", "p1"}, {"userName", "me"}}));
  world.cloud.putList("platformtypes", "platformTypes", {Value::makeDict({{"id", 1}, {"name", "iOS"}})});
  for (auto [path, key] : {std::pair{"beaconloudnesses", "beaconLoudnesses"}, {"targetspeeds", "targetSpeeds"},
                           {"siteaccesstypes", "siteAccessTypes"}, {"beaconmodes", "beaconModes"}}) {
    world.cloud.putList(path, key, {});
  }
  bool listed = false;
  account->getPlatformTypesWithSuccess([&](const auto&) { listed = true; }, nullptr);
  world.drainUntil([&] { return listed; });
  world.cloud.clearLog();

  std::shared_ptr<KSPerson> person;
  account->verifyCredentialsWithSuccess([&](std::shared_ptr<KSPerson> p) { person = p; }, [](const platform::Error&) {});
  world.drainUntil([&] { return person != nullptr && world.cloud.log().size() >= 5; });
  world.drain();
  EXPECT_TRUE(account->isLoggedIn());
  std::vector<std::string> paths;
  for (const auto& r : world.cloud.log()) paths.push_back(r.path);
  // The lists load side by side, so they arrive in any order.
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths.front(), "/account/verifycredentials");
  std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"/account/verifycredentials", "/api/beaconloudnesses", "/api/beaconmodes",
                                             "/api/siteaccesstypes", "/api/targetspeeds"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"KSAccountManagerDidLogInPerson"}));

  world.client->setAuthorizationHeaderWithAppToken("tok");
  account->logOff();
  EXPECT_FALSE(account->isLoggedIn());
  EXPECT_EQ(world.client->requestSerializer()->valueForHTTPHeaderField("Authorization"), std::nullopt);
  EXPECT_EQ(posted.back(), "KSAccountManagerDidLogOff");
}

TEST_F(KSAccountManagerTest, ABeaconByIdAndVersionSendsTheVersionAsQuery) {
  world.cloud.putRecord("beacons/B1", "beacon", Value::makeDict({{"id", "B1"}}));
  std::shared_ptr<KSBeacon> beacon;
  account->getBeaconWithBeaconID("B1", 12, [&](std::shared_ptr<KSBeacon> b) { beacon = b; }, [](const platform::Error&) {});
  ASSERT_TRUE(world.drainUntil([&] { return beacon != nullptr; }));
  EXPECT_EQ(world.cloud.log().at(0).query.at("version"), "12");
}

}  // namespace
}  // namespace velmora::kestrine
