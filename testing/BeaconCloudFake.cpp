#include "testing/BeaconCloudFake.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "platform/core/Json.h"
#include "platform/crypto/Base64.h"
#include "platform/crypto/Aes.h"
#include "platform/crypto/Cmac.h"
#include "platform/crypto/Digest.h"
#include "platform/sim/SimEncryptedSettingsSink.h"
#include "platform/sim/SimLoginResponder.h"

namespace velmora::testing {

namespace {

using Reply = LoopbackHttpServer::Reply;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" sequences decoded; a malformed one is kept as it stands.
std::string percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int hi = hexDigit(text[i + 1]);
      int lo = hexDigit(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::string> splitSegments(std::string_view path, bool decode) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto slash = path.find('/', start);
    auto piece = path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (!piece.empty()) out.push_back(decode ? percentDecode(piece) : std::string(piece));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return out;
}

std::optional<std::uint64_t> parseUnsigned(const std::string& text) {
  std::uint64_t v = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return v;
}

Reply jsonReply(int status, const platform::Value& body) {
  Reply reply;
  reply.status = status;
  reply.body = platform::json::write(body).value_or("{}");
  return reply;
}

using Kind = BeaconCloudFake::RouteKind;

}  // namespace

std::optional<std::string> BeaconCloudFake::LoggedRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return v;
    }
  }
  return std::nullopt;
}

const std::vector<BeaconCloudFake::Route>& BeaconCloudFake::routes() {
  // Literal segments before wildcards where both could match ("sites/nearby", "sites/{}").
  static const std::vector<Route> table = {
      // Account
      {"GET", true, {"apps", "{}"}, Kind::Record},
      {"GET", true, {"account", "verifycredentials"}, Kind::Record},
      {"GET", false, {"platformtypes"}, Kind::PlainList},
      {"GET", false, {"beaconloudnesses"}, Kind::PlainList},
      {"GET", false, {"targetspeeds"}, Kind::PlainList},
      {"GET", false, {"siteaccesstypes"}, Kind::PlainList},
      {"GET", false, {"beaconmodes"}, Kind::PlainList},
      // Sync lists
      {"GET", false, {"beacons"}, Kind::PagedList},
      {"GET", false, {"beacons", "nearby"}, Kind::PagedList},
      {"GET", false, {"beacons", "{}", "nearby"}, Kind::PagedList},
      {"GET", false, {"sites"}, Kind::PagedList},
      {"GET", false, {"sites", "nearby"}, Kind::PagedList},
      {"GET", false, {"sites", "{}", "beacons"}, Kind::PagedList},
      {"GET", false, {"apps", "{}", "beaconRegions"}, Kind::PagedList},
      // Single records
      {"GET", false, {"beacons", "{}"}, Kind::Record},
      {"GET", false, {"sites", "{}"}, Kind::Record},
      {"GET", false, {"beacons", "{}", "versions"}, Kind::PagedList},
      {"GET", false, {"beacons", "{}", "versions", "{}"}, Kind::Record},
      {"GET", false, {"beacons", "{}", "targetspeeds"}, Kind::PlainList},
      {"GET", false, {"beacons", "{}", "beaconModes"}, Kind::PlainList},
      {"GET", false, {"beacons", "{}", "beaconLoudnesses"}, Kind::PlainList},
      {"GET", false, {"beacons", "{}", "milk"}, Kind::Milk},
      {"GET", false, {"apps", "{}", "requestapptoken"}, Kind::Record},
      {"GET", false, {"teams"}, Kind::PagedList},
      {"GET", false, {"teams", "{}", "apps"}, Kind::PagedList},
      {"GET", false, {"teams", "{}", "teammates"}, Kind::PagedList},
      {"GET", false, {"teams", "{}", "sites"}, Kind::PagedList},
      {"GET", false, {"teams", "{}", "teaminvites"}, Kind::PlainList},
      {"GET", false, {"categories"}, Kind::PagedList},
      // Posts and record writes
      {"POST", false, {"beaconvisits"}, Kind::Write},
      {"POST", false, {"events"}, Kind::Write},
      {"POST", false, {"beacontransfer"}, Kind::Write},
      {"POST", false, {"sites"}, Kind::Write},
      {"POST", false, {"teams"}, Kind::Write},
      {"POST", false, {"apps"}, Kind::Write},
      {"POST", false, {"categories"}, Kind::Write},
      {"POST", false, {"teaminvites"}, Kind::Write},
      {"PUT", false, {"beacons", "{}"}, Kind::Write},
      {"PUT", false, {"beacons", "{}", "versions", "{}", "confirm"}, Kind::Write},
      {"PUT", false, {"beacons", "{}", "versions", "confirm"}, Kind::Write},
      {"PUT", false, {"teams", "{}", "sites", "{}"}, Kind::Write},
      {"PUT", false, {"teams", "{}"}, Kind::Write},
      {"PUT", false, {"apps", "{}"}, Kind::Write},
      {"PUT", false, {"categories", "{}"}, Kind::Write},
      {"DELETE", false, {"sites", "{}"}, Kind::Write},
      {"DELETE", false, {"teams", "{}"}, Kind::Write},
      {"DELETE", false, {"apps", "{}"}, Kind::Write},
      {"DELETE", false, {"categories", "{}"}, Kind::Write},
      {"GET", false, {"beacons", "{}", "versions", "latest", "settings"}, Kind::Settings},
      // Firmware: records, images, future settings and the confirmation
      {"GET", false, {"beacons", "{}", "firmware", "{}"}, Kind::Record},
      {"GET", false, {"beaconModels", "{}", "firmware", "{}"}, Kind::Record},
      {"GET", false, {"beacons", "{}", "firmware", "{}", "ota"}, Kind::Download},
      {"GET", false, {"beacons", "{}", "firmware", "{}", "hex"}, Kind::Download},
      {"GET", false, {"beacons", "{}", "versions", "{}", "futuresettings"}, Kind::Record},
      {"PUT", false, {"beacons", "{}", "firmware", "{}", "confirm"}, Kind::Write},
  };
  return table;
}

BeaconCloudFake::BeaconCloudFake() : server_(std::make_unique<LoopbackHttpServer>()) {
  server_->setFallbackHandler([this](const LoopbackHttpServer::RecordedRequest& request) { return handle(request); });
}

BeaconCloudFake::~BeaconCloudFake() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  released_.notify_all();
  // The server's threads call handle(): stop them before the tables go.
  server_.reset();
}

std::string BeaconCloudFake::baseUrl() const { return server_->baseUrl() + "/api/"; }
std::string BeaconCloudFake::rootUrl() const { return server_->baseUrl(); }

std::string BeaconCloudFake::keyFor(bool absolute, const std::vector<std::string>& segments) {
  std::string key = absolute ? "" : "/api";
  for (const auto& s : segments) key += "/" + s;
  return key;
}

const BeaconCloudFake::Route* BeaconCloudFake::match(std::string_view method, bool absolute,
                                                     const std::vector<std::string>& segments) {
  for (const auto& route : routes()) {
    if (route.method != method || route.absolute != absolute || route.pattern.size() != segments.size()) continue;
    bool ok = true;
    for (std::size_t i = 0; i < segments.size() && ok; ++i) {
      ok = route.pattern[i] == "{}" || route.pattern[i] == segments[i];
    }
    if (ok) return &route;
  }
  return nullptr;
}

std::pair<bool, std::vector<std::string>> BeaconCloudFake::split(std::string_view clientPath) {
  bool absolute = !clientPath.empty() && clientPath.front() == '/';
  return {absolute, splitSegments(clientPath, true)};
}

void BeaconCloudFake::putRecord(std::string_view path, std::string key, platform::Value object) {
  auto [absolute, segments] = split(path);
  const Route* route = match("GET", absolute, segments);
  if (!route || (route->kind != Kind::Record && route->kind != Kind::Settings)) {
    throw std::invalid_argument("no record route: " + std::string(path));
  }
  std::lock_guard lock(mutex_);
  data_[keyFor(absolute, segments)] = Data{std::move(key), std::move(object), {}};
}

void BeaconCloudFake::putList(std::string_view path, std::string key, platform::Array items) {
  auto [absolute, segments] = split(path);
  const Route* route = match("GET", absolute, segments);
  if (!route || (route->kind != Kind::PagedList && route->kind != Kind::PlainList)) {
    throw std::invalid_argument("no list route: " + std::string(path));
  }
  std::lock_guard lock(mutex_);
  data_[keyFor(absolute, segments)] = Data{std::move(key), {}, std::move(items)};
}

void BeaconCloudFake::removeData(std::string_view path) {
  auto [absolute, segments] = split(path);
  std::lock_guard lock(mutex_);
  data_.erase(keyFor(absolute, segments));
}

void BeaconCloudFake::setServerPerPage(std::optional<std::uint64_t> perPage) {
  std::lock_guard lock(mutex_);
  serverPerPage_ = perPage;
}

void BeaconCloudFake::setWriteReply(std::string_view method, std::string_view path, int status, platform::Value body) {
  auto [absolute, segments] = split(path);
  if (!match(method, absolute, segments)) throw std::invalid_argument("no route: " + std::string(path));
  std::lock_guard lock(mutex_);
  writeReplies_[std::string(method) + " " + keyFor(absolute, segments)] = WriteReply{status, std::move(body)};
}

void BeaconCloudFake::setFault(std::string_view method, std::string_view path, Fault fault) {
  auto [absolute, segments] = split(path);
  if (!match(method, absolute, segments)) throw std::invalid_argument("no route: " + std::string(path));
  std::lock_guard lock(mutex_);
  faults_[std::string(method) + " " + keyFor(absolute, segments)] = std::move(fault);
}

void BeaconCloudFake::clearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void BeaconCloudFake::putDownload(std::string_view path, std::string body,
                                  std::vector<std::pair<std::string, std::string>> headers) {
  auto [absolute, segments] = split(path);
  const Route* route = match("GET", absolute, segments);
  if (!route || route->kind != Kind::Download) throw std::invalid_argument("no download route: " + std::string(path));
  std::lock_guard lock(mutex_);
  downloads_[keyFor(absolute, segments)] = DownloadBody{std::move(body), std::move(headers)};
}

void BeaconCloudFake::setLoginSecret(platform::Bytes secret) {
  std::lock_guard lock(mutex_);
  loginSecret_ = std::move(secret);
}

void BeaconCloudFake::setSettingsSecret(platform::Bytes secret) {
  std::lock_guard lock(mutex_);
  settingsSecret_ = std::move(secret);
}

void BeaconCloudFake::setSettingsPayload(platform::Bytes payload) {
  payload.resize((payload.size() + 15) / 16 * 16, 0x00);
  std::lock_guard lock(mutex_);
  settingsPayload_ = std::move(payload);
}

std::optional<platform::Bytes> BeaconCloudFake::issuedSettingsMac(const std::string& beaconID) const {
  std::lock_guard lock(mutex_);
  auto it = issuedMacs_.find(beaconID);
  if (it == issuedMacs_.end()) return std::nullopt;
  return it->second;
}

std::vector<platform::Bytes> BeaconCloudFake::statusReports() const {
  std::lock_guard lock(mutex_);
  return statusReports_;
}

void BeaconCloudFake::releaseHeld() {
  {
    std::lock_guard lock(mutex_);
    ++releases_;
  }
  released_.notify_all();
}

std::vector<BeaconCloudFake::LoggedRequest> BeaconCloudFake::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::size_t BeaconCloudFake::hits(std::string_view method, std::string_view path) const {
  auto [absolute, segments] = split(path);
  std::string wanted = keyFor(absolute, segments);
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(log_.begin(), log_.end(), [&](const LoggedRequest& r) {
    return r.method == method && r.path == wanted;
  }));
}

void BeaconCloudFake::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

LoopbackHttpServer::Reply BeaconCloudFake::handle(const LoopbackHttpServer::RecordedRequest& request) {
  LoggedRequest entry;
  entry.method = request.method;
  entry.rawTarget = request.target;
  entry.headers = request.headers;
  entry.body = request.body;
  std::string_view target = request.target;
  std::string_view rawPath = target.substr(0, target.find('?'));
  if (auto q = target.find('?'); q != std::string_view::npos) {
    std::string_view query = target.substr(q + 1);
    std::size_t start = 0;
    while (start <= query.size()) {
      auto amp = query.find('&', start);
      auto pair = query.substr(start, amp == std::string_view::npos ? std::string_view::npos : amp - start);
      if (!pair.empty()) {
        auto eq = pair.find('=');
        std::string name = percentDecode(pair.substr(0, eq));
        std::string value = eq == std::string_view::npos ? "" : percentDecode(pair.substr(eq + 1));
        entry.query[name] = value;
      }
      if (amp == std::string_view::npos) break;
      start = amp + 1;
    }
  }
  std::vector<std::string> all = splitSegments(rawPath, true);
  entry.path.clear();
  for (const auto& s : all) entry.path += "/" + s;
  if (entry.path.empty()) entry.path = "/";
  bool absolute = all.empty() || all.front() != "api";
  entry.segments = absolute ? all : std::vector<std::string>(all.begin() + 1, all.end());
  if (!entry.body.empty()) {
    if (auto parsed = platform::json::parse(entry.body)) entry.json = std::move(*parsed);
  }

  const Route* route = match(entry.method, absolute, entry.segments);
  const std::string key = keyFor(absolute, entry.segments);
  std::optional<std::uint64_t> page;
  if (auto it = entry.query.find("page"); it != entry.query.end()) page = parseUnsigned(it->second);

  std::optional<Fault> fault;
  std::optional<Data> data;
  std::optional<WriteReply> writeReply;
  std::optional<DownloadBody> download;
  std::optional<std::uint64_t> serverPerPage;
  platform::Bytes loginSecret;
  std::optional<platform::Bytes> settingsBlob;
  bool resultRefused = false;
  {
    std::unique_lock lock(mutex_);
    log_.push_back(entry);
    loginSecret = loginSecret_;
    if (route && route->kind == Kind::Write && entry.segments.size() == 4 && entry.segments[3] == "confirm") {
      std::string text = entry.query.count("status") ? entry.query.at("status") : "";
      std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
      statusReports_.push_back(platform::crypto::base64Decode(text).value_or(platform::Bytes{}));
      // A settings result must answer the blob the beacon was given.
      auto issued = issuedMacs_.find(entry.segments[1]);
      if (issued != issuedMacs_.end() && statusReports_.back().size() == 16) {
        resultRefused = statusReports_.back() !=
                        platform::sim::SimEncryptedSettingsSink::resultFor(settingsSecret_, issued->second);
      }
    }
    if (route && route->kind == Kind::Settings && !data_.count(key) && settingsSecret_.size() == 16) {
      const std::string status = entry.query.count("status") ? entry.query.at("status") : "";
      const auto iv = platform::crypto::digest(platform::crypto::DigestAlgorithm::MD5, status);
      const auto ciphertext = platform::crypto::aes128CbcEncrypt(settingsSecret_, iv, settingsPayload_);
      platform::Bytes blob(iv.begin(), iv.end());
      if (ciphertext) blob.insert(blob.end(), ciphertext->begin(), ciphertext->end());
      const auto mac = platform::crypto::aesCmac(settingsSecret_, blob);
      if (ciphertext && mac) {
        blob.insert(blob.end(), mac->begin(), mac->end());
        issuedMacs_[entry.segments[1]] = platform::Bytes(mac->begin(), mac->end());
        settingsBlob = std::move(blob);
      }
    }
    if (auto it = faults_.find(entry.method + " " + key); it != faults_.end()) {
      Fault& f = it->second;
      bool pageMatches = !f.page || f.page == page.value_or(1);
      if (pageMatches && f.times != 0) {
        fault = f;
        if (f.times > 0) --f.times;
      }
    }
    if (auto it = data_.find(key); it != data_.end()) data = it->second;
    if (auto it = downloads_.find(key); it != downloads_.end()) download = it->second;
    if (auto it = writeReplies_.find(entry.method + " " + key); it != writeReplies_.end()) writeReply = it->second;
    serverPerPage = serverPerPage_;
    if (fault && fault->kind == Fault::Kind::Hold) {
      const std::uint64_t ticket = releases_;
      released_.wait(lock, [&] { return releases_ != ticket || closing_; });
    }
  }

  Reply reply;
  if (!route) {
    reply = jsonReply(404, platform::Value::makeDict({{"error", "no such route"}}));
  } else if (fault && fault->status != 0) {
    reply = jsonReply(fault->status, platform::Value::makeDict({{"error", "scripted failure"}}));
  } else if (resultRefused) {
    reply = jsonReply(400, platform::Value::makeDict({{"error", "settings result does not match"}}));
  } else if (route->kind == Kind::Settings && !data) {
    if (settingsBlob) {
      reply = jsonReply(200, platform::Value::makeDict({{"settings", platform::crypto::base64Encode(*settingsBlob)}}));
    } else {
      reply = jsonReply(404, platform::Value::makeDict({{"error", "no settings for this beacon"}}));
    }
  } else if (route->kind == Kind::Milk && writeReply) {
    reply = jsonReply(writeReply->status, writeReply->body);
  } else if (route->kind == Kind::Milk) {
    auto water = platform::crypto::base64Decode(entry.query.count("water") ? entry.query.at("water") : "");
    if (loginSecret.empty()) {
      reply = jsonReply(404, platform::Value::makeDict({{"error", "no milk for this beacon"}}));
    } else if (!water) {
      reply = jsonReply(400, platform::Value::makeDict({{"error", "water is not base64"}}));
    } else {
      const auto milk = platform::sim::SimLoginResponder::cloudAnswer(loginSecret, *water);
      reply = jsonReply(200, platform::Value::makeDict({{"milk", platform::crypto::base64Encode(milk)}}));
    }
  } else if (route->kind == Kind::Download) {
    if (!download) {
      reply = jsonReply(404, platform::Value::makeDict({{"error", "no such firmware image"}}));
    } else {
      reply.status = 200;
      reply.body = download->body;
      reply.headers.emplace_back("Content-Type", "application/octet-stream");
      for (const auto& h : download->headers) reply.headers.push_back(h);
    }
  } else if (route->kind == Kind::Write) {
    if (writeReply) {
      reply = jsonReply(writeReply->status, writeReply->body);
    } else {
      reply = jsonReply(200, entry.method == "DELETE" || entry.json.isAbsent() ? platform::Value(platform::Dict{})
                                                                               : entry.json);
    }
  } else if (!data) {
    reply = jsonReply(404, platform::Value::makeDict({{"error", "not found"}}));
  } else if (route->kind == Kind::Record || route->kind == Kind::Settings) {
    platform::Value body;
    body.set(data->key, data->object);
    reply = jsonReply(200, body);
  } else {
    platform::Array items = data->items;
    platform::Value body;
    if (route->kind == Kind::PagedList) {
      std::uint64_t perPage = 100;
      if (auto it = entry.query.find("perPage"); it != entry.query.end()) perPage = parseUnsigned(it->second).value_or(100);
      if (serverPerPage) perPage = *serverPerPage;
      if (perPage == 0) perPage = 100;
      const std::uint64_t n = items.size();
      const std::uint64_t pageCount = (n + perPage - 1) / perPage;
      const std::uint64_t p = std::max<std::uint64_t>(page.value_or(1), 1);
      platform::Array slice;
      for (std::uint64_t i = (p - 1) * perPage; i < n && i < p * perPage; ++i) slice.push_back(items[i]);
      items = std::move(slice);
      if (!(fault && fault->kind == Fault::Kind::NoPagination)) {
        body.set("pagination", platform::Value::makeDict({{"pageCount", pageCount},
                                                           {"objectCount", n},
                                                           {"perPage", perPage}}));
      }
    }
    if (fault && fault->kind == Fault::Kind::BadItem && !items.empty()) items.front() = "malformed record";
    body.set(data->key, platform::Value(std::move(items)));
    reply = jsonReply(200, body);
  }

  if (fault) {
    if (fault->retryAfter) reply.headers.emplace_back("Retry-After", *fault->retryAfter);
    reply.delay = fault->delay;
    switch (fault->kind) {
      case Fault::Kind::Stall: reply.mode = Reply::Mode::Stall; break;
      case Fault::Kind::Close: reply.mode = Reply::Mode::Close; break;
      case Fault::Kind::Reset: reply.mode = Reply::Mode::Reset; break;
      case Fault::Kind::Truncate: reply.mode = Reply::Mode::Truncate; break;
      case Fault::Kind::WrongContentType:
        reply.status = 200;
        reply.headers.emplace_back("Content-Type", "text/html");
        reply.body = "<html><body>Service page</body></html>";
        break;
      case Fault::Kind::Garbage:
        reply.status = 200;
        reply.body = "{\"pagination\": <<garbage";
        break;
      case Fault::Kind::None:
      case Fault::Kind::Hold:
      case Fault::Kind::NoPagination:
      case Fault::Kind::BadItem:
        break;
    }
  }
  return reply;
}

}  // namespace velmora::testing
