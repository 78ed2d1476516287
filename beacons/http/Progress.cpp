#include "beacons/http/Progress.h"

#include <vector>

namespace velmora::kestrine {

std::shared_ptr<Progress> Progress::create(std::int64_t totalUnitCount) {
  return std::shared_ptr<Progress>(new Progress(totalUnitCount));
}

double Progress::fraction(std::int64_t completed, std::int64_t total) {
  if (total <= 0) return 0.0;
  return static_cast<double>(completed) / static_cast<double>(total);
}

std::int64_t Progress::totalUnitCount() const {
  std::lock_guard lock(mutex_);
  return total_;
}

std::int64_t Progress::completedUnitCount() const {
  std::lock_guard lock(mutex_);
  return completed_;
}

double Progress::fractionCompleted() const {
  std::lock_guard lock(mutex_);
  return fraction(completed_, total_);
}

void Progress::setTotalUnitCount(std::int64_t total) {
  std::unique_lock lock(mutex_);
  const std::int64_t completed = completed_;
  lock.unlock();
  changeCounts(total, completed);
}

void Progress::setCompletedUnitCount(std::int64_t completed) {
  std::unique_lock lock(mutex_);
  const std::int64_t total = total_;
  lock.unlock();
  changeCounts(total, completed);
}

void Progress::changeCounts(std::int64_t total, std::int64_t completed) {
  std::vector<Observer> toCall;
  {
    std::lock_guard lock(mutex_);
    const double before = fraction(completed_, total_);
    total_ = total;
    completed_ = completed;
    if (fraction(completed_, total_) == before) return;
    for (const auto& [key, observer] : observers_) toCall.push_back(observer);
  }
  for (const auto& observer : toCall) observer(*this);
}

std::uint64_t Progress::addFractionObserver(Observer observer) {
  std::lock_guard lock(mutex_);
  const std::uint64_t key = nextKey_++;
  observers_.emplace(key, std::move(observer));
  return key;
}

void Progress::removeFractionObserver(std::uint64_t key) {
  std::lock_guard lock(mutex_);
  observers_.erase(key);
}

bool Progress::isCancellable() const {
  std::lock_guard lock(mutex_);
  return cancellable_;
}
void Progress::setCancellable(bool cancellable) {
  std::lock_guard lock(mutex_);
  cancellable_ = cancellable;
}
bool Progress::isPausable() const {
  std::lock_guard lock(mutex_);
  return pausable_;
}
void Progress::setPausable(bool pausable) {
  std::lock_guard lock(mutex_);
  pausable_ = pausable;
}
bool Progress::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}
bool Progress::isPaused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}
void Progress::setCancellationHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  cancellationHandler_ = std::move(handler);
}
void Progress::setPausingHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  pausingHandler_ = std::move(handler);
}
void Progress::setResumingHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  resumingHandler_ = std::move(handler);
}

void Progress::cancel() {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (!cancellable_ || cancelled_) return;
    cancelled_ = true;
    handler = cancellationHandler_;
  }
  if (handler) handler();
}

void Progress::pause() {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (!pausable_ || paused_ || cancelled_) return;
    paused_ = true;
    handler = pausingHandler_;
  }
  if (handler) handler();
}

void Progress::resume() {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (!paused_) return;
    paused_ = false;
    handler = resumingHandler_;
  }
  if (handler) handler();
}

}  // namespace velmora::kestrine
