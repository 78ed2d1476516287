#include "platform/net/URLDiskCache.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <sqlite3.h>

#include <string_view>
#include <system_error>
#include <utility>

#include "platform/core/Log.h"
#include "platform/crypto/Digest.h"

namespace velmora::platform::net {
namespace {

constexpr std::string_view kLog = "url-cache";
constexpr const char* kFileName = "Cache.db";

// The name a reply is filed under: the key itself stays off the disk.
std::string fileKey(const std::string& key) {
  return crypto::lowercaseHex(crypto::digest(crypto::DigestAlgorithm::SHA256, key));
}

// Header lines as "name:value", one a line; neither part can hold a line break.
std::string encodeHeaders(const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string out;
  for (const auto& [name, value] : headers) {
    out += name;
    out += ':';
    out += value;
    out += '\n';
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> decodeHeaders(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    out.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(colon + 1)));
  }
  return out;
}

std::size_t costOf(const HTTPURLResponse& response, const std::string& body) {
  std::size_t cost = body.size() + response.url.size() + 64;  // the row's own fields
  for (const auto& [name, value] : response.headers) cost += name.size() + value.size() + 2;
  return cost;
}

// Whether a failure says the file is not a usable cache (rather than that the disk or the
// locks failed this once).
bool isDamage(const SQLite::Exception& e) {
  switch (e.getErrorCode() & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_ERROR:     // a table of another layout
    case SQLITE_MISMATCH:
    case SQLITE_SCHEMA:
    case SQLITE_FORMAT: return true;
    default: return false;
  }
}

void removeFiles(const std::filesystem::path& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::error_code ec;
    std::filesystem::remove(file.string() + suffix, ec);
  }
}

}  // namespace

URLDiskCache::URLDiskCache(std::filesystem::path directory, std::size_t capacity)
    : directory_(std::move(directory)), file_(directory_ / kFileName), capacity_(capacity) {
  std::lock_guard lock(mutex_);
  std::error_code ec;
  std::filesystem::create_directories(directory_, ec);
  if (ec) {
    Log::warning(kLog, "no disk cache: cannot create {}: {}", directory_.string(), ec.message());
    return;
  }
  if (openLocked() == Open::Damaged) replaceLocked("the file is not a URL cache");
}

URLDiskCache::~URLDiskCache() = default;

URLDiskCache::Open URLDiskCache::openLocked() {
  db_.reset();
  try {
    auto db = std::make_unique<SQLite::Database>(file_.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db->setBusyTimeout(2000);
    db->execAndGet("PRAGMA journal_mode = WAL");
    db->exec("PRAGMA synchronous = NORMAL");
    db->exec(
        "CREATE TABLE IF NOT EXISTS replies ("
        " key TEXT PRIMARY KEY NOT NULL, url TEXT NOT NULL, status INTEGER NOT NULL, headers TEXT NOT NULL,"
        " body BLOB NOT NULL, expires INTEGER NOT NULL, cost INTEGER NOT NULL, used INTEGER NOT NULL)");
    // Reads every column, so a table of another layout fails here rather than later.
    db->execAndGet("SELECT count(key), count(url), count(status), count(headers), count(body), count(expires),"
                   " count(cost), coalesce(max(used), 0) FROM replies");
    const std::string check = db->execAndGet("PRAGMA quick_check").getString();
    if (check != "ok") {
      Log::warning(kLog, "the disk cache {} fails its check: {}", file_.string(), check);
      return Open::Damaged;
    }
    nextUse_ = db->execAndGet("SELECT coalesce(max(used), 0) FROM replies").getInt64() + 1;
    db_ = std::move(db);
    return Open::Ready;
  } catch (const SQLite::Exception& e) {
    Log::warning(kLog, "cannot open the disk cache {}: {}", file_.string(), e.what());
    return isDamage(e) ? Open::Damaged : Open::Unavailable;
  }
}

void URLDiskCache::replaceLocked(const char* why) {
  Log::warning(kLog, "replacing the disk cache {}: {}", file_.string(), why);
  db_.reset();
  removeFiles(file_);
  if (openLocked() != Open::Ready) Log::warning(kLog, "no disk cache at {}", file_.string());
}

template <class Work>
void URLDiskCache::guardedLocked(const char* what, Work&& work) {
  if (!db_) return;
  try {
    work(*db_);
  } catch (const SQLite::Exception& e) {
    if (isDamage(e)) {
      replaceLocked(e.what());
    } else {
      Log::warning(kLog, "the disk cache could not {}: {}", what, e.what());
    }
  }
}

std::optional<URLDiskCache::Stored> URLDiskCache::load(const std::string& key, Date now) {
  const std::string name = fileKey(key);
  std::lock_guard lock(mutex_);
  std::optional<Stored> out;
  guardedLocked("read a reply", [&](SQLite::Database& db) {
    SQLite::Statement query(db, "SELECT url, status, headers, body, expires FROM replies WHERE key = ?");
    query.bind(1, name);
    if (!query.executeStep()) return;
    const Date expires = Date::fromUnixMicros(query.getColumn(4).getInt64());
    if (expires.unixMicros() <= now.unixMicros()) {
      SQLite::Statement drop(db, "DELETE FROM replies WHERE key = ?");
      drop.bind(1, name);
      query.reset();
      drop.exec();
      return;
    }
    Stored stored;
    stored.response.url = query.getColumn(0).getString();
    stored.response.statusCode = query.getColumn(1).getInt();
    stored.response.headers = decodeHeaders(query.getColumn(2).getString());
    const SQLite::Column body = query.getColumn(3);
    if (body.getBytes() > 0) {
      stored.body.assign(static_cast<const char*>(body.getBlob()), static_cast<std::size_t>(body.getBytes()));
    }
    stored.expires = expires;
    query.reset();
    SQLite::Statement touch(db, "UPDATE replies SET used = ? WHERE key = ?");
    touch.bind(1, nextUse_++);
    touch.bind(2, name);
    touch.exec();
    out = std::move(stored);
  });
  return out;
}

void URLDiskCache::store(const std::string& key, const HTTPURLResponse& response, const std::string& body,
                         Date expires) {
  const std::string name = fileKey(key);
  const std::size_t cost = costOf(response, body);
  std::lock_guard lock(mutex_);
  guardedLocked("keep a reply", [&](SQLite::Database& db) {
    if (cost > capacity_ / 20) {
      SQLite::Statement drop(db, "DELETE FROM replies WHERE key = ?");
      drop.bind(1, name);
      drop.exec();
      return;
    }
    SQLite::Statement insert(db,
                             "INSERT OR REPLACE INTO replies (key, url, status, headers, body, expires, cost, used)"
                             " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, name);
    insert.bind(2, response.url);
    insert.bind(3, response.statusCode);
    insert.bind(4, encodeHeaders(response.headers));
    insert.bind(5, body.data(), static_cast<int>(body.size()));
    insert.bind(6, static_cast<std::int64_t>(expires.unixMicros()));
    insert.bind(7, static_cast<std::int64_t>(cost));
    insert.bind(8, nextUse_++);
    insert.exec();
    trimLocked();
  });
}

void URLDiskCache::trimLocked() {
  SQLite::Statement total(*db_, "SELECT coalesce(sum(cost), 0) FROM replies");
  std::int64_t usage = total.executeStep() ? total.getColumn(0).getInt64() : 0;
  while (usage > static_cast<std::int64_t>(capacity_)) {
    SQLite::Statement oldest(*db_, "SELECT key, cost FROM replies ORDER BY used ASC LIMIT 1");
    if (!oldest.executeStep()) break;
    const std::string name = oldest.getColumn(0).getString();
    usage -= oldest.getColumn(1).getInt64();
    oldest.reset();
    SQLite::Statement drop(*db_, "DELETE FROM replies WHERE key = ?");
    drop.bind(1, name);
    drop.exec();
  }
}

void URLDiskCache::remove(const std::string& key) {
  const std::string name = fileKey(key);
  std::lock_guard lock(mutex_);
  guardedLocked("remove a reply", [&](SQLite::Database& db) {
    SQLite::Statement drop(db, "DELETE FROM replies WHERE key = ?");
    drop.bind(1, name);
    drop.exec();
  });
}

void URLDiskCache::removeAll() {
  std::lock_guard lock(mutex_);
  guardedLocked("empty itself", [](SQLite::Database& db) { db.exec("DELETE FROM replies"); });
}

void URLDiskCache::removeExpired(Date now) {
  std::lock_guard lock(mutex_);
  guardedLocked("drop stale replies", [&](SQLite::Database& db) {
    SQLite::Statement drop(db, "DELETE FROM replies WHERE expires <= ?");
    drop.bind(1, static_cast<std::int64_t>(now.unixMicros()));
    drop.exec();
  });
}

std::size_t URLDiskCache::currentUsage() const {
  std::lock_guard lock(mutex_);
  if (!db_) return 0;
  try {
    return static_cast<std::size_t>(db_->execAndGet("SELECT coalesce(sum(cost), 0) FROM replies").getInt64());
  } catch (const SQLite::Exception&) {
    return 0;
  }
}

}  // namespace velmora::platform::net
