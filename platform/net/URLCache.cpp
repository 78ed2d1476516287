#include "platform/net/URLCache.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <vector>

#include <limits>

#include "platform/net/URLDiskCache.h"

namespace velmora::platform::net {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The comma-separated directives of every header of that name, lower-cased, as
// (name, value) with quotes around the value removed.
std::vector<std::pair<std::string, std::string>> directives(
    const std::vector<std::pair<std::string, std::string>>& headers, std::string_view name) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [headerName, value] : headers) {
    if (lower(headerName) != name) continue;
    std::string_view rest = value;
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      std::string_view item = trim(rest.substr(0, comma));
      rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
      if (item.empty()) continue;
      const auto eq = item.find('=');
      std::string key = lower(trim(item.substr(0, eq)));
      std::string_view arg = eq == std::string_view::npos ? std::string_view{} : trim(item.substr(eq + 1));
      if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') arg = arg.substr(1, arg.size() - 2);
      out.emplace_back(std::move(key), std::string(arg));
    }
  }
  return out;
}

bool has(const std::vector<std::pair<std::string, std::string>>& list, std::string_view key) {
  return std::any_of(list.begin(), list.end(), [&](const auto& d) { return d.first == key; });
}

std::optional<std::int64_t> number(std::string_view text) {
  std::int64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) return std::numeric_limits<std::int64_t>::max();
  if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

bool requestRefusesCache(const URLRequest& request) {
  const auto control = directives(request.headers, "cache-control");
  if (has(control, "no-cache") || has(control, "no-store")) return true;
  const auto pragma = directives(request.headers, "pragma");
  return has(pragma, "no-cache");
}

// Days from 1970-01-01 to the given civil date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

URLCache::URLCache(std::size_t memoryCapacity, std::shared_ptr<Clock> clock)
    : capacity_(memoryCapacity), clock_(clock ? std::move(clock) : Clock::system()) {}

URLCache::URLCache(std::size_t memoryCapacity, std::size_t diskCapacity, std::filesystem::path diskDirectory,
                   std::shared_ptr<Clock> clock)
    : capacity_(memoryCapacity),
      clock_(clock ? std::move(clock) : Clock::system()),
      disk_(diskCapacity > 0 ? std::make_unique<URLDiskCache>(std::move(diskDirectory), diskCapacity) : nullptr) {
  if (disk_) disk_->removeExpired(clock_->now());
}

URLCache::~URLCache() = default;

std::optional<std::filesystem::path> URLCache::defaultDiskDirectory() {
  std::filesystem::path base;
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && *cache == '/') {
    base = cache;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    base = std::filesystem::path(home) / ".cache";
  } else {
    return std::nullopt;
  }
  return base / "velmora" / "URLCache";
}

std::size_t URLCache::diskCapacity() const { return disk_ ? disk_->capacity() : 0; }

std::size_t URLCache::currentDiskUsage() const { return disk_ ? disk_->currentUsage() : 0; }

std::optional<Date> URLCache::parseHTTPDate(std::string_view t) {
  // "Sun, 06 Nov 1994 08:49:37 GMT"
  if (t.size() != 29 || t[3] != ',' || t[4] != ' ' || t[7] != ' ' || t[11] != ' ' || t[16] != ' ' ||
      t[19] != ':' || t[22] != ':' || t.substr(25) != " GMT") {
    return std::nullopt;
  }
  static constexpr std::array<std::string_view, 7> kDays{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  if (std::find(kDays.begin(), kDays.end(), t.substr(0, 3)) == kDays.end()) return std::nullopt;
  const auto month = std::find(kMonths.begin(), kMonths.end(), t.substr(8, 3));
  if (month == kMonths.end()) return std::nullopt;
  const auto field = [&](std::size_t at, std::size_t length) -> std::optional<std::int64_t> {
    const auto text = t.substr(at, length);
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    return number(text);
  };
  const auto day = field(5, 2), year = field(12, 4), hour = field(17, 2), minute = field(20, 2),
             second = field(23, 2);
  if (!day || !year || !hour || !minute || !second) return std::nullopt;
  if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  const auto m = static_cast<unsigned>(month - kMonths.begin() + 1);
  const std::int64_t days = daysFromCivil(*year, m, static_cast<unsigned>(*day));
  return Date::fromUnixSeconds(static_cast<double>(days * 86400 + *hour * 3600 + *minute * 60 + *second));
}

std::optional<double> URLCache::freshnessLifetime(const HTTPURLResponse& response, Date now) {
  const auto control = directives(response.headers, "cache-control");
  if (has(control, "no-store") || has(control, "no-cache")) return std::nullopt;
  for (const auto& [name, value] : directives(response.headers, "vary")) {
    if (name == "*") return std::nullopt;
  }
  std::optional<double> lifetime;
  for (const auto& [name, value] : control) {
    if (name != "max-age") continue;
    const auto seconds = number(value);
    if (!seconds) return std::nullopt;  // a max-age that cannot be read marks the reply stale
    lifetime = static_cast<double>(std::min<std::int64_t>(*seconds, 10LL * 365 * 86400));
    break;
  }
  if (!lifetime) {
    const auto expires = response.headerValue("Expires");
    if (!expires) return std::nullopt;
    const auto expiresAt = parseHTTPDate(trim(*expires));
    if (!expiresAt) return std::nullopt;  // an invalid Expires means already expired
    const auto dateHeader = response.headerValue("Date");
    const auto served = dateHeader ? parseHTTPDate(trim(*dateHeader)) : std::nullopt;
    lifetime = expiresAt->timeIntervalSince(served.value_or(now));
  }
  if (const auto age = response.headerValue("Age")) {
    if (const auto seconds = number(trim(*age))) *lifetime -= static_cast<double>(*seconds);
  }
  if (*lifetime <= 0) return std::nullopt;
  return lifetime;
}

std::optional<std::string> URLCache::keyFor(const URLRequest& request) {
  if (request.method != "GET" || requestRefusesCache(request)) return std::nullopt;
  std::vector<std::string> headers;
  for (const auto& [name, value] : request.headers) headers.push_back(lower(name) + ":" + value);
  std::sort(headers.begin(), headers.end());
  std::string key = request.url;
  for (const auto& h : headers) {
    key += '\n';
    key += h;
  }
  return key;
}

std::optional<URLSessionReply> URLCache::cachedReply(const URLRequest& request) {
  const auto key = keyFor(request);
  if (!key) return std::nullopt;
  const Date now = clock_->now();
  {
    std::lock_guard lock(mutex_);
    const auto found = index_.find(*key);
    if (found != index_.end()) {
      if (found->second->expires.unixMicros() > now.unixMicros()) {
        entries_.splice(entries_.begin(), entries_, found->second);
        return URLSessionReply{found->second->body, found->second->response, std::nullopt};
      }
      evictLocked(*key);
    }
  }
  if (!disk_) return std::nullopt;
  auto stored = disk_->load(*key, now);
  if (!stored) return std::nullopt;
  keepInMemory(*key, stored->response, stored->body, stored->expires);
  return URLSessionReply{std::move(stored->body), std::move(stored->response), std::nullopt};
}

void URLCache::storeReply(const URLRequest& request, const HTTPURLResponse& response, const std::string& body) {
  if (response.statusCode != 200) return;
  const auto key = keyFor(request);
  if (!key) return;
  const Date now = clock_->now();
  const auto lifetime = freshnessLifetime(response, now);
  if (!lifetime) return;
  const Date expires = now.addingTimeInterval(*lifetime);
  keepInMemory(*key, response, body, expires);
  if (disk_) disk_->store(*key, response, body, expires);
}

void URLCache::keepInMemory(const std::string& key, const HTTPURLResponse& response, const std::string& body,
                            Date expires) {
  std::size_t cost = key.size() + body.size() + response.url.size();
  for (const auto& [name, value] : response.headers) cost += name.size() + value.size();
  std::lock_guard lock(mutex_);
  evictLocked(key);
  if (cost > capacity_ / 20) return;
  entries_.push_front(Entry{key, response, body, expires, cost});
  index_[key] = entries_.begin();
  usage_ += cost;
  while (usage_ > capacity_ && !entries_.empty()) evictLocked(entries_.back().key);
}

void URLCache::removeAllCachedResponses() {
  {
    std::lock_guard lock(mutex_);
    entries_.clear();
    index_.clear();
    usage_ = 0;
  }
  if (disk_) disk_->removeAll();
}

std::size_t URLCache::currentMemoryUsage() const {
  std::lock_guard lock(mutex_);
  return usage_;
}

void URLCache::evictLocked(const std::string& key) {
  const auto found = index_.find(key);
  if (found == index_.end()) return;
  usage_ -= found->second->cost;
  entries_.erase(found->second);
  index_.erase(found);
}

}  // namespace velmora::platform::net
