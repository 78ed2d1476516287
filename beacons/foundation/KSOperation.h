#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/foundation/KSOperationDelegate.h"
#include "platform/dispatch/Queue.h"

namespace velmora::kestrine {

enum KSOperationState : std::int16_t {
  KSOperationStatePaused = -1,
  KSOperationStateUnset = 0,
  KSOperationStateReady = 1,
  KSOperationStateExecuting = 2,
  KSOperationStateFinished = 3,
  KSOperationStateCancelled = 4,
};

inline constexpr std::string_view KSOperationLockName = "com.kestrine.operationLock";

// The base of every queued unit of asynchronous work: a state machine (ready, executing,
// finished, cancelled, paused) whose changes observers hear about, and the start, finish and
// cancel protocol with a delegate. Run by a KSOperationQueue, which starts it when it is ready
// and lets go of it when it has finished (or was cancelled before it started).
//
// start() asks the delegate whether to run; then operationDidStart() runs on the one shared
// operation thread and calls doOperation(). A subclass returns true there when its work goes
// on asynchronously and calls finish() itself when done; false finishes at once. Hooks on the
// operation thread must not block: every operation of the process shares it.
//
// Every state-changing step holds the operation's recursive lock, and the delegate calls and
// observer notifications are made while it is held.
class KSOperation : public std::enable_shared_from_this<KSOperation> {
 public:
  // Told of every accepted state change, twice per key: prior (will change) and after (did
  // change). A change from old to new sends will(new), will(old), did(old), did(new).
  using StateObserver = std::function<void(KSOperation& operation, std::string_view key, bool prior)>;

  KSOperation();
  virtual ~KSOperation();
  KSOperation(const KSOperation&) = delete;
  KSOperation& operator=(const KSOperation&) = delete;

  // Queues ask it while they hold their own lock: an override must not take the operation's
  // lock or wait for anything.
  virtual bool isReady() const;
  bool isExecuting() const { return state() == KSOperationStateExecuting; }
  bool isFinished() const { return state() == KSOperationStateFinished; }
  bool isCancelled() const { return state() == KSOperationStateCancelled; }
  bool isConcurrent() const { return true; }
  bool isAsynchronous() const { return true; }

  std::int16_t state() const { return state_.load(std::memory_order_acquire); }
  // Moves to the new state when the transition is allowed; a refused one changes nothing and
  // tells nobody.
  void setState(std::int16_t newState);

  // Runs the operation when it is ready: asks the delegate (none counts as no), then posts
  // operationDidStart to the operation thread.
  void start();
  // Ends the operation and tells the delegate, once; a second call does nothing. An operation
  // that never started goes to cancelled first, so no queue starts it afterwards.
  void finish();
  // Cancels an operation that has neither started, finished nor been cancelled: its state
  // becomes cancelled, cancelOperation runs on the operation thread and the delegate is told.
  // Subclasses that can stop running work override it.
  virtual void cancel();
  // The steps of finish and cancel for a caller that already holds lock().
  void finishWithoutLocking();
  void cancelWithoutLocking();

  std::shared_ptr<KSOperationDelegate> delegate() const;
  void setDelegate(const std::shared_ptr<KSOperationDelegate>& delegate);

  std::recursive_mutex& lock() const { return lock_; }
  std::string_view lockName() const { return KSOperationLockName; }

  std::size_t addStateObserver(StateObserver observer);
  void removeStateObserver(std::size_t token);

  // "<Class: 0x…, state: isReady, cancelled: NO>"
  std::string description() const;
  // The notification key of a state: "isPaused", "isReady", …; "state" for any other value.
  static std::string_view keyForState(std::int16_t state);
  // Whether the transition table lets the state move from one value to the other.
  static bool isTransitionAllowed(std::int16_t from, std::int16_t to);

  // The one serial queue on which the start and cancel hooks of every operation run, in the
  // order they were posted. Made on first use on the shared scheduler (again only when a
  // different scheduler has been installed since, as tests do).
  static std::shared_ptr<platform::dispatch::Queue> operationThread();

 protected:
  // Starts the work: true when it goes on and the subclass will call finish(); false to be
  // finished at once. The base does nothing and answers false.
  virtual bool doOperation();
  // Stops the work after a cancel, on the operation thread. The base does nothing.
  virtual void cancelOperation();
  // The steps run on the operation thread after start and after cancel.
  virtual void operationDidStart();
  virtual void cancelRequest();

 private:
  friend class KSOperationQueue;

  void notify(std::string_view key, bool prior);

  mutable std::recursive_mutex lock_;
  std::atomic<std::int16_t> state_{KSOperationStateUnset};
  std::weak_ptr<KSOperationDelegate> delegate_;
  std::vector<std::pair<std::size_t, std::shared_ptr<StateObserver>>> observers_;
  std::size_t nextObserverToken_ = 1;
  std::atomic<bool> enqueued_{false};  // set once by the queue that takes it
};

}  // namespace velmora::kestrine
