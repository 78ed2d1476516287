#include "platform/store/ObjectStore.h"

#include <SQLiteCpp/SQLiteCpp.h>
#include <fmt/format.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/core/Log.h"
#include "platform/store/StoreSchema.h"

namespace velmora::platform::store {

namespace {
constexpr std::string_view kLog = "store";

enum class Attempt { Ready, Replace, Unavailable };

// Whether a failure setting up the schema says something about the place rather than the
// file: the disk, the locks, the memory. Such a file is kept; any other failure (a statement
// the file's tables cannot take, a corrupt page) means the file is not this model's store.
bool isFaultOfThePlace(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_INTERRUPT:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_PERM:
    case SQLITE_AUTH: return true;
    default: return false;
  }
}

// One try at opening the file with the model's schema.
Attempt tryOpen(const Model& model, const std::filesystem::path& file, std::unique_ptr<SQLite::Database>& db,
                SchemaResult& result, std::string& why) {
  try {
    db = std::make_unique<SQLite::Database>(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    // SQLite falls back to reading a file it may not write; every write would then fail.
    if (sqlite3_db_readonly(db->getHandle(), "main") == 1) {
      why = "the store file cannot be written";
      db.reset();
      return Attempt::Replace;
    }
    // Journal mode and foreign keys cannot change inside a transaction, and must be set
    // before anything else touches the file.
    const std::string mode = db->execAndGet("PRAGMA journal_mode = WAL").getString();
    if (mode != "wal") {
      why = fmt::format("the store cannot use write-ahead logging (journal mode {})", mode);
      db.reset();
      return Attempt::Unavailable;
    }
    db->exec("PRAGMA foreign_keys = ON");
    db->exec("PRAGMA synchronous = NORMAL");
  } catch (const SQLite::Exception& e) {
    why = e.what();
    db.reset();
    const int primary = e.getErrorCode() & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT ? Attempt::Replace : Attempt::Unavailable;
  } catch (const std::exception& e) {
    why = e.what();
    db.reset();
    return Attempt::Unavailable;
  }
  try {
    result = prepareSchema(*db, model);
    if (result == SchemaResult::Incompatible) {
      why = "the file holds a schema this model cannot open";
      db.reset();
      return Attempt::Replace;
    }
    return Attempt::Ready;
  } catch (const SQLite::Exception& e) {
    // A metadata table of another layout, a migration whose statements the file's tables
    // refuse, a page that does not read: the file is not a store this model can take.
    why = fmt::format("the file's schema cannot be opened or migrated: {}", e.what());
    db.reset();
    return isFaultOfThePlace(e.getErrorCode()) ? Attempt::Unavailable : Attempt::Replace;
  } catch (const std::exception& e) {
    why = e.what();
    db.reset();
    return Attempt::Unavailable;
  }
}

// Takes the store's lock file (the store file's name with "-lock"): one store owns a file at
// a time, in this process or any other. -1 with `why` set when it cannot be had.
int takeLock(const std::filesystem::path& file, std::string& why) {
  const std::string path = file.string() + "-lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    why = fmt::format("cannot create the lock file {}: {}", path, std::strerror(errno));
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    why = err == EWOULDBLOCK ? std::string("the store file is in use by another store (in this process or another); "
                                           "it has one owner at a time")
                             : fmt::format("cannot lock {}: {}", path, std::strerror(err));
    return -1;
  }
  return fd;
}

}  // namespace

void removeStoreFiles(const std::filesystem::path& file) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::error_code ec;
    std::filesystem::remove(file.string() + suffix, ec);
  }
}

std::shared_ptr<ObjectStore> ObjectStore::open(Model model, std::filesystem::path file,
                                               std::shared_ptr<dispatch::Scheduler> scheduler, Error* error,
                                               std::string queueLabel) {
  const auto failWith = [&](std::string message) -> std::shared_ptr<ObjectStore> {
    Log::error(kLog, "cannot open the store at {}: {}", file.string(), message);
    if (error != nullptr) *error = Error(std::string(storeerror::kDomain), storeerror::kOpen, std::move(message));
    return nullptr;
  };
  if (std::string fault = model.validate(); !fault.empty()) return failWith("unsound model: " + fault);
  if (!scheduler) scheduler = dispatch::Scheduler::shared();
  std::error_code ec;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);

  std::string why;
  const int lock = takeLock(file, why);
  if (lock < 0) return failWith(why);
  const auto failUnlocking = [&](std::string message) {
    ::close(lock);
    return failWith(std::move(message));
  };

  std::unique_ptr<SQLite::Database> db;
  SchemaResult result = SchemaResult::Created;
  Attempt a = tryOpen(model, file, db, result, why);
  bool replaced = false;
  if (a == Attempt::Replace) {
    Log::warning(kLog, "replacing the store at {}: {}", file.string(), why);
    removeStoreFiles(file);
    replaced = true;
    a = tryOpen(model, file, db, result, why);
  }
  if (a != Attempt::Ready) return failUnlocking(why);

  OpenOutcome outcome = replaced ? OpenOutcome::Recreated
                        : result == SchemaResult::Created ? OpenOutcome::Created
                        : result == SchemaResult::Migrated ? OpenOutcome::Migrated
                                                           : OpenOutcome::Opened;
  auto queue = scheduler->makeSerialQueue(std::move(queueLabel));
  return std::make_shared<ObjectStore>(Token{}, std::move(model), std::move(file), std::move(db), std::move(queue),
                                       outcome, lock);
}

ObjectStore::ObjectStore(Token, Model model, std::filesystem::path file, std::unique_ptr<SQLite::Database> db,
                         std::shared_ptr<dispatch::Queue> queue, OpenOutcome outcome, int lockFile)
    : model_(std::move(model)),
      file_(std::move(file)),
      db_(std::move(db)),
      queue_(std::move(queue)),
      outcome_(outcome),
      lockFile_(lockFile) {
  context_ = std::make_unique<StoreContext>(model_, *db_, [this] { return queue_->isCurrent(); });
}

ObjectStore::~ObjectStore() {
  // No work is queued or running any more (each item holds the store), so the connection
  // can be closed from here. Unsaved changes are rolled back.
  context_.reset();
  db_.reset();
  // The file is let go only once the connection is closed.
  if (lockFile_ >= 0) ::close(lockFile_);
}

// The queue item of one batch. Copies of the item share it; when the last goes without the
// item having run, the queue dropped it and the batch's work goes with it.
struct ObjectStore::BatchItem {
  std::shared_ptr<ObjectStore> store;
  std::shared_ptr<Batch> batch;
  bool ran = false;

  ~BatchItem() {
    if (!ran) store->drop(*batch);
  }
};

void ObjectStore::perform(Work work) {
  // Declared before the lock: should the queue drop the item at once (it is shutting down),
  // this last reference lets it go, and its work with it, after the lock is released.
  std::shared_ptr<BatchItem> item;
  std::lock_guard lock(batchMutex_);
  if (openBatch_) {
    openBatch_->works.push_back(std::move(work));
    return;
  }
  // A new batch is queued before anyone can see it, so batches are queued in the order they
  // were opened, and a wait that closes one always finds it queued.
  openBatch_ = std::make_shared<Batch>();
  openBatch_->works.push_back(std::move(work));
  item = std::make_shared<BatchItem>();
  item->store = shared_from_this();
  item->batch = openBatch_;
  queue_->async([item] {
    item->ran = true;
    item->store->run(*item->batch);
  });
}

void ObjectStore::performAndWait(const std::function<void(StoreContext&)>& work) {
  if (queue_->isCurrent()) {
    work(*context_);
    return;
  }
  // Work performed before this call runs before it: its batch, already queued, is closed.
  {
    std::lock_guard lock(batchMutex_);
    openBatch_ = nullptr;
  }
  queue_->sync([&] { work(*context_); });
}

void ObjectStore::run(Batch& batch) {
  std::vector<Work> works;
  for (;;) {
    {
      std::lock_guard lock(batchMutex_);
      if (batch.works.empty()) {
        if (openBatch_.get() == &batch) openBatch_ = nullptr;
        return;
      }
      works.swap(batch.works);
    }
    for (Work& w : works) {
      w(*context_);
      w = nullptr;  // its captures go now, not with the whole run
    }
    works.clear();
  }
}

void ObjectStore::drop(Batch& batch) {
  std::vector<Work> works;
  {
    std::lock_guard lock(batchMutex_);
    if (openBatch_.get() == &batch) openBatch_ = nullptr;
    works.swap(batch.works);
  }
  // The work's captures die outside the lock.
}

}  // namespace velmora::platform::store
