#include "beacons/foundation/KSOperationQueue.h"

#include <algorithm>

#include "platform/core/Log.h"

namespace velmora::kestrine {

std::shared_ptr<KSOperationQueue> KSOperationQueue::create(
    std::string name, std::shared_ptr<platform::dispatch::Scheduler> scheduler) {
  return std::make_shared<KSOperationQueue>(Token{}, std::move(name), std::move(scheduler));
}

KSOperationQueue::KSOperationQueue(Token, std::string name, std::shared_ptr<platform::dispatch::Scheduler> scheduler)
    : name_(std::move(name)),
      worker_((scheduler ? scheduler : platform::dispatch::Scheduler::shared())->makeConcurrentQueue(name_)) {}

KSOperationQueue::~KSOperationQueue() {
  // Operations may outlive the queue; their observers of it are dropped.
  for (auto& entry : entries_) entry.operation->removeStateObserver(entry.observerToken);
}

long KSOperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard guard(mutex_);
  return maxConcurrent_;
}

void KSOperationQueue::setMaxConcurrentOperationCount(long count) {
  std::vector<std::shared_ptr<KSOperation>> toStart;
  {
    std::lock_guard guard(mutex_);
    maxConcurrent_ = count < 0 ? kUnlimited : std::max(count, 1L);
    toStart = takeStartableLocked();
  }
  startAll(std::move(toStart));
}

void KSOperationQueue::addOperation(const std::shared_ptr<KSOperation>& operation) {
  if (!platform::precondition(operation != nullptr, "operation != nil")) return;
  if (operation->enqueued_.exchange(true)) {
    platform::reportProgrammingError(
        fmt::format("{} is already in an operation queue; not added to {}", operation->description(), name_));
    return;
  }
  std::weak_ptr<KSOperationQueue> weakQueue = weak_from_this();
  const std::size_t token = operation->addStateObserver(
      [weakQueue](KSOperation& op, std::string_view key, bool prior) {
        // One reaction per change: the did-change of the key of the state just entered.
        if (prior || key != KSOperation::keyForState(op.state())) return;
        if (auto queue = weakQueue.lock()) queue->stateChanged(op);
      });
  std::vector<std::shared_ptr<KSOperation>> toStart;
  {
    std::lock_guard guard(mutex_);
    const auto state = operation->state();
    if (state == KSOperationStateFinished || state == KSOperationStateCancelled) {
      platform::reportProgrammingError(
          fmt::format("{} has finished or was cancelled; not added to {}", operation->description(), name_));
    } else {
      entries_.push_back(Entry{operation, token, false});
      toStart = takeStartableLocked();
    }
  }
  startAll(std::move(toStart));
}

std::vector<std::shared_ptr<KSOperation>> KSOperationQueue::operations() const {
  std::lock_guard guard(mutex_);
  std::vector<std::shared_ptr<KSOperation>> result;
  result.reserve(entries_.size());
  for (const auto& entry : entries_) result.push_back(entry.operation);
  return result;
}

std::size_t KSOperationQueue::operationCount() const {
  std::lock_guard guard(mutex_);
  return entries_.size();
}

void KSOperationQueue::cancelAllOperations() {
  for (const auto& operation : operations()) operation->cancel();
}

// Called while the operation's lock is held, from its state change.
void KSOperationQueue::stateChanged(KSOperation& operation) {
  std::shared_ptr<KSOperation> released;  // let go after the queue's lock
  std::vector<std::shared_ptr<KSOperation>> toStart;
  {
    std::lock_guard guard(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.operation.get() == &operation; });
    if (it == entries_.end()) return;
    const auto state = operation.state();
    const bool leaves =
        state == KSOperationStateFinished || (state == KSOperationStateCancelled && !it->started);
    if (leaves) {
      if (it->started) --running_;
      released = std::move(it->operation);
      entries_.erase(it);
    }
    if (leaves || state == KSOperationStateReady) toStart = takeStartableLocked();
  }
  startAll(std::move(toStart));
}

std::vector<std::shared_ptr<KSOperation>> KSOperationQueue::takeStartableLocked() {
  std::vector<std::shared_ptr<KSOperation>> toStart;
  for (auto& entry : entries_) {
    if (maxConcurrent_ != kUnlimited && running_ >= static_cast<std::size_t>(maxConcurrent_)) break;
    if (entry.started || !entry.operation->isReady()) continue;
    entry.started = true;
    ++running_;
    toStart.push_back(entry.operation);
  }
  return toStart;
}

void KSOperationQueue::startAll(std::vector<std::shared_ptr<KSOperation>> operations) {
  for (auto& operation : operations) {
    worker_->async([weakQueue = weak_from_this(), operation] {
      operation->start();
      if (auto queue = weakQueue.lock()) queue->afterStart(operation.get());
    });
  }
}

// An operation that did not take its start (it stopped being ready before its turn came)
// gives its slot back and is started again when it becomes ready.
void KSOperationQueue::afterStart(const KSOperation* operation) {
  std::shared_ptr<KSOperation> released;  // let go after the queue's lock
  std::vector<std::shared_ptr<KSOperation>> toStart;
  {
    std::lock_guard guard(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.operation.get() == operation; });
    if (it == entries_.end() || !it->started) return;
    const auto state = operation->state();
    if (state == KSOperationStateCancelled) {
      // Cancelled after its turn came but before its start ran: it never ran and never will,
      // so it leaves now (nothing else would take it out, and it would hold its slot).
      --running_;
      released = std::move(it->operation);
      entries_.erase(it);
    } else if (state == KSOperationStateReady || state == KSOperationStatePaused) {
      it->started = false;
      --running_;
    } else {
      return;
    }
    toStart = takeStartableLocked();
  }
  startAll(std::move(toStart));
}

}  // namespace velmora::kestrine
