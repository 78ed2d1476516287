#include "testing/BeaconCloudFake.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>

#include "platform/core/Json.h"
#include "platform/net/URLError.h"
#include "platform/net/URLSession.h"

namespace velmora::testing {
namespace {

using platform::Value;
using Fault = BeaconCloudFake::Fault;

struct Got {
  std::optional<platform::net::HTTPURLResponse> response;
  std::optional<platform::Error> error;
  std::string body;
  Value json() const { return platform::json::parse(body).value_or(Value()); }
};

Got fetch(const std::string& url, const std::string& method = "GET", std::string body = {}) {
  static auto session = platform::net::URLSession::create();
  platform::net::URLRequest request;
  request.url = url;
  request.method = method;
  request.body = std::move(body);
  request.timeoutSeconds = 5;
  std::promise<Got> done;
  auto task = session->dataTask(request, [&](auto data, auto response, auto error) {
    done.set_value(Got{response, error, data.value_or("")});
  });
  task->resume();
  return done.get_future().get();
}

Value items(int n) {
  Value list = Value::makeArray();
  for (int i = 0; i < n; ++i) list.append(Value::makeDict({{"id", i}}));
  return list;
}

TEST(BeaconCloudFake, PagesByPageAndPerPageAndReportsEmptyListAsNoPages) {
  BeaconCloudFake fake;
  fake.putList("beacons", "beacons", *items(201).array());
  fake.putList("sites", "sites", {});

  Got third = fetch(fake.baseUrl() + "beacons?page=3&perPage=100");
  ASSERT_EQ(third.response->statusCode, 200);
  EXPECT_EQ(third.json()["pagination"],
            Value::makeDict({{"pageCount", 3}, {"objectCount", 201}, {"perPage", 100}}));
  ASSERT_EQ(third.json()["beacons"].size(), 1u);
  EXPECT_EQ(third.json()["beacons"][0]["id"], Value(200));

  fake.setServerPerPage(50);
  Got chosen = fetch(fake.baseUrl() + "beacons?page=1&perPage=100");
  EXPECT_EQ(chosen.json()["pagination"]["perPage"], Value(50));
  EXPECT_EQ(chosen.json()["beacons"].size(), 50u);

  Got empty = fetch(fake.baseUrl() + "sites?page=1&perPage=100");
  EXPECT_EQ(empty.json()["pagination"]["pageCount"], Value(0));
  EXPECT_EQ(empty.json()["sites"], Value::makeArray());
}

TEST(BeaconCloudFake, MatchesDecodedSegmentsAndLogsDecodedPathQueryAndBody) {
  BeaconCloudFake fake;
  fake.putRecord("beacons/a%2Fb:c", "beacon", Value::makeDict({{"id", "a/b:c"}}));
  fake.putRecord("/apps/T0K", "app", Value::makeDict({{"id", "app-1"}}));

  Got escaped = fetch(fake.baseUrl() + "beacons/a%2Fb%3Ac?version=latest&x=%C3%A9");
  EXPECT_EQ(escaped.response->statusCode, 200);
  EXPECT_EQ(escaped.json()["beacon"]["id"], Value("a/b:c"));
  // The same text unescaped is two segments: another route, which has no data.
  EXPECT_EQ(fetch(fake.baseUrl() + "beacons/a/b:c").response->statusCode, 404);
  // Absolute routes live outside "/api/"; below it they do not exist.
  EXPECT_EQ(fetch(fake.rootUrl() + "/apps/T0K").json()["app"]["id"], Value("app-1"));
  EXPECT_EQ(fetch(fake.baseUrl() + "apps/T0K").response->statusCode, 404);
  fetch(fake.baseUrl() + "events", "POST", R"({"events":[{"a":1}]})");

  auto log = fake.log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[0].path, "/api/beacons/a/b:c");
  EXPECT_EQ(log[0].segments, (std::vector<std::string>{"beacons", "a/b:c"}));
  EXPECT_EQ(log[0].query.at("version"), "latest");
  EXPECT_EQ(log[0].query.at("x"), "\xC3\xA9");
  EXPECT_EQ(log[4].method, "POST");
  EXPECT_EQ(log[4].json["events"][0]["a"], Value(1));
  EXPECT_EQ(fake.hits("GET", "/apps/T0K"), 1u);
  EXPECT_THROW(fake.putRecord("nosuchroute", "x", Value()), std::invalid_argument);
}

TEST(BeaconCloudFake, ScriptedFaultsHitTheirCountThenTheRouteRecovers) {
  BeaconCloudFake fake;
  fake.putList("sites", "sites", *items(3).array());
  fake.setFault("GET", "sites", Fault{.status = 503, .retryAfter = "120", .times = 1});
  Got throttled = fetch(fake.baseUrl() + "sites");
  EXPECT_EQ(throttled.response->statusCode, 503);
  EXPECT_EQ(throttled.response->headerValue("Retry-After"), "120");
  EXPECT_EQ(fetch(fake.baseUrl() + "sites").response->statusCode, 200);

  struct Row {
    Fault::Kind kind;
    std::optional<std::int64_t> errorCode;  // nullopt: a 200 arrives
  };
  const Row rows[] = {
      {Fault::Kind::Reset, platform::net::kURLErrorNetworkConnectionLost},
      {Fault::Kind::Close, platform::net::kURLErrorNetworkConnectionLost},
      {Fault::Kind::Truncate, platform::net::kURLErrorNetworkConnectionLost},
      {Fault::Kind::Garbage, std::nullopt},
      {Fault::Kind::WrongContentType, std::nullopt},
      {Fault::Kind::NoPagination, std::nullopt},
      {Fault::Kind::BadItem, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.kind));
    fake.setFault("GET", "sites", Fault{.kind = row.kind});
    Got got = fetch(fake.baseUrl() + "sites");
    if (row.errorCode) {
      ASSERT_TRUE(got.error);
      EXPECT_EQ(got.error->code, *row.errorCode);
      continue;
    }
    ASSERT_TRUE(got.response);
    EXPECT_EQ(got.response->statusCode, 200);
    switch (row.kind) {
      case Fault::Kind::Garbage: EXPECT_FALSE(platform::json::parse(got.body)); break;
      case Fault::Kind::WrongContentType: EXPECT_EQ(got.response->headerValue("Content-Type"), "text/html"); break;
      case Fault::Kind::NoPagination:
        EXPECT_TRUE(got.json()["pagination"].isAbsent());
        EXPECT_EQ(got.json()["sites"].size(), 3u);
        break;
      default: EXPECT_EQ(got.json()["sites"][0], Value("malformed record")); break;
    }
  }
}

}  // namespace
}  // namespace velmora::testing
