#include "parking/service/RequestRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "parking/config/VelmoraSDKConfig.h"
#include "parking/user_api/AuthTokenRequest.h"
#include "parking/user_api/AuthTokenResult.h"
#include "parking/service/DateDecoding.h"
#include "parking/user_api/LoginRequest.h"
#include "parking/user_api/LoginResult.h"
#include "parking/user_api/StatusRequest.h"
#include "parking/user_api/StatusResult.h"
#include "parking/user_api/UpdateRequest.h"
#include "parking/user_api/UpdateResult.h"
#include "platform/core/Json.h"
#include "platform/core/Log.h"
#include "platform/dispatch/ThreadScheduler.h"
#include "platform/dispatch/VirtualScheduler.h"
#include "platform/net/URLError.h"
#include "testing/CompletionRecorder.h"
#include "testing/ConfigReset.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/ScopedTimeZone.h"

namespace velmora {
namespace {

using testing::CompletionRecorder;
using testing::LoopbackHttpServer;
using Reply = LoopbackHttpServer::Reply;
using namespace std::chrono_literals;

constexpr std::string_view kPath = "/v4.0/test/runner";
const Endpoint<LoginResult> kLogin{kPath, true, nullptr, [] { return LoginResult(); }};

class RequestRunnerTest : public ::testing::Test {
 protected:
  RequestRunnerTest() { VelmoraSDKConfig::setServerName(server.baseUrl()); }
  ~RequestRunnerTest() override { runner::setRequestTimeoutSeconds(60); }

  testing::ConfigReset config;
  LoopbackHttpServer server;
};

TEST_F(RequestRunnerTest, ReplyTableForBothForms) {
  struct Expected {
    std::string result;
    std::string message;
    std::int64_t userId;
  };
  struct Case {
    const char* name;
    Reply reply;
    std::optional<Expected> record;           // the record the completion gets, or
    std::optional<std::string_view> errorDomain;  // the domain of its error
  };
  const std::string successBody = R"({"result":"Success","message":"hi","userId":42,"authenticationToken":"t"})";
  const std::vector<Case> cases = {
      {"200 {}", {.status = 200, .body = "{}"}, Expected{"Failure", "", -1}, std::nullopt},
      {"200 success", {.status = 200, .body = successBody}, Expected{"Success", "hi", 42}, std::nullopt},
      {"200 service failure", {.status = 200, .body = R"({"result":"Failure","message":"bad password"})"},
       Expected{"Failure", "bad password", -1}, std::nullopt},
      {"201 valid body", {.status = 201, .body = successBody}, Expected{"Failure", "Http Status failed: 201", -1},
       std::nullopt},
      {"204 no body", {.status = 204, .body = ""}, Expected{"Failure", "Http Status failed: 204", -1}, std::nullopt},
      {"404", {.status = 404, .body = "not here"}, Expected{"Failure", "Http Status failed: 404", -1}, std::nullopt},
      {"500 body not used", {.status = 500, .body = successBody}, Expected{"Failure", "Http Status failed: 500", -1},
       std::nullopt},
      {"200 not JSON", {.status = 200, .body = "<html>oops</html>"}, std::nullopt, platform::coding::kDomain},
      {"200 empty body", {.status = 200, .body = ""}, std::nullopt, platform::coding::kDomain},
      {"200 array", {.status = 200, .body = "[]"}, std::nullopt, platform::coding::kDomain},
      {"200 wrong type", {.status = 200, .body = R"({"result":"Success","userId":"42"})"}, std::nullopt,
       platform::coding::kDomain},
      {"connection closed", {.mode = Reply::Mode::Close}, std::nullopt, platform::net::kURLErrorDomain},
      {"body cut short", {.status = 200, .body = "{}", .mode = Reply::Mode::Truncate}, std::nullopt,
       platform::net::kURLErrorDomain},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.setDefaultReply(c.reply);
    const std::size_t sentBefore = server.requests().size();

    CompletionRecorder<LoginResult> recorder;
    runRequest(kLogin, LoginRequest(), recorder.completion());
    const auto report = recorder.first();
    ASSERT_TRUE(report.result || report.error) << "no report";
    EXPECT_NE(report.thread, std::this_thread::get_id());
    if (c.record) {
      ASSERT_TRUE(report.result) << report.error->localizedDescription << " " << report.error->debugDescription();
      EXPECT_FALSE(report.error);
      EXPECT_EQ(report.result->result, c.record->result);
      EXPECT_EQ(report.result->message, c.record->message);
      EXPECT_EQ(report.result->userId, c.record->userId);
    } else {
      ASSERT_TRUE(report.error);
      EXPECT_FALSE(report.result);
      EXPECT_EQ(report.error->domain, *c.errorDomain);
    }

    // The blocking form returns the same record, or its starting record marked "Failure"
    // with the error's description.
    const LoginResult blocking = runRequestBlocking(kLogin, LoginRequest());
    if (c.record) {
      EXPECT_EQ(blocking.result, c.record->result);
      EXPECT_EQ(blocking.message, c.record->message);
      EXPECT_EQ(blocking.userId, c.record->userId);
    } else {
      EXPECT_EQ(blocking.result, "Failure");
      EXPECT_EQ(blocking.message, report.error->localizedDescription);
      EXPECT_EQ(blocking.userId, -1);
      EXPECT_EQ(blocking.authenticationToken, "");
      EXPECT_FALSE(blocking.emailConfirmed);
    }
    // Each form sent its request once. (A keep-alive connection the server closes without a
    // word is reopened once by the transport, so that case may arrive a third time.)
    if (c.reply.mode != Reply::Mode::Close) {
      EXPECT_EQ(server.requests().size() - sentBefore, 2u);
    }
  }
}

TEST_F(RequestRunnerTest, StalledServerEndsInTimeout) {
  // The request timeout is a minute unless shortened through the runner's knob; a stalled
  // reply then ends in the session's timeout error instead of a minute's wait.
  EXPECT_EQ(runner::requestTimeoutSeconds(), 60);
  runner::setRequestTimeoutSeconds(0.3);
  server.setDefaultReply({.mode = Reply::Mode::Stall});

  CompletionRecorder<LoginResult> recorder;
  runRequest(kLogin, LoginRequest(), recorder.completion());
  const auto report = recorder.first();
  ASSERT_TRUE(report.error);
  EXPECT_EQ(report.error->domain, platform::net::kURLErrorDomain);
  EXPECT_EQ(report.error->code, platform::net::kURLErrorTimedOut);

  const LoginResult blocking = runRequestBlocking(kLogin, LoginRequest());
  EXPECT_EQ(blocking.result, "Failure");
  EXPECT_EQ(blocking.message, "The request timed out.");
}

TEST_F(RequestRunnerTest, UnreachableServerGivesTheConnectionError) {
  std::string closedBase;
  {
    LoopbackHttpServer gone;
    closedBase = gone.baseUrl();
  }
  VelmoraSDKConfig::setServerName(closedBase);
  const LoginResult blocking = runRequestBlocking(kLogin, LoginRequest());
  EXPECT_EQ(blocking.result, "Failure");
  EXPECT_EQ(blocking.message, "Could not connect to the server.");
}

TEST_F(RequestRunnerTest, RequestThatDoesNotEncodeIsReportedBeforeReturnAndNotSent) {
  VelmoraSDKConfig::setCurrentLatitude(std::nan(""));
  const LoginRequest unencodable;
  VelmoraSDKConfig::setCurrentLatitude(std::nullopt);

  CompletionRecorder<LoginResult> recorder;
  runRequest(kLogin, unencodable, recorder.completion());
  // Already there: no wait needed, and on this thread.
  const auto reports = recorder.reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].thread, std::this_thread::get_id());
  EXPECT_FALSE(reports[0].result);
  ASSERT_TRUE(reports[0].error);
  EXPECT_EQ(reports[0].error->code, platform::coding::kWriteInvalidValue);

  const LoginResult blocking = runRequestBlocking(kLogin, unencodable);
  EXPECT_EQ(blocking.result, "Failure");
  EXPECT_EQ(blocking.message, reports[0].error->localizedDescription);

  // A request that encodes goes out after them; it is the only one the server ever saw.
  server.setDefaultReply({.status = 200, .body = "{}"});
  EXPECT_EQ(runRequestBlocking(kLogin, LoginRequest()).result, "Failure");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body.find("currentLatitude"), std::string::npos);
}

TEST_F(RequestRunnerTest, ServerNameThatMakesNoUsableUrlIsOneFailureReport) {
  for (const char* serverName : {"", "not a url", "ftp://127.0.0.1", "http://exa mple.com", "://"}) {
    SCOPED_TRACE(serverName);
    VelmoraSDKConfig::setServerName(serverName);
    CompletionRecorder<LoginResult> recorder;
    runRequest(kLogin, LoginRequest(), recorder.completion());
    ASSERT_TRUE(recorder.waitFor(1));
    const auto report = recorder.first();
    ASSERT_TRUE(report.error);
    EXPECT_FALSE(report.result);
    EXPECT_EQ(report.error->domain, platform::net::kURLErrorDomain);

    const LoginResult blocking = runRequestBlocking(kLogin, LoginRequest());
    EXPECT_EQ(blocking.result, "Failure");
    EXPECT_EQ(blocking.message, "unsupported URL");
    // Still exactly one report for the asynchronous call.
    EXPECT_EQ(recorder.reports().size(), 1u);
  }
}

TEST_F(RequestRunnerTest, RequestIsReadOnlyWhileTheCallStarts) {
  server.setDefaultReply({.status = 200, .body = "{}"});
  CompletionRecorder<LoginResult> recorder;
  {
    auto request = std::make_unique<LoginRequest>();
    request->email = "first@example.com";
    runRequest(kLogin, *request, recorder.completion());
    request->email = "changed@example.com";
  }  // gone before the reply
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_EQ(server.requests().size(), 1u);
  auto body = platform::json::parse(server.requests()[0].body);
  ASSERT_TRUE(body);
  EXPECT_EQ((*body)["email"], platform::Value("first@example.com"));
}

TEST_F(RequestRunnerTest, EndpointDateRuleDecodesReplyDates) {
  testing::ScopedTimeZone zone("Etc/UTC");
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","serverTime":"2021-03-04T05:06:07.890"})"});
  const Endpoint<StatusResult> withRule{kPath, true, &statusDateRule(), [] { return StatusResult(); }};
  const Endpoint<StatusResult> withoutRule{kPath, true, nullptr, [] { return StatusResult(); }};

  const StatusResult decoded = runRequestBlocking(withRule, StatusRequest());
  EXPECT_EQ(decoded.result, "Success");
  EXPECT_EQ(decoded.serverTime, platform::Date::fromUnixMicros(1614834367890000));
  // Without the rule a date must be a number, so the text fails the whole reply.
  const StatusResult failed = runRequestBlocking(withoutRule, StatusRequest());
  EXPECT_EQ(failed.result, "Failure");
  EXPECT_FALSE(failed.serverTime);
}

TEST_F(RequestRunnerTest, EndpointWithoutInitialRecordFallsBack) {
  server.setDefaultReply({.status = 500, .body = ""});
  // A default-constructible result starts from its default constructor.
  const Endpoint<UpdateResult> update{kPath};
  const UpdateResult updated = runRequestBlocking(update, UpdateRequest());
  EXPECT_EQ(updated.result, "Failure");
  EXPECT_EQ(updated.message, "Http Status failed: 500");

  // One without a default constructor is a mistake of the endpoint table: reported, and the
  // call still ends with a record holding the decoding defaults.
  const Endpoint<AuthTokenResult> authToken{kPath, false};
  const std::size_t before = platform::programmingErrorCount();
  const AuthTokenResult token = runRequestBlocking(authToken, AuthTokenRequest());
  EXPECT_GT(platform::programmingErrorCount(), before);
  EXPECT_EQ(token.result, "Failure");
  EXPECT_EQ(token.message, "Http Status failed: 500");
  EXPECT_EQ(token.userId, -1);
}

// Far more completions than the thread scheduler's pool has threads each make a blocking
// call; a blocking call needs no pool thread to finish, so every one returns.
TEST_F(RequestRunnerTest, FiveHundredBlockingCallsInsideCompletionsAllReturn) {
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","userId":7})"});
  auto scheduler = std::make_shared<platform::dispatch::ThreadScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  struct Restore {
    ~Restore() { platform::dispatch::Scheduler::setShared(nullptr); }
  } restore;
  constexpr int kCalls = 500;
  CompletionRecorder<LoginResult> outer;
  std::atomic<int> innerOk{0};
  for (int i = 0; i < kCalls; ++i) {
    auto record = outer.completion();
    runRequest(kLogin, LoginRequest(),
               [&innerOk, record](std::optional<LoginResult> result, std::optional<platform::Error> error) {
                 // Runs on the session's callback queue, the shared scheduler's global queue.
                 const LoginResult inner = runRequestBlocking(kLogin, LoginRequest());
                 if (inner.result == "Success" && inner.userId == 7) innerOk.fetch_add(1);
                 record(std::move(result), std::move(error));
               });
  }
  ASSERT_TRUE(outer.waitFor(kCalls, 60s)) << outer.reports().size() << " of " << kCalls << " completions returned";
  for (const auto& report : outer.reports()) {
    ASSERT_TRUE(report.result);
    EXPECT_EQ(report.result->userId, 7);
  }
  EXPECT_EQ(innerOk.load(), kCalls);
  EXPECT_EQ(server.requests().size(), 2u * kCalls);
}

TEST_F(RequestRunnerTest, BlockingCallWorksUnderTheVirtualScheduler) {
  // Simulations run the SDK on a virtual scheduler: the blocking form needs none of its
  // queues, so it returns without the test driving anything.
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","userId":3})"});
  auto scheduler = std::make_shared<platform::dispatch::VirtualScheduler>();
  platform::dispatch::Scheduler::setShared(scheduler);
  const LoginResult result = runRequestBlocking(kLogin, LoginRequest());
  platform::dispatch::Scheduler::setShared(nullptr);
  EXPECT_EQ(result.result, "Success");
  EXPECT_EQ(result.userId, 3);
}

TEST_F(RequestRunnerTest, BlockingCallsFromManyThreadsEachGetTheirOwnRecord) {
  server.setDefaultReply({.status = 200, .body = R"({"result":"Success","userId":1})"});
  server.setReply("/v4.0/test/other", {.status = 403, .body = "{}"});
  const Endpoint<LoginResult> other{"/v4.0/test/other", true, nullptr, [] { return LoginResult(); }};
  constexpr int kThreads = 8;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3; ++i) {
        if (t % 2 == 0) {
          const LoginResult r = runRequestBlocking(kLogin, LoginRequest());
          if (r.result != "Success" || r.userId != 1) ++wrong;
        } else {
          const LoginResult r = runRequestBlocking(other, LoginRequest());
          if (r.result != "Failure" || r.message != "Http Status failed: 403") ++wrong;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(server.requests().size(), 3u * kThreads);
}

}  // namespace
}  // namespace velmora
