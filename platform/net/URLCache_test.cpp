#include "platform/net/URLCache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/net/URLSession.h"
#include "testing/LoopbackHttpServer.h"

namespace velmora::platform::net {
namespace {

using velmora::testing::LoopbackHttpServer;
using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kServed = "Thu, 10 Dec 2026 10:00:00 GMT";

TEST(URLCacheTest, ParsesOnlyFixedHTTPDates) {
  EXPECT_EQ(URLCache::parseHTTPDate("Sun, 06 Nov 1994 08:49:37 GMT"), Date::fromUnixSeconds(784111777));
  EXPECT_EQ(URLCache::parseHTTPDate("Thu, 29 Feb 2024 00:00:00 GMT"), Date::fromUnixSeconds(1709164800));
  for (const char* bad : {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994", "Sun, 06 Nov 1994 08:49:37 UTC",
                          "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 6 Nov 1994 08:49:37 GMT", "0", ""}) {
    EXPECT_FALSE(URLCache::parseHTTPDate(bad)) << bad;
  }
}

TEST(URLCacheTest, OnlyExplicitFreshnessCounts) {
  const Date now = *URLCache::parseHTTPDate(kServed);
  const struct {
    Headers headers;
    std::optional<double> lifetime;
  } cases[] = {
      {{{"Cache-Control", "max-age=60"}}, 60},
      {{{"cache-control", "public, MAX-AGE=\"90\""}}, 90},
      {{{"Cache-Control", "max-age=60"}, {"Age", "20"}}, 40},
      {{{"Cache-Control", "max-age=60"}, {"Age", "60"}}, std::nullopt},
      {{{"Cache-Control", "max-age=0"}}, std::nullopt},
      {{{"Cache-Control", "max-age=abc"}}, std::nullopt},
      {{{"Cache-Control", "max-age=60, no-store"}}, std::nullopt},
      {{{"Cache-Control", "no-cache"}, {"Cache-Control", "max-age=60"}}, std::nullopt},
      {{{"Cache-Control", "max-age=60"}, {"Vary", "*"}}, std::nullopt},
      {{{"Expires", "Thu, 10 Dec 2026 10:05:00 GMT"}, {"Date", kServed}}, 300},
      {{{"Expires", "Thu, 10 Dec 2026 10:05:00 GMT"}}, 300},  // against now
      {{{"Expires", "0"}}, std::nullopt},
      {{{"Expires", "Thu, 10 Dec 2026 09:00:00 GMT"}}, std::nullopt},
      {{{"Cache-Control", "max-age=10"}, {"Expires", "Thu, 10 Dec 2026 11:00:00 GMT"}}, 10},  // max-age wins
      {{{"Last-Modified", "Thu, 01 Jan 2026 00:00:00 GMT"}}, std::nullopt},  // no heuristic
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    HTTPURLResponse response{200, "http://x/", c.headers};
    EXPECT_EQ(URLCache::freshnessLifetime(response, now), c.lifetime)
        << (c.headers.empty() ? "" : c.headers.front().second);
  }
}

TEST(URLCacheTest, KeepsFreshRepliesByURLAndHeadersWithinItsCapacity) {
  auto clock = std::make_shared<ManualClock>(*URLCache::parseHTTPDate(kServed));
  URLCache cache(20 * 1000, clock);
  const HTTPURLResponse fresh{200, "http://x/a", {{"Cache-Control", "max-age=60"}}};
  const URLRequest a{.url = "http://x/a", .headers = {{"Authorization", "one"}}};
  cache.storeReply(a, fresh, "A");
  ASSERT_TRUE(cache.cachedReply(a));
  EXPECT_EQ(cache.cachedReply(a)->data, "A");
  EXPECT_FALSE(cache.cachedReply({.url = "http://x/a", .headers = {{"Authorization", "two"}}}));
  EXPECT_FALSE(cache.cachedReply({.url = "http://x/a", .headers = {{"Authorization", "one"}, {"Cache-Control", "no-cache"}}}));
  EXPECT_FALSE(cache.cachedReply({.url = "http://x/a", .method = "POST", .headers = a.headers}));

  const URLRequest b{.url = "http://x/b"};
  cache.storeReply(b, HTTPURLResponse{404, "http://x/b", fresh.headers}, "");
  cache.storeReply({.url = "http://x/b", .method = "PUT"}, fresh, "");
  EXPECT_FALSE(cache.cachedReply(b));
  cache.storeReply(b, fresh, std::string(1001, 'b'));  // over a twentieth of the capacity
  EXPECT_FALSE(cache.cachedReply(b));

  // The least recently used goes first once the capacity is reached.
  for (int i = 0; i < 40; ++i) {
    cache.storeReply({.url = "http://x/" + std::to_string(i)}, fresh, std::string(900, 'x'));
    ASSERT_TRUE(cache.cachedReply(a)) << i;  // kept in use
  }
  EXPECT_LE(cache.currentMemoryUsage(), cache.memoryCapacity());
  EXPECT_FALSE(cache.cachedReply({.url = "http://x/0"}));
  EXPECT_TRUE(cache.cachedReply({.url = "http://x/39"}));

  clock->advance(60.0);
  EXPECT_FALSE(cache.cachedReply(a));  // expired exactly at its lifetime
  cache.removeAllCachedResponses();
  EXPECT_EQ(cache.currentMemoryUsage(), 0u);
}

TEST(URLCacheTest, SessionAnswersFreshGetsWithoutAskingTheServerAgain) {
  LoopbackHttpServer server;
  server.setReply("/fresh", {.body = "{\"n\":1}", .headers = {{"Cache-Control", "max-age=30"}}});
  server.setReply("/stored-never", {.body = "{}", .headers = {{"Cache-Control", "no-store, max-age=30"}}});
  server.setReply("/plain", {.body = "{}"});
  auto clock = std::make_shared<ManualClock>(*URLCache::parseHTTPDate(kServed));
  auto cache = std::make_shared<URLCache>(2 * 1024 * 1024, clock);
  auto session = URLSession::create({.urlCache = cache});
  const auto hits = [&](std::string_view path) {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.target == path;
    return n;
  };
  const auto get = [&](const std::string& path) {
    return session->sendSynchronousRequest({.url = server.baseUrl() + path});
  };

  for (int i = 0; i < 3; ++i) {
    const auto reply = get("/fresh");
    ASSERT_TRUE(reply.response);
    EXPECT_EQ(reply.response->statusCode, 200);
    EXPECT_EQ(reply.data, "{\"n\":1}");
    get("/stored-never");
    get("/plain");
  }
  EXPECT_EQ(hits("/fresh"), 1u);
  EXPECT_EQ(hits("/stored-never"), 3u);
  EXPECT_EQ(hits("/plain"), 3u);

  // A data task is answered from the cache too, on its queue as ever.
  std::promise<std::optional<std::string>> done;
  session->dataTask({.url = server.baseUrl() + "/fresh"},
                    [&](std::optional<std::string> data, std::optional<HTTPURLResponse>, std::optional<Error>) {
                      done.set_value(std::move(data));
                    })
      ->resume();
  auto future = done.get_future();
  ASSERT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(future.get(), "{\"n\":1}");
  EXPECT_EQ(hits("/fresh"), 1u);

  clock->advance(31.0);
  get("/fresh");
  EXPECT_EQ(hits("/fresh"), 2u);

  // Without a cache in its configuration a session always asks.
  auto uncached = URLSession::create();
  uncached->sendSynchronousRequest({.url = server.baseUrl() + "/fresh"});
  EXPECT_EQ(hits("/fresh"), 3u);
}

}  // namespace
}  // namespace velmora::platform::net
