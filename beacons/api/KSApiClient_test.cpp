#include "beacons/api/KSApiClient.h"

#include <gtest/gtest.h>

#include "beacons/api/KSApiPath.h"
#include "beacons/http/KSHTTPRequestSerializer.h"
#include "platform/net/URLError.h"
#include "testing/ApiTestSupport.h"

namespace velmora::kestrine {
namespace {

using platform::Value;
using velmora::testing::ApiOutcome;
using velmora::testing::ApiTestWorld;
using velmora::testing::BeaconCloudFake;

TEST(KSApiPath, EscapesEachValueAsOneSegmentAndLeavesTheCallersQueryAlone) {
  struct Row {
    std::string_view pathTemplate;
    std::string_view value;
    std::string expected;
  };
  const Row rows[] = {
      {"beacons/%@", "AB:CD:EF", "beacons/AB:CD:EF"},
      {"beacons/%@", "a/b?c#d", "beacons/a%2Fb%3Fc%23d"},
      {"beacons/%@", "100%", "beacons/100%25"},
      {"teams/%@/sites", "t\xC3\xA9 1", "teams/t%C3%A9%201/sites"},
      {"apps/%@", "!$&'()*+,;=@-._~", "apps/!$&'()*+,;=@-._~"},
      {"beacons/%@?version=latest%20x", "id", "beacons/id?version=latest%20x"},
      {"beacons/%@?q=%@", "id", "beacons/id?q=%@"},
  };
  for (const auto& row : rows) EXPECT_EQ(KSApiPath(row.pathTemplate, {row.value}), row.expected) << row.value;
  EXPECT_EQ(KSApiPath("teams/%@/sites/%@", {"t/1", "s 2"}), "teams/t%2F1/sites/s%202");
}

TEST(KSApiClientEnrichment, AddsStatusAndRetryAfterOnlyWhenAResponseCame) {
  platform::net::HTTPURLResponse throttled{.statusCode = 503, .headers = {{"Retry-After", "120"}}};
  platform::Error error("d", -1011, "bad", {{"keep", Value("me")}, {std::string(KSNetworkingTaskResponseStatusCodeKey), 1}});
  auto enriched = KSApiClientEnrichedError(error, throttled);
  EXPECT_EQ(enriched.domain, "d");
  EXPECT_EQ(enriched.code, -1011);
  EXPECT_EQ(enriched.userInfo.at("keep"), Value("me"));
  EXPECT_EQ(enriched.userInfo.at(std::string(KSNetworkingTaskResponseStatusCodeKey)), Value(503));
  EXPECT_EQ(enriched.userInfo.at(std::string(KSNetworkingTaskResponseRetryAfterKey)), Value("120"));

  auto plain = KSApiClientEnrichedError(platform::Error("d", 1, "x"), platform::net::HTTPURLResponse{.statusCode = 500});
  EXPECT_EQ(plain.userInfo.size(), 2u);
  EXPECT_EQ(plain.userInfo.at(std::string(KSNetworkingTaskResponseRetryAfterKey)), Value(10.0));

  EXPECT_EQ(KSApiClientEnrichedError(error, std::nullopt), error);
}

// Each row: one call as the SDK makes it, and what the cloud must see.
TEST(KSApiClient, RequestsReachTheCloudWithTheirPathQueryBodyAndThePlatformHeaders) {
  ApiTestWorld world;
  world.client->setAuthorizationHeaderWithAppToken("tok");
  world.client->setValueForHTTPHeaderField("install-1", std::string(KSInstallationIDHeader));
  world.client->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));

  struct Row {
    std::string method;
    std::string urlString;
    Value parameters;
    std::string path;
    std::map<std::string, std::string> query;
    Value body;
  };
  const Row rows[] = {
      {"GET", "/apps/tok", {}, "/apps/tok", {}, {}},
      {"GET", "/account/verifycredentials", {}, "/account/verifycredentials", {}, {}},
      {"GET", "beacons/AB%3ACD", Value::makeDict({{"version", 12}}), "/api/beacons/AB:CD", {{"version", "12"}}, {}},
      {"GET", "sites/nearby", Value::makeDict({{"latitude", "52.5"}, {"distance", "3219"}}), "/api/sites/nearby",
       {{"latitude", "52.5"}, {"distance", "3219"}}, {}},
      {"POST", "events", Value::makeDict({{"events", Value::makeArray({Value::makeDict({{"a", 1}})})}}), "/api/events",
       {}, Value::makeDict({{"events", Value::makeArray({Value::makeDict({{"a", 1}})})}})},
      {"PUT", "beacons/B1/versions/3/confirm", {}, "/api/beacons/B1/versions/3/confirm", {}, {}},
      {"DELETE", "sites/S1", {}, "/api/sites/S1", {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method + " " + row.urlString);
    world.cloud.clearLog();
    ApiOutcome outcome;
    auto task = world.client->dataTaskWithHTTPMethod(row.method, row.urlString, row.parameters, outcome.success(),
                                                     outcome.failure());
    ASSERT_TRUE(task);
    task->resume();
    ASSERT_TRUE(world.drainUntil([&] { return outcome.calls() > 0; }));
    auto log = world.cloud.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, row.method);
    EXPECT_EQ(log[0].path, row.path);
    EXPECT_EQ(log[0].query, row.query);
    EXPECT_EQ(log[0].json, row.body);
    EXPECT_EQ(log[0].header("X-Api-Version"), "3");
    EXPECT_EQ(log[0].header("Authorization"), "Kestrine dG9r");
    EXPECT_EQ(log[0].header("X-KS-InstallationID"), "install-1");
    EXPECT_EQ(log[0].header("X-KS-SDKVersion"), "2.1.0");
  }
}

// Every route of the cloud fake, as the client writes it: an identifier with a blank and a
// slash stays one segment, a leading "/" leaves the base's path, GET and DELETE parameters
// travel in the query, the others in a JSON body, and the platform headers ride along.
TEST(KSApiClient, EveryCloudRouteIsReachedAsWritten) {
  ApiTestWorld world;
  world.client->setAuthorizationHeaderWithAppToken("tok");
  world.client->setValueForHTTPHeaderField("install-1", std::string(KSInstallationIDHeader));
  world.client->setValueForHTTPHeaderField(std::string(KSSDKVersion), std::string(KSSDKVersionHeader));
  for (const auto& route : BeaconCloudFake::routes()) {
    // Identifiers are numbered by their segment.
    std::string path = route.absolute ? "/" : "";
    std::string expectedPath = route.absolute ? "" : "/api";
    for (std::size_t i = 0; i < route.pattern.size(); ++i) {
      const bool wildcard = route.pattern[i] == "{}";
      const std::string id = "id " + std::to_string(i) + "/x";
      if (i > 0) path += "/";
      path += wildcard ? KSApiEscapePathSegment(id) : route.pattern[i];
      expectedPath += "/" + (wildcard ? id : route.pattern[i]);
    }
    SCOPED_TRACE(route.method + " " + path);
    const bool inQuery = route.method == "GET" || route.method == "DELETE";
    world.cloud.clearLog();
    ApiOutcome outcome;
    world.client->dataTaskWithHTTPMethod(route.method, path, Value::makeDict({{"k", "v w"}}), outcome.success(),
                                         outcome.failure())
        ->resume();
    ASSERT_TRUE(world.drainUntil([&] { return outcome.calls() > 0; }));
    auto log = world.cloud.log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, route.method);
    EXPECT_EQ(log[0].path, expectedPath);
    if (inQuery) {
      EXPECT_EQ(log[0].query, (std::map<std::string, std::string>{{"k", "v w"}}));
      EXPECT_EQ(log[0].body, "");
    } else {
      EXPECT_TRUE(log[0].query.empty());
      EXPECT_EQ(log[0].json, Value::makeDict({{"k", "v w"}}));
      EXPECT_EQ(log[0].header("Content-Type"), "application/json");
    }
    EXPECT_EQ(log[0].header("X-Api-Version"), "3");
    EXPECT_EQ(log[0].header("Authorization"), "Kestrine dG9r");
    EXPECT_EQ(log[0].header("X-KS-InstallationID"), "install-1");
    EXPECT_EQ(log[0].header("X-KS-SDKVersion"), "2.1.0");
  }
}

TEST(KSApiClient, AuthorizationForms) {
  ApiTestWorld world;
  auto header = [&] { return world.client->requestSerializer()->valueForHTTPHeaderField("Authorization"); };
  world.client->setAuthorizationHeaderWithAppToken("tok", "", "");
  EXPECT_EQ(header(), "Kestrine dG9rOjo=");  // "tok::"
  world.client->setAuthorizationHeaderWithAppToken("tok", "me", "pw");
  EXPECT_EQ(header(), "Kestrine dG9rOm1lOnB3");  // "tok:me:pw"
  world.client->clearAuthorizationHeader();
  EXPECT_EQ(header(), std::nullopt);
}

TEST(KSApiClient, ATaskIsSentOnlyOnceResumedAndCompletesOnTheCompletionQueue) {
  ApiTestWorld world;
  world.cloud.putRecord("beacons/B1", "beacon", Value::makeDict({{"id", "B1"}}));
  ApiOutcome outcome;
  bool onQueue = false;
  auto task = world.client->dataTaskWithHTTPMethod(
      "GET", "beacons/B1", {},
      [&](const KSApiClient::Task& t, const Value& v) {
        onQueue = world.client->completionQueue()->isCurrent();
        outcome.success()(t, v);
      },
      outcome.failure());
  ASSERT_TRUE(task);
  EXPECT_EQ(task->state(), KSURLSessionTaskStateSuspended);
  world.drain();
  EXPECT_TRUE(world.cloud.log().empty());
  task->resume();
  ASSERT_TRUE(world.drainUntil([&] { return outcome.calls() > 0; }));
  EXPECT_EQ(outcome.successes, 1);
  EXPECT_TRUE(onQueue);
  EXPECT_EQ(outcome.object["beacon"]["id"], Value("B1"));
}

TEST(KSApiClient, ARequestThatCannotBeBuiltFailsLaterWithNoTaskAndSendsNothing) {
  ApiTestWorld world;
  for (std::string_view method : {"", "GET"}) {
    ApiOutcome outcome;
    std::string_view url = method.empty() ? "beacons" : "http://[bad";
    auto task = world.client->dataTaskWithHTTPMethod(method, url, {}, outcome.success(), outcome.failure());
    EXPECT_EQ(task, nullptr);
    EXPECT_EQ(outcome.calls(), 0);  // never inside the call
    world.drain();
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_TRUE(outcome.taskWasNull);
    EXPECT_EQ(outcome.error->domain, KSURLRequestSerializationErrorDomain);
    EXPECT_EQ(outcome.error->code, -1000);
  }
  EXPECT_TRUE(world.cloud.log().empty());
}

TEST(KSApiClient, FailuresCarryTheResponsesStatusAndRetryAfter) {
  ApiTestWorld world(2);
  world.cloud.putList("sites", "sites", {});
  using Fault = BeaconCloudFake::Fault;
  struct Row {
    const char* name;
    int faultStatus;
    const char* faultRetryAfter;  // nullptr: no header
    Fault::Kind kind;
    std::optional<std::int64_t> status;
    Value retryAfter;
    std::optional<std::int64_t> code;  // nullopt: any
  };
  const std::vector<Row> rows = {
      {"503 with Retry-After", 503, "120", Fault::Kind::None, 503, Value("120"), std::nullopt},
      {"500", 500, nullptr, Fault::Kind::None, 500, Value(10.0), std::nullopt},
      {"429 with a date", 429, "Wed, 21 Oct 2026 07:28:00 GMT", Fault::Kind::None, 429,
       Value("Wed, 21 Oct 2026 07:28:00 GMT"), std::nullopt},
      {"reset", 0, nullptr, Fault::Kind::Reset, std::nullopt, Value(), platform::net::kURLErrorNetworkConnectionLost},
      {"truncated", 0, nullptr, Fault::Kind::Truncate, std::nullopt, Value(),
       platform::net::kURLErrorNetworkConnectionLost},
      {"timeout", 0, nullptr, Fault::Kind::Stall, std::nullopt, Value(), platform::net::kURLErrorTimedOut},
      {"HTML on a 200", 0, nullptr, Fault::Kind::WrongContentType, 200, Value(10.0), -1016},
      {"garbage on a 200", 0, nullptr, Fault::Kind::Garbage, 200, Value(10.0), std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Fault fault;
    fault.status = row.faultStatus;
    if (row.faultRetryAfter) fault.retryAfter = row.faultRetryAfter;
    fault.kind = row.kind;
    world.cloud.setFault("GET", "sites", fault);
    ApiOutcome outcome;
    world.client->GET("sites", Value(), outcome.success(), outcome.failure());
    ASSERT_TRUE(world.drainUntil([&] { return outcome.calls() > 0; }));
    world.drain();
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_EQ(outcome.successes, 0);
    EXPECT_EQ(outcome.status(), row.status);
    EXPECT_EQ(outcome.retryAfter(), row.retryAfter);
    if (row.code) {
      EXPECT_EQ(outcome.error->code, *row.code);
    }
  }
}

TEST(KSApiClient, ARefusedConnectionFailsWithoutStatus) {
  ApiTestWorld world;
  std::string base;
  {
    BeaconCloudFake gone;
    base = gone.baseUrl();
  }
  auto client = KSApiClient::create(base, world.scheduler);
  ApiOutcome outcome;
  client->GET("beacons", Value(), outcome.success(), outcome.failure());
  ASSERT_TRUE(world.drainUntil([&] { return outcome.calls() > 0; }));
  ASSERT_EQ(outcome.failures, 1);
  EXPECT_EQ(outcome.error->code, platform::net::kURLErrorCannotConnectToHost);
  EXPECT_EQ(outcome.status(), std::nullopt);
}

// The client is a session manager: the manager's own verbs go through the same task factory,
// so their failures are enriched too, and its tasks show in the manager's snapshot.
TEST(KSApiClient, TheSessionManagersVerbsShareTheEnrichmentAndTheTaskSnapshot) {
  ApiTestWorld world;
  int failures = 0;
  std::optional<platform::Error> error;
  auto task = world.client->HEAD(
      "no/such/route", Value(), [](const KSApiClient::Task&) {},
      [&](const KSApiClient::Task&, const platform::Error& e) {
        ++failures;
        error = e;
      });
  ASSERT_TRUE(task);
  EXPECT_EQ(world.client->tasks().size(), 1u);
  ASSERT_TRUE(world.drainUntil([&] { return failures > 0; }));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->userInfo.at(std::string(KSNetworkingTaskResponseStatusCodeKey)), Value(404));
  EXPECT_EQ(error->userInfo.at(std::string(KSNetworkingTaskResponseRetryAfterKey)), Value(10.0));
  EXPECT_EQ(world.cloud.log().at(0).header("X-Api-Version"), "3");
  world.drain();
  EXPECT_TRUE(world.client->tasks().empty());
}

}  // namespace
}  // namespace velmora::kestrine
