#include "beacons/foundation/KSOperation.h"

#include <cxxabi.h>
#include <fmt/format.h>

#include <cstdlib>
#include <typeinfo>

#include "platform/core/Log.h"
#include "platform/dispatch/Scheduler.h"

namespace velmora::kestrine {
namespace {

std::string className(const std::type_info& type) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string name = status == 0 && demangled ? demangled : type.name();
  std::free(demangled);
  if (auto colon = name.rfind("::"); colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

bool isKnownState(std::int16_t state) {
  switch (state) {
    case KSOperationStatePaused:
    case KSOperationStateReady:
    case KSOperationStateExecuting:
    case KSOperationStateFinished:
    case KSOperationStateCancelled:
      return true;
    default:
      return false;
  }
}

}  // namespace

KSOperation::KSOperation() { setState(KSOperationStateReady); }

KSOperation::~KSOperation() = default;

bool KSOperation::isReady() const {
  // Operations here have no dependencies, so readiness is the state alone.
  return state() == KSOperationStateReady;
}

std::string_view KSOperation::keyForState(std::int16_t state) {
  switch (state) {
    case KSOperationStatePaused: return "isPaused";
    case KSOperationStateReady: return "isReady";
    case KSOperationStateExecuting: return "isExecuting";
    case KSOperationStateFinished: return "isFinished";
    case KSOperationStateCancelled: return "isCancelled";
    default: return "state";
  }
}

bool KSOperation::isTransitionAllowed(std::int16_t from, std::int16_t to) {
  if (!isKnownState(from)) return true;
  switch (from) {
    case KSOperationStatePaused:
      return to == KSOperationStateReady;
    case KSOperationStateReady:
      // Finished only from cancelled, which ready is not.
      return to == KSOperationStatePaused || to == KSOperationStateExecuting || to == KSOperationStateCancelled;
    case KSOperationStateExecuting:
      return to == KSOperationStateFinished || to == KSOperationStatePaused;
    case KSOperationStateFinished:
      return false;
    case KSOperationStateCancelled:
      return true;
    default:
      return false;
  }
}

void KSOperation::setState(std::int16_t newState) {
  std::lock_guard guard(lock_);
  const std::int16_t oldState = state();
  if (!isTransitionAllowed(oldState, newState)) return;
  const auto newKey = keyForState(newState);
  const auto oldKey = keyForState(oldState);
  notify(newKey, true);
  notify(oldKey, true);
  state_.store(newState, std::memory_order_release);
  notify(oldKey, false);
  notify(newKey, false);
}

void KSOperation::notify(std::string_view key, bool prior) {
  if (observers_.empty()) return;
  // A copy, so an observer may add or remove observers while it is told.
  auto observers = observers_;
  for (const auto& [token, observer] : observers) (*observer)(*this, key, prior);
}

std::size_t KSOperation::addStateObserver(StateObserver observer) {
  std::lock_guard guard(lock_);
  const std::size_t token = nextObserverToken_++;
  observers_.emplace_back(token, std::make_shared<StateObserver>(std::move(observer)));
  return token;
}

void KSOperation::removeStateObserver(std::size_t token) {
  std::lock_guard guard(lock_);
  std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

std::shared_ptr<KSOperationDelegate> KSOperation::delegate() const {
  std::lock_guard guard(lock_);
  return delegate_.lock();
}

void KSOperation::setDelegate(const std::shared_ptr<KSOperationDelegate>& delegate) {
  std::lock_guard guard(lock_);
  delegate_ = delegate;
}

void KSOperation::start() {
  auto self = weak_from_this().lock();
  if (!platform::precondition(self != nullptr, "operation is owned by a shared_ptr")) return;
  std::lock_guard guard(lock_);
  if (!isReady()) return;
  auto delegate = delegate_.lock();
  if (delegate && delegate->operationShouldStart(self)) {
    setState(KSOperationStateExecuting);
  } else {
    cancelWithoutLocking();
  }
  operationThread()->async([self] { self->operationDidStart(); });
}

void KSOperation::operationDidStart() {
  std::lock_guard guard(lock_);
  // Cancelled, or already finished by its owner between start and now: the work never runs.
  if (isCancelled() || isFinished()) {
    finishWithoutLocking();
    return;
  }
  if (!doOperation()) finishWithoutLocking();
}

bool KSOperation::doOperation() { return false; }

void KSOperation::cancelOperation() {}

void KSOperation::cancelRequest() { cancelOperation(); }

void KSOperation::finish() {
  auto self = weak_from_this().lock();  // the observers may drop the last other reference
  std::lock_guard guard(lock_);
  finishWithoutLocking();
}

void KSOperation::finishWithoutLocking() {
  const std::int16_t current = state();
  if (current == KSOperationStateFinished) return;
  // An operation that never ran cannot go straight to finished; it is cancelled on the way,
  // so a queue that still holds it lets go of it and never starts it.
  if (current == KSOperationStatePaused) setState(KSOperationStateReady);
  if (state() == KSOperationStateReady) setState(KSOperationStateCancelled);
  setState(KSOperationStateFinished);
  if (auto delegate = delegate_.lock()) {
    if (auto self = weak_from_this().lock()) delegate->operationDidFinish(self);
  }
}

void KSOperation::cancel() {
  auto self = weak_from_this().lock();
  std::lock_guard guard(lock_);
  cancelWithoutLocking();
}

void KSOperation::cancelWithoutLocking() {
  const std::int16_t current = state();
  if (current == KSOperationStateFinished || current == KSOperationStateCancelled ||
      current == KSOperationStateExecuting) {
    return;
  }
  setState(KSOperationStateCancelled);
  if (auto self = weak_from_this().lock()) {
    operationThread()->async([self] { self->cancelRequest(); });
    if (auto delegate = delegate_.lock()) delegate->operationDidCancel(self);
  }
}

std::string KSOperation::description() const {
  return fmt::format("<{}: {}, state: {}, cancelled: {}>", className(typeid(*this)), fmt::ptr(this),
                     keyForState(state()), isCancelled() ? "YES" : "NO");
}

std::shared_ptr<platform::dispatch::Queue> KSOperation::operationThread() {
  struct Slot {
    std::mutex mutex;
    std::weak_ptr<platform::dispatch::Scheduler> scheduler;
    std::shared_ptr<platform::dispatch::Queue> queue;
  };
  // Never destroyed: hooks may still be posted while the process exits.
  static auto* slot = new Slot;
  auto scheduler = platform::dispatch::Scheduler::shared();
  std::lock_guard guard(slot->mutex);
  if (!slot->queue || slot->scheduler.lock() != scheduler) {
    slot->queue = scheduler->makeSerialQueue("com.kestrine.operationThread");
    slot->scheduler = scheduler;
  }
  return slot->queue;
}

}  // namespace velmora::kestrine
