#include "platform/defaults/UserDefaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/core/Log.h"
#include "platform/core/Uuid.h"
#include "platform/defaults/BinaryPropertyList.h"

namespace velmora::platform {
namespace {

constexpr std::string_view kLog = "defaults";

// Temporary files are named "<file>.tmp-<random>" so a stale one is recognised at open.
std::string temporaryPrefix(const std::filesystem::path& file) { return file.filename().string() + ".tmp-"; }

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::open(std::filesystem::path file) {
  std::shared_ptr<UserDefaults> d(new UserDefaults(std::move(file)));
  d->load();
  return d;
}

UserDefaults::UserDefaults(std::filesystem::path file) : path_(std::move(file)) {}

UserDefaults::~UserDefaults() {
  bool dirty = false;
  {
    std::lock_guard lock(mutex_);
    dirty = changes_ != written_;
  }
  if (!dirty) return;
  // A failed last write is logged, never thrown: this may run among the statics at exit.
  try {
    synchronize();
  } catch (const std::exception& e) {
    Log::error(kLog, "cannot write {} on close: {}", path_.string(), e.what());
  } catch (...) {
    Log::error(kLog, "cannot write {} on close", path_.string());
  }
}

void UserDefaults::load() {
  std::error_code ec;
  const std::filesystem::path dir = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  const std::string prefix = temporaryPrefix(path_);
  for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
       it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) {
      std::error_code rm;
      std::filesystem::remove(it->path(), rm);
      Log::info(kLog, "removed the stale temporary file {}", it->path().string());
    }
  }

  if (!std::filesystem::exists(path_, ec)) return;  // no file yet: empty defaults
  if (!std::filesystem::is_regular_file(path_, ec)) {
    Log::warning(kLog, "{} is not a file; starting empty", path_.string());
    return;
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    Log::warning(kLog, "{} could not be opened; starting empty", path_.string());
    return;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<std::uint64_t>(size) > defaults::BinaryPropertyList::kMaxFileBytes) {
    Log::warning(kLog, "{} is too large to read; starting empty", path_.string());
    return;
  }
  in.seekg(0);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), size);
  if (in.gcount() != size) {
    Log::warning(kLog, "{} could not be read; starting empty", path_.string());
    return;
  }
  std::string why;
  std::vector<std::string> skipped;
  auto dict = defaults::BinaryPropertyList::decode(bytes.data(), bytes.size(), &why, &skipped);
  if (!dict) {
    Log::warning(kLog, "{} is unreadable ({}); starting empty", path_.string(), why);
    return;
  }
  for (const std::string& key : skipped) Log::warning(kLog, "{}: the value of \"{}\" cannot be read; left out", path_.string(), key);
  std::lock_guard lock(mutex_);
  values_ = std::move(*dict);
}

Value UserDefaults::objectForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? Value() : it->second;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end() || !it->second.string()) return std::nullopt;
  return *it->second.string();
}

std::optional<bool> UserDefaults::boolForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? std::nullopt : it->second.toBool();
}

std::optional<std::int64_t> UserDefaults::integerForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? std::nullopt : it->second.toInt64();
}

std::optional<double> UserDefaults::doubleForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? std::nullopt : it->second.toDouble();
}

std::optional<Date> UserDefaults::dateForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? std::nullopt : it->second.toDate();
}

std::optional<Bytes> UserDefaults::dataForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end() || !it->second.bytes()) return std::nullopt;
  return *it->second.bytes();
}

std::optional<Array> UserDefaults::arrayForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end() || !it->second.array()) return std::nullopt;
  return *it->second.array();
}

std::optional<Dict> UserDefaults::dictionaryForKey(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end() || !it->second.dict()) return std::nullopt;
  return *it->second.dict();
}

Dict UserDefaults::dictionaryRepresentation() const {
  std::lock_guard lock(mutex_);
  return values_;
}

bool UserDefaults::setObject(std::string_view key, Value value) {
  if (value.isAbsent()) {
    removeObjectForKey(key);
    return true;
  }
  if (auto why = defaults::BinaryPropertyList::refusal(key, value)) {
    Log::warning(kLog, "refused to store \"{}\": {}", key, *why);
    return false;
  }
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(std::string(key), std::move(value));
  ++changes_;
  return true;
}

void UserDefaults::removeObjectForKey(std::string_view key) {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return;
  values_.erase(it);
  ++changes_;
}

bool UserDefaults::synchronize() {
  // Snapshots are taken and written under writeMutex_, so a later snapshot never lands
  // before an earlier one.
  std::lock_guard writing(writeMutex_);
  Dict snapshot;
  std::uint64_t version = 0;
  {
    std::lock_guard lock(mutex_);
    if (changes_ == written_) return true;
    snapshot = values_;
    version = changes_;
  }
  std::string why;
  auto bytes = defaults::BinaryPropertyList::encode(snapshot, &why);
  if (!bytes) {
    Log::error(kLog, "cannot write {}: {}", path_.string(), why);
    return false;
  }
  if (!writeFile(*bytes)) return false;
  std::lock_guard lock(mutex_);
  written_ = version;
  return true;
}

bool UserDefaults::writeFile(const std::string& bytes) {
  std::error_code ec;
  const std::filesystem::path dir = path_.has_parent_path() ? path_.parent_path() : std::filesystem::path(".");
  std::filesystem::create_directories(dir, ec);
  std::string temp = (dir / (temporaryPrefix(path_) + Uuid::random().string())).string();
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    Log::error(kLog, "cannot create {}: {}", temp, std::strerror(errno));
    return false;
  }
  const bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
  const int savedErrno = errno;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), path_.c_str()) != 0) {
    Log::error(kLog, "cannot write {}: {}", path_.string(), std::strerror(ok ? errno : savedErrno));
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace velmora::platform
