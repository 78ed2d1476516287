// Serializers are configured while other threads build requests with them: the default
// headers and request properties are guarded, and response serializers keep no state
// while serializing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "beacons/http/KSHTTPRequestSerializer.h"
#include "beacons/http/KSHTTPResponseSerializer.h"
#include "platform/core/Json.h"

namespace velmora::kestrine {
namespace {

TEST(KSSerializerThreads, HeadersChangeWhileRequestsAreBuilt) {
  KSClientEnvironment env;
  env.preferredLanguages = {"en"};
  auto serializer = KSJSONRequestSerializer::serializer(env);
  auto reader = KSJSONResponseSerializer::serializer();
  const platform::Value params = *platform::json::parse(R"({"page": 1, "perPage": 100})");
  std::atomic<bool> stop{false};
  std::atomic<int> built{0};

  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      serializer->setValue("Bearer " + std::to_string(i), "Authorization");
      serializer->setValue(std::to_string(i), "X-KS-InstallationID");
      if (i % 3 == 0) serializer->clearAuthorizationHeader();
      serializer->setTimeoutInterval(i % 7);
    }
    stop = true;
  });
  std::vector<std::thread> builders;
  for (int t = 0; t < 4; ++t) {
    builders.emplace_back([&, t] {
      platform::net::HTTPURLResponse reply;
      reply.statusCode = 200;
      reply.url = "http://h/api/x";
      reply.headers = {{"Content-Type", "application/json"}};
      for (int mine = 0; !stop || mine < 50; ++mine) {
        auto request = serializer->requestWithMethod(t % 2 ? "GET" : "POST", "http://h/api/beacons", params);
        ASSERT_TRUE(request);
        // An Authorization header, when present, is always one whole value.
        if (auto auth = request->valueForHTTPHeaderField("Authorization")) {
          ASSERT_TRUE(auth->starts_with("Bearer "));
        }
        std::optional<platform::Error> error;
        ASSERT_EQ(reader->responseObjectForResponse(&reply, std::string(R"({"a":1})"), &error),
                  *platform::json::parse(R"({"a":1})"));
        ++built;
      }
    });
  }
  writer.join();
  for (auto& b : builders) b.join();
  EXPECT_GE(built.load(), 200);
}

}  // namespace
}  // namespace velmora::kestrine
