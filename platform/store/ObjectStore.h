#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/dispatch/Scheduler.h"
#include "platform/store/StoreContext.h"
#include "platform/store/StoreModel.h"

namespace SQLite {
class Database;
}

namespace velmora::platform::store {

// How opening went.
enum class OpenOutcome {
  Created,    // no store was there: an empty one was made
  Opened,     // the file held this model's schema
  Migrated,   // the file held an older model that this one only adds to; rows kept
  Recreated,  // the file was no database, could not be written, or held a schema this model
              // cannot take (not even by migration): it and its
              // -wal, -shm and -journal files were deleted and an empty store made
};

// An object store on one SQLite file: the model's schema, one connection in WAL mode with
// foreign keys on, and one private serial queue that owns the connection. A store is the
// file's only owner: it holds the file's lock (the file's name with "-lock", beside it) for
// its life, so a second store on the same file, in this process or another, fails to open
// with a clear error rather than losing its writes to the first one's open unit of work. All work runs
// on that queue through perform (async) or performAndWait (blocks; runs at once when the
// caller is already on the queue, so it nests), in the order submitted.
//
// Work performed while earlier performed work is still waiting joins it in one queue item
// (one hop for a run of writes, not one per write); a performAndWait from off the queue
// closes that batch, so what is performed after it runs after it.
class ObjectStore : public std::enable_shared_from_this<ObjectStore> {
 public:
  // Opens or creates the store at `file`, making the folder when it is missing. A file that
  // is no database, that cannot be written, or whose schema this model can neither open nor
  // migrate in place (a migration that fails included), is replaced with its sidecars.
  // Nullptr with *error when no store can be had at that place (a folder that cannot be
  // written, a file another store owns, say); nothing is deleted for faults of that kind.
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

 private:
  struct Token {};

 public:
  ObjectStore(Token, Model model, std::filesystem::path file, std::unique_ptr<SQLite::Database> db,
              std::shared_ptr<dispatch::Queue> queue, OpenOutcome outcome, int lockFile);

 private:
  using Work = std::function<void(StoreContext&)>;
  // Performed work waiting for its queue item, in order.
  struct Batch {
    std::vector<Work> works;  // under batchMutex_
  };
  struct BatchItem;
  // Runs the batch's work until none is left, then closes the batch if it is still open.
  void run(Batch& batch);
  // The batch's item was dropped unrun (its queue shut down): so is its work.
  void drop(Batch& batch);

  const Model model_;
  const std::filesystem::path file_;
  std::unique_ptr<SQLite::Database> db_;
  std::shared_ptr<dispatch::Queue> queue_;
  OpenOutcome outcome_;
  const int lockFile_;  // held locked for the store's life
  std::unique_ptr<StoreContext> context_;
  std::mutex batchMutex_;
  std::shared_ptr<Batch> openBatch_;  // the batch new work joins; none while none waits
};

// Deletes a store file and its -wal, -shm and -journal companions; missing ones are fine.
// The -lock file stays: another opener may hold it, and a new one would let two stores in.
void removeStoreFiles(const std::filesystem::path& file);

}  // namespace velmora::platform::store
