#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Date.h"
#include "platform/net/HTTPURLResponse.h"

namespace SQLite {
class Database;
}

namespace velmora::platform::net {

// The disk tier of a URL cache: replies kept in one SQLite file ("Cache.db") in a folder of
// their own, so they outlive the process. Each reply is filed under a digest of its cache
// key, never under the key itself (which holds the request's headers, credentials
// included). The file holds at most `capacity` bytes of replies, counted as their bodies,
// URLs and headers: past that the least recently used go first, and a reply larger than a
// twentieth of the capacity is not kept. A file that is not such a cache (another
// program's, a torn or corrupt one) is removed and made afresh, also when the damage only
// shows while it is in use. When the folder cannot be used at all the tier keeps nothing.
// Thread-safe; every call works on the file at once, on the calling thread.
class URLDiskCache {
 public:
  struct Stored {
    HTTPURLResponse response;
    std::string body;
    Date expires;
  };

  URLDiskCache(std::filesystem::path directory, std::size_t capacity);
  ~URLDiskCache();
  URLDiskCache(const URLDiskCache&) = delete;
  URLDiskCache& operator=(const URLDiskCache&) = delete;

  // The reply filed under `key` while it is fresh at `now`; one past its time is removed.
  std::optional<Stored> load(const std::string& key, Date now);
  // Files the reply (replacing what was under the key), then trims the file to capacity.
  void store(const std::string& key, const HTTPURLResponse& response, const std::string& body, Date expires);
  void remove(const std::string& key);
  void removeAll();
  // Drops every reply past its time at `now`.
  void removeExpired(Date now);

  std::size_t capacity() const { return capacity_; }
  std::size_t currentUsage() const;
  // The cache file; it exists once the tier could be set up.
  const std::filesystem::path& file() const { return file_; }

 private:
  enum class Open { Ready, Damaged, Unavailable };
  Open openLocked();
  // Closes the file, removes it and opens a fresh one.
  void replaceLocked(const char* why);
  // Runs `work` on the open file; a failure that says the file is damaged replaces it.
  template <class Work>
  void guardedLocked(const char* what, Work&& work);
  void trimLocked();

  const std::filesystem::path directory_;
  const std::filesystem::path file_;
  const std::size_t capacity_;
  mutable std::mutex mutex_;
  std::unique_ptr<SQLite::Database> db_;
  std::int64_t nextUse_ = 1;
};

}  // namespace velmora::platform::net
