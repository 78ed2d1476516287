#include "platform/net/URLCache.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>

#include "platform/net/URLSession.h"
#include "testing/LoopbackHttpServer.h"
#include "testing/TempDir.h"

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

// The disk tier outlives the cache object: a new cache on the same folder serves what the
// old one kept while it is fresh, and nothing once its time is up.
TEST(URLCacheTest, TheDiskTierSurvivesARestartUntilTheReplyExpires) {
  velmora::testing::TempDir dir;
  auto clock = std::make_shared<ManualClock>(*URLCache::parseHTTPDate(kServed));
  const HTTPURLResponse fresh{200, "http://x/a", {{"Cache-Control", "max-age=60"}, {"X-Kind", "lot"}}};
  const URLRequest a{.url = "http://x/a", .headers = {{"Authorization", "secret-token-1"}}};
  const std::string body("{\"a\":1}\0tail", 12);
  {
    URLCache cache(20 * 1000, 1000 * 1000, dir.path(), clock);
    EXPECT_EQ(cache.diskCapacity(), 1000u * 1000u);
    cache.storeReply(a, fresh, body);
    EXPECT_GT(cache.currentDiskUsage(), body.size());
  }
  clock->advance(59.0);
  {
    URLCache cache(20 * 1000, 1000 * 1000, dir.path(), clock);
    EXPECT_EQ(cache.currentMemoryUsage(), 0u);
    const auto reply = cache.cachedReply(a);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->data, body);
    ASSERT_TRUE(reply->response);
    EXPECT_EQ(reply->response->statusCode, 200);
    EXPECT_EQ(reply->response->url, "http://x/a");
    EXPECT_EQ(reply->response->headers, fresh.headers);
    EXPECT_GT(cache.currentMemoryUsage(), 0u);  // brought back into memory
    EXPECT_FALSE(cache.cachedReply({.url = "http://x/a", .headers = {{"Authorization", "secret-token-2"}}}));
  }
  // The key, with its credentials, never goes to disk.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.find("secret-token-1"), std::string::npos) << entry.path();
  }
  clock->advance(1.0);
  URLCache cache(20 * 1000, 1000 * 1000, dir.path(), clock);
  EXPECT_FALSE(cache.cachedReply(a));
  EXPECT_EQ(cache.currentDiskUsage(), 0u);  // stale replies are dropped at start
}

TEST(URLCacheTest, TheDiskTierKeepsToItsCapacityDroppingTheLeastRecentlyUsed) {
  velmora::testing::TempDir dir;
  auto clock = std::make_shared<ManualClock>(*URLCache::parseHTTPDate(kServed));
  const HTTPURLResponse fresh{200, "http://x/", {{"Cache-Control", "max-age=60"}}};
  const URLRequest kept{.url = "http://x/kept"};
  {
    // A memory tier too small for any of them: every answer below comes from disk.
    URLCache cache(100, 20 * 1000, dir.path(), clock);
    cache.storeReply(kept, fresh, std::string(900, 'k'));
    cache.storeReply({.url = "http://x/big"}, fresh, std::string(1001, 'b'));  // over a twentieth
    EXPECT_FALSE(cache.cachedReply({.url = "http://x/big"}));
    for (int i = 0; i < 40; ++i) {
      cache.storeReply({.url = "http://x/" + std::to_string(i)}, fresh, std::string(900, 'x'));
      ASSERT_TRUE(cache.cachedReply(kept)) << i;  // kept in use
    }
    EXPECT_LE(cache.currentDiskUsage(), cache.diskCapacity());
    EXPECT_GT(cache.currentDiskUsage(), cache.diskCapacity() / 2);
    EXPECT_FALSE(cache.cachedReply({.url = "http://x/0"}));
    EXPECT_TRUE(cache.cachedReply({.url = "http://x/39"}));
  }
  URLCache cache(100, 20 * 1000, dir.path(), clock);
  EXPECT_TRUE(cache.cachedReply(kept));
  EXPECT_TRUE(cache.cachedReply({.url = "http://x/39"}));
  cache.removeAllCachedResponses();
  EXPECT_EQ(cache.currentDiskUsage(), 0u);
  EXPECT_FALSE(cache.cachedReply(kept));
}

// A cache file that is not one (another program's bytes, a torn file) is dropped and made
// afresh; the cache goes on working and keeps what it stores from then on.
TEST(URLCacheTest, ACorruptCacheFileIsReplaced) {
  auto clock = std::make_shared<ManualClock>(*URLCache::parseHTTPDate(kServed));
  const HTTPURLResponse fresh{200, "http://x/a", {{"Cache-Control", "max-age=60"}}};
  const URLRequest a{.url = "http://x/a"};
  const struct {
    const char* name;
    std::function<void(const std::filesystem::path& file)> damage;
  } cases[] = {
      {"not a database", [](const auto& file) { std::ofstream(file, std::ios::binary) << std::string(4096, 'z'); }},
      {"a database with its pages overwritten",
       [](const auto& file) {
         const auto size = std::filesystem::file_size(file);
         std::string bytes(size, '\0');
         std::ifstream(file, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(size));
         for (std::size_t i = 100; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(0xA5);
         std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(size));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    velmora::testing::TempDir dir;
    {
      URLCache cache(100, 100 * 1000, dir.path(), clock);
      cache.storeReply(a, fresh, "before");
    }
    for (const char* suffix : {"-wal", "-shm"}) std::filesystem::remove(dir.path() / (std::string("Cache.db") + suffix));
    ASSERT_TRUE(std::filesystem::exists(dir.path() / "Cache.db"));
    c.damage(dir.path() / "Cache.db");
    {
      URLCache cache(100, 100 * 1000, dir.path(), clock);
      EXPECT_FALSE(cache.cachedReply(a));
      cache.storeReply(a, fresh, "after");
    }
    URLCache cache(100, 100 * 1000, dir.path(), clock);
    const auto reply = cache.cachedReply(a);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->data, "after");
  }
}

TEST(URLCacheTest, TheDefaultDiskFolderIsInTheUsersCacheFolder) {
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::optional<std::string> restore = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("XDG_CACHE_HOME", "/var/cache/me", 1);
  EXPECT_EQ(URLCache::defaultDiskDirectory(), std::filesystem::path("/var/cache/me/velmora/URLCache"));
  ::setenv("XDG_CACHE_HOME", "relative", 1);  // not absolute: ignored
  const char* home = std::getenv("HOME");
  if (home && *home == '/') {
    EXPECT_EQ(URLCache::defaultDiskDirectory(), std::filesystem::path(home) / ".cache" / "velmora" / "URLCache");
  }
  if (restore) {
    ::setenv("XDG_CACHE_HOME", restore->c_str(), 1);
  } else {
    ::unsetenv("XDG_CACHE_HOME");
  }
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
