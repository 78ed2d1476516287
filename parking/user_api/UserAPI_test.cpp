#include "parking/user_api/UserAPI.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/core/Json.h"
#include "testing/CompletionRecorder.h"
#include "testing/ConfigReset.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/ParkingServiceFake.h"
#include "testing/ParkingWire.h"
#include "testing/ScopedTimeZone.h"

namespace velmora {
namespace {

using platform::Value;
using testing::CompletionRecorder;
using testing::LoopbackHttpServer;
using Recorded = LoopbackHttpServer::RecordedRequest;
using Header = testing::WireHeader;
using testing::blockPlus;
using testing::body;
using testing::callHeaders;
using testing::kBlockKeys;
using testing::keys;
using testing::kJsonHeaders;
using testing::withUser;

// Runs an asynchronous form and gives the result field it reported ("<error>" for an error).
template <class Result>
std::string asyncResult(const std::function<void(Completion<Result>)>& start) {
  CompletionRecorder<Result> recorder;
  start(recorder.completion());
  const auto report = recorder.first();
  if (!report.result) return "<error>";
  return report.result->result;
}

class UserAPITest : public ::testing::Test {
 protected:
  UserAPITest() {
    VelmoraSDKConfig::setServerName(server.baseUrl());
    server.setDefaultReply({.status = 200, .body = R"({"result":"Success"})"});
  }

  Recorded onlyRequest() {
    const auto all = server.requests();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? Recorded{} : all.back();
  }

  testing::ConfigReset config;
  LoopbackHttpServer server;
};

TEST_F(UserAPITest, EachCallPostsItsPathHeadersAndBodyInEveryForm) {
  struct Case {
    const char* name;
    std::string path;
    bool userHeaders;
    std::set<std::string> bodyKeys;
    std::function<std::string()> convenience;  // returns the result field
    std::function<std::string()> blocking;
    std::function<std::string()> async;
  };
  const std::vector<Case> cases = {
      {"create", "/v4.0/user/create", true,
       blockPlus({"email", "firstname", "lastname", "phoneNo", "password", "facebookAccessToken", "appleIdAccessToken"}),
       [] { return UserAPI::create("e", "f", "l", "p", "pw", "fb", "ap").result; },
       [] { return UserAPI::create(UserRequest()).result; },
       [] { return asyncResult<UserResult>([](auto done) { UserAPI::create(UserRequest(), done); }); }},
      {"createuser", "/v4.0/user/createuser", false, blockPlus({"email", "firstname", "lastname", "phoneNo"}),
       [] { return UserAPI::createUser("e", "f", "l", "p").result; },
       [] { return UserAPI::createUser(CreateUserRequest()).result; },
       [] { return asyncResult<CreateUserResult>([](auto done) { UserAPI::createUser(CreateUserRequest(), done); }); }},
      {"detail", "/v4.0/user/detail", true, kBlockKeys, [] { return UserAPI::detail().result; },
       [] { return UserAPI::detail(DetailRequest()).result; },
       [] { return asyncResult<DetailResult>([](auto done) { UserAPI::detail(DetailRequest(), done); }); }},
      {"update", "/v4.0/user/update", true, blockPlus({"email", "firstName", "lastName", "phoneNo"}),
       [] { return UserAPI::update("e", "F", "L", "p").result; },
       [] { return UserAPI::update(UpdateRequest()).result; },
       [] { return asyncResult<UpdateResult>([](auto done) { UserAPI::update(UpdateRequest(), done); }); }},
      {"login", "/v4.0/user/login", true, blockPlus({"email", "password"}),
       [] { return UserAPI::login("user", "pw").result; }, [] { return UserAPI::login(LoginRequest()).result; },
       [] { return asyncResult<LoginResult>([](auto done) { UserAPI::login(LoginRequest(), done); }); }},
      {"authtoken", "/v4.0/user/authtoken", false, {"appId", "clientSecret"},
       [] { return UserAPI::authToken(std::nullopt, std::nullopt).result; },
       [] { return UserAPI::authToken(AuthTokenRequest()).result; },
       [] { return asyncResult<AuthTokenResult>([](auto done) { UserAPI::authToken(AuthTokenRequest(), done); }); }},
      {"status", "/v4.0/user/status", true, kBlockKeys, [] { return UserAPI::status().result; },
       [] { return UserAPI::status(StatusRequest()).result; },
       [] { return asyncResult<StatusResult>([](auto done) { UserAPI::status(StatusRequest(), done); }); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server.requests().size();
    EXPECT_EQ(c.convenience(), "Success");
    EXPECT_EQ(c.blocking(), "Success");
    EXPECT_EQ(c.async(), "Success");
    const auto all = server.requests();
    ASSERT_EQ(all.size(), before + 3);
    for (std::size_t i = before; i < all.size(); ++i) {
      const Recorded& r = all[i];
      EXPECT_EQ(r.method, "POST");
      EXPECT_EQ(r.target, c.path);
      // Signed out: the user headers say so with -1 and an empty token.
      EXPECT_EQ(callHeaders(r), c.userHeaders ? withUser("-1", "") : kJsonHeaders);
      EXPECT_EQ(keys(body(r)), c.bodyKeys) << r.body;
    }
  }
}

TEST_F(UserAPITest, ServerNameAndPathJoinWithExactlyOneSlash) {
  for (const char* tail : {"", "/", "//"}) {
    VelmoraSDKConfig::setServerName(server.baseUrl() + tail);
    const std::size_t before = server.requests().size();
    UserAPI::login("user", "pw");
    const auto all = server.requests();
    ASSERT_EQ(all.size(), before + 1) << tail;
    EXPECT_EQ(all.back().target, "/v4.0/user/login") << "server name ending in '" << tail << "'";
  }
}

TEST(ServerNameSlash, TheParkingFakeAnswersAServerNameWithATrailingSlash) {
  testing::ConfigReset config;
  testing::ParkingServiceFake fake;
  VelmoraSDKConfig::setServerName(fake.baseUrl() + "/");
  const LoginResult login = UserAPI::login(std::string(testing::ParkingServiceFake::kEmail), "password");
  EXPECT_EQ(login.result, "Success") << login.message;
  const auto requests = fake.server().requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().method + " " + requests.back().target, "POST /v4.0/user/login");
}

TEST_F(UserAPITest, SignedInUserGoesInTheHeadersOfTheCallsThatSendThem) {
  VelmoraSDKConfig::setUser(42, "token-42");
  UserAPI::status();
  EXPECT_EQ(callHeaders(server.requests().at(0)), withUser("42", "token-42"));

  // createuser and authtoken never send them, whatever their requests hold.
  CreateUserRequest createUser;
  ASSERT_EQ(createUser.userId, 42);
  UserAPI::createUser(createUser);
  const Recorded created = server.requests().at(1);
  EXPECT_EQ(callHeaders(created), kJsonHeaders);
  EXPECT_EQ(body(created)["userId"], Value(std::int64_t{42}));
  EXPECT_EQ(body(created)["userToken"], Value("token-42"));

  UserAPI::authToken(std::optional<std::string>("e@x"), std::optional<std::int64_t>(42));
  EXPECT_EQ(callHeaders(server.requests().at(2)), kJsonHeaders);
}

TEST_F(UserAPITest, RequestWhoseUserFieldsWereClearedSendsNoUserHeaders) {
  VelmoraSDKConfig::setUser(42, "token-42");
  DetailRequest request;
  request.userId.reset();
  request.userToken.reset();
  UserAPI::detail(request);
  const Recorded r = onlyRequest();
  EXPECT_EQ(callHeaders(r), kJsonHeaders);
  EXPECT_TRUE(body(r)["userId"].isAbsent());
  EXPECT_TRUE(body(r)["userToken"].isAbsent());
}

TEST_F(UserAPITest, ConvenienceFormsPutTheirArgumentsInTheBody) {
  VelmoraSDKConfig::setAppId("app");
  VelmoraSDKConfig::setClientSecret("secret");
  VelmoraSDKConfig::setUser(42, "token-42");

  UserAPI::authToken(std::nullopt, std::nullopt);
  UserAPI::authToken(std::optional<std::string>("a@b.c"), std::optional<std::int64_t>(-3));
  UserAPI::login("user@example.com", "pw");
  UserAPI::create("e", "f", "l", "p", "pw", "fb", "");
  UserAPI::createUser("e2", "f2", "l2", "p2");
  UserAPI::update("e3", "F3", "L3", "p3");

  const auto all = server.requests();
  ASSERT_EQ(all.size(), 6u);
  // The auth-token body is the credentials alone, never the signed-in user by itself.
  EXPECT_EQ(body(all[0]), platform::json::parse(R"({"appId":"app","clientSecret":"secret"})"));
  EXPECT_EQ(body(all[1]),
            platform::json::parse(R"({"appId":"app","clientSecret":"secret","userId":-3,"email":"a@b.c"})"));

  const Value login = body(all[2]);
  EXPECT_EQ(login["email"], Value("user@example.com"));
  EXPECT_EQ(login["password"], Value("pw"));
  EXPECT_EQ(login["userId"], Value(std::int64_t{42}));
  EXPECT_EQ(login["appId"], Value("app"));

  const Value create = body(all[3]);
  for (auto [key, value] : std::vector<std::pair<const char*, const char*>>{
           {"email", "e"}, {"firstname", "f"}, {"lastname", "l"}, {"phoneNo", "p"}, {"password", "pw"},
           {"facebookAccessToken", "fb"}, {"appleIdAccessToken", ""}}) {
    EXPECT_EQ(create[key], Value(value)) << key;
  }
  const Value createUser = body(all[4]);
  for (auto [key, value] : std::vector<std::pair<const char*, const char*>>{
           {"email", "e2"}, {"firstname", "f2"}, {"lastname", "l2"}, {"phoneNo", "p2"}}) {
    EXPECT_EQ(createUser[key], Value(value)) << key;
  }
  const Value update = body(all[5]);
  for (auto [key, value] : std::vector<std::pair<const char*, const char*>>{
           {"email", "e3"}, {"firstName", "F3"}, {"lastName", "L3"}, {"phoneNo", "p3"}}) {
    EXPECT_EQ(update[key], Value(value)) << key;
  }
}

TEST_F(UserAPITest, AsynchronousLoginConvenienceFormReportsTheDecodedRecord) {
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","userId":5,"authenticationToken":"t"})"});
  CompletionRecorder<LoginResult> recorder;
  UserAPI::login("user", "pw", recorder.completion());
  const auto report = recorder.first();
  ASSERT_TRUE(report.result);
  EXPECT_FALSE(report.error);
  EXPECT_EQ(report.result->userId, 5);
  EXPECT_EQ(report.result->authenticationToken, "t");
  EXPECT_EQ(body(onlyRequest())["email"], Value("user"));
}

TEST_F(UserAPITest, FailureRecordsStartFromEachResultsInitialValues) {
  server.setDefaultReply({.status = 401, .body = R"({"result":"Success","userId":9})"});
  const StatusResult status = UserAPI::status();
  EXPECT_EQ(status.result, "Failure");
  EXPECT_EQ(status.message, "Http Status failed: 401");
  EXPECT_FALSE(status.inCarPark);
  EXPECT_TRUE(status.lanes.empty());

  const AuthTokenResult token = UserAPI::authToken(std::nullopt, std::nullopt);
  EXPECT_EQ(token.result, "Failure");
  EXPECT_EQ(token.message, "Http Status failed: 401");
  EXPECT_EQ(token.userId, -1);
  EXPECT_EQ(token.authenticationToken, "");

  // A reply that does not decode leaves the starting record, marked "Failure".
  server.setDefaultReply({.status = 200, .body = "not json"});
  const AuthTokenResult undecoded = UserAPI::authToken(std::nullopt, std::nullopt);
  EXPECT_EQ(undecoded.result, "Failure");
  EXPECT_EQ(undecoded.message, "The data couldn\u2019t be read because it isn\u2019t in the correct format.");
  EXPECT_EQ(undecoded.userId, -1);
  const DetailResult detail = UserAPI::detail();
  EXPECT_EQ(detail.result, "Failure");
  EXPECT_FALSE(detail.homeCarParkId);
}

TEST_F(UserAPITest, StatusReplyDatesAreReadInTheDevicesZone) {
  testing::ScopedTimeZone zone("Asia/Tokyo");  // UTC+9
  server.setDefaultReply({.status = 200,
                          .body = R"({"result":"Success","inCarPark":true,"carParkId":12,)"
                                  R"("entryTime":"2021-03-04T05:06:07","entryTimeUTC":"2021-03-04T05:06:07.890+0000",)"
                                  R"("serverTime":null,"lanes":[{"laneId":3,"laneType":5}]})"});
  const StatusResult status = UserAPI::status();
  EXPECT_EQ(status.result, "Success");
  EXPECT_TRUE(status.inCarPark);
  EXPECT_EQ(status.carParkId, 12);
  EXPECT_EQ(status.entryTime, platform::Date::fromUnixMicros((1614834367LL - 9 * 3600) * 1'000'000));
  EXPECT_EQ(status.entryTimeUTC, platform::Date::fromUnixMicros(1614834367890000));
  EXPECT_FALSE(status.serverTime);
  ASSERT_EQ(status.lanes.size(), 1u);
  EXPECT_EQ(status.lanes[0].laneType, 5);

  // A date no format reads fails the whole reply.
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","entryTime":"2021-03-04"})"});
  CompletionRecorder<StatusResult> recorder;
  UserAPI::status(StatusRequest(), recorder.completion());
  const auto report = recorder.first();
  ASSERT_TRUE(report.error);
  EXPECT_EQ(report.error->debugDescription(), "Cannot decode date string 2021-03-04");
  EXPECT_EQ(UserAPI::status().result, "Failure");
}

}  // namespace
}  // namespace velmora
