// Requests built by the serializers, sent by the URL session to a loopback server: the
// query and body reach the wire byte for byte as built, and the reply decodes.
#include <gtest/gtest.h>

#include <future>

#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "platform/core/Json.h"
#include "platform/net/URLSession.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::kestrine {
namespace {

struct Sent {
  std::optional<std::string> data;
  std::optional<platform::net::HTTPURLResponse> response;
  std::optional<platform::Error> error;
};

Sent send(platform::net::URLSession& session, const KSURLRequest& request) {
  auto promise = std::make_shared<std::promise<Sent>>();
  auto future = promise->get_future();
  session
      .dataTask(request.urlRequest,
                [promise](std::optional<std::string> data, std::optional<platform::net::HTTPURLResponse> response,
                          std::optional<platform::Error> error) {
                  promise->set_value({std::move(data), std::move(response), std::move(error)});
                })
      ->resume();
  return future.get();  // every task completes exactly once
}

TEST(KSSerializersLoopback, QueryAndJSONBodyReachTheServerAsBuilt) {
  velmora::testing::LoopbackHttpServer server;
  server.setDefaultReply({.status = 404, .body = R"({"error":"no such beacon","id":null})"});
  auto session = platform::net::URLSession::create();

  KSClientEnvironment env;
  env.preferredLanguages = {"de-DE", "en"};
  env.executableName = "ParkApp";
  env.shortVersion = "3.0";
  KSJSONRequestSerializer serializer(env);
  serializer.setValue("Bearer t0k", "Authorization");

  // Text after "?" that the caller escaped is sent as given; the parameters follow it.
  auto get = serializer.requestWithMethod(
      "GET", server.baseUrl() + "/api/beacons?modifiedAfter=2024-05-01%2012%3A30%3A00%20%2B0000",
      *platform::json::parse(R"({"b": 1, "a": {"y": [1, 2], "x": null}, "q": "caf\u00e9 \ud83d\ude97"})"));
  ASSERT_TRUE(get);
  const Sent reply = send(*session, *get);
  ASSERT_FALSE(reply.error);

  auto post = serializer.requestWithMethod("POST", server.baseUrl() + "/api/visits",
                                           *platform::json::parse(R"({"visits": [{"id": 1}]})"));
  ASSERT_TRUE(post);
  ASSERT_FALSE(send(*session, *post).error);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target,
            "/api/beacons?modifiedAfter=2024-05-01%2012%3A30%3A00%20%2B0000"
            "&a%5Bx%5D&a%5By%5D%5B%5D=1&a%5By%5D%5B%5D=2&b=1&q=caf%C3%A9%20%F0%9F%9A%97");
  EXPECT_EQ(requests[0].header("Accept-Language"), "de-DE;q=1, en;q=0.9");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer t0k");
  EXPECT_EQ(requests[0].body, "");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].target, "/api/visits");
  EXPECT_EQ(requests[1].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[1].body, R"({"visits":[{"id":1}]})");

  // The 404's JSON body is decoded beside the status error, nulls kept.
  std::optional<platform::Error> error;
  const platform::Value object = KSJSONResponseSerializer().responseObjectForResponse(
      reply.response ? &*reply.response : nullptr, reply.data, &error);
  EXPECT_EQ(object, *platform::json::parse(R"({"error":"no such beacon","id":null})"));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -1011);
  EXPECT_EQ(error->localizedDescription, "Request failed: not found (404)");
}

}  // namespace
}  // namespace velmora::kestrine
