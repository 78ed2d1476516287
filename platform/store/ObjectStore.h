#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/Error.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/store/StoreContext.h"
#include "platform/store/StoreModel.h"

namespace SQLite {
class Database;
}

namespace platform::store {

// How opening went.
enum class OpenOutcome {
  Created,    // no store was there: an empty one was made
  Opened,     // the file held this model's schema
  Migrated,   // the file held an older model that this one only adds to; rows kept
  Recreated,  // the file was no database or held a schema this model cannot take: it and its
              // -wal, -shm and -journal files were deleted and an empty store made
};

// An object store on one SQLite file: the model's schema, one connection in WAL mode with
// foreign keys on, and one private serial queue that owns the connection. All work runs
// on that queue through perform (async) or performAndWait (blocks; runs at once when the
// caller is already on the queue, so it nests).
class ObjectStore : public std::enable_shared_from_this<ObjectStore> {
 public:
  // Opens or creates the store at `file`, making the folder when it is missing. A file that
  // is no database, or whose schema this model can neither open nor migrate in place, is
  // replaced. Nullptr with *error when no store can be had at that place (a folder that
  // cannot be written, say); nothing is deleted for faults of that kind.
  static std::shared_ptr<ObjectStore> open(Model model, std::filesystem::path file,
                                           std::shared_ptr<dispatch::Scheduler> scheduler, Error* error = nullptr,
                                           std::string queueLabel = "platform.store");
  ~ObjectStore();
  ObjectStore(const ObjectStore&) = delete;
  ObjectStore& operator=(const ObjectStore&) = delete;

  void perform(std::function<void(StoreContext&)> work);
  void performAndWait(const std::function<void(StoreContext&)>& work);
  bool isCurrent() const { return queue_->isCurrent(); }

  const Model& model() const { return model_; }
  const std::filesystem::path& file() const { return file_; }
  OpenOutcome outcome() const { return outcome_; }
  const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

 private:
  struct Token {};

 public:
  ObjectStore(Token, Model model, std::filesystem::path file, std::unique_ptr<SQLite::Database> db,
              std::shared_ptr<dispatch::Queue> queue, OpenOutcome outcome);

 private:
  const Model model_;
  const std::filesystem::path file_;
  std::unique_ptr<SQLite::Database> db_;
  std::shared_ptr<dispatch::Queue> queue_;
  OpenOutcome outcome_;
  std::unique_ptr<StoreContext> context_;
};

// Deletes a store file and its -wal, -shm and -journal companions; missing ones are fine.
void removeStoreFiles(const std::filesystem::path& file);

}  // namespace platform::store
