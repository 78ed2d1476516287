#pragma once

#include <cstddef>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/core/Clock.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionReply.h"

namespace velmora::platform::net {

class URLDiskCache;

// A memory cache of HTTP replies, for sessions whose configuration names it.
//
// Only what the server explicitly marked fresh is kept: a 200 reply to a GET with
// "Cache-Control: max-age=N" (N > 0), or else an "Expires" date later than its "Date" (or
// than now); never one with "no-store", "no-cache" or "Vary: *", and never a guess from
// Last-Modified. An "Age" header counts against the lifetime. A GET whose own headers ask
// for "no-cache" or "no-store" (or "Pragma: no-cache") neither reads nor writes the cache.
// The key is the URL together with the request's headers, so a reply fetched with one
// account's credentials is never served for another's. Entries past their lifetime are
// never served; the least recently used go first when the capacity is reached, and a reply
// larger than a twentieth of the capacity is not kept. Thread-safe.
//
// With a disk capacity and a folder, the replies are also kept on disk (URLDiskCache), under
// the same rules and bounds of their own, and outlive the process: a reply missing from
// memory is looked up there and, when fresh, served and brought back into memory.
class URLCache {
 public:
  URLCache(std::size_t memoryCapacity, std::shared_ptr<Clock> clock = Clock::system());
  URLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::filesystem::path diskDirectory,
           std::shared_ptr<Clock> clock = Clock::system());
  ~URLCache();

  // The folder a cache keeps its disk tier in when the caller names none: "velmora/URLCache"
  // in the user's cache folder ($XDG_CACHE_HOME when it is an absolute path, else
  // $HOME/.cache); nullopt when neither is set.
  static std::optional<std::filesystem::path> defaultDiskDirectory();

  // The fresh stored reply for this request, if any.
  std::optional<URLSessionReply> cachedReply(const URLRequest& request);
  // Keeps the reply when the rules above allow it.
  void storeReply(const URLRequest& request, const HTTPURLResponse& response, const std::string& body);
  void removeAllCachedResponses();

  std::size_t memoryCapacity() const { return capacity_; }
  std::size_t currentMemoryUsage() const;
  // 0 without a disk tier.
  std::size_t diskCapacity() const;
  std::size_t currentDiskUsage() const;

  // Seconds the reply stays fresh by its own headers, from `now`; nullopt when it carries no
  // explicit freshness or forbids storing.
  static std::optional<double> freshnessLifetime(const HTTPURLResponse& response, Date now);
  // An IMF-fixdate ("Sun, 06 Nov 1994 08:49:37 GMT"); nullopt for any other text.
  static std::optional<Date> parseHTTPDate(std::string_view text);

 private:
  struct Entry {
    std::string key;
    HTTPURLResponse response;
    std::string body;
    Date expires;
    std::size_t cost = 0;
  };
  static std::optional<std::string> keyFor(const URLRequest& request);
  void evictLocked(const std::string& key);
  void keepInMemory(const std::string& key, const HTTPURLResponse& response, const std::string& body, Date expires);

  const std::size_t capacity_;
  const std::shared_ptr<Clock> clock_;
  const std::unique_ptr<URLDiskCache> disk_;
  mutable std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> index_;
  std::size_t usage_ = 0;
};

}  // namespace velmora::platform::net
