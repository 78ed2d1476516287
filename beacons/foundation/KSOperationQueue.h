#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "beacons/foundation/KSOperation.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {

// Runs operations: starts each, in the order added, once it is ready and fewer than the
// maximum are running; lets go of it once it has finished, or as soon as it is cancelled
// when it had not started (a cancelled operation is never started). The queue learns of
// every change through the operation's state observers.
//
// start() is called on a concurrent queue of the scheduler (the shared one unless given);
// the operation's own hooks then run on the operation thread.
class KSOperationQueue : public std::enable_shared_from_this<KSOperationQueue> {
 public:
  // No limit on running operations.
  static constexpr long kUnlimited = -1;

  static std::shared_ptr<KSOperationQueue> create(std::string name = {},
                                                  std::shared_ptr<platform::dispatch::Scheduler> scheduler = nullptr);
  ~KSOperationQueue();
  KSOperationQueue(const KSOperationQueue&) = delete;
  KSOperationQueue& operator=(const KSOperationQueue&) = delete;

  const std::string& name() const { return name_; }
  long maxConcurrentOperationCount() const;
  // 0 or less than kUnlimited counts as 1.
  void setMaxConcurrentOperationCount(long count);

  // Adds an operation. One that has finished or was cancelled, or that is already in a queue,
  // is refused as a programming error.
  void addOperation(const std::shared_ptr<KSOperation>& operation);
  // The operations the queue holds, in the order they were added.
  std::vector<std::shared_ptr<KSOperation>> operations() const;
  std::size_t operationCount() const;
  void cancelAllOperations();

 private:
  struct Token {};

 public:
  KSOperationQueue(Token, std::string name, std::shared_ptr<platform::dispatch::Scheduler> scheduler);

 private:
  struct Entry {
    std::shared_ptr<KSOperation> operation;
    std::size_t observerToken = 0;
    bool started = false;
  };

  void stateChanged(KSOperation& operation);
  void afterStart(const KSOperation* operation);
  // Picks the operations that may start now (under mutex_); the caller starts them after
  // letting the lock go.
  std::vector<std::shared_ptr<KSOperation>> takeStartableLocked();
  void startAll(std::vector<std::shared_ptr<KSOperation>> operations);

  const std::string name_;
  const std::shared_ptr<platform::dispatch::Queue> worker_;

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::size_t running_ = 0;
  long maxConcurrent_ = kUnlimited;
};

}  // namespace velmora::kestrine
