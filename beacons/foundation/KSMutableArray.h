#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "beacons/foundation/KSElementEquality.h"
#include "platform/core/Log.h"

namespace velmora::kestrine {

// A mutable array that any number of threads may share without locking of their own.
//
// Reads may run side by side; a write runs alone and is applied before the call returns, so
// a read that starts after a write has returned (on any thread) sees it. Nothing hands out
// the inner storage: copy(), subarrayWithRange() and mutableArray() are snapshots, and
// enumeration walks such a snapshot (`for (auto& x : array.copy())`), so a concurrent write
// can never disturb a walk.
//
// Bad indexes and ranges are caller errors: a write with one changes nothing, a read with one
// answers nothing, and both are logged as programming errors.
//
// Elements removed by a write are released after the lock is let go, so an element whose
// destructor touches other shared state cannot deadlock against this array.
template <class T, class Equal = KSElementEquality<T>>
class KSMutableArray {
 public:
  KSMutableArray() = default;
  explicit KSMutableArray(std::vector<T> elements) : elements_(std::move(elements)) {}
  KSMutableArray(const KSMutableArray&) = delete;
  KSMutableArray& operator=(const KSMutableArray&) = delete;

  // A new shared array holding the given elements.
  static std::shared_ptr<KSMutableArray> arrayWithArray(std::vector<T> elements) {
    return std::make_shared<KSMutableArray>(std::move(elements));
  }

  // --- reads ---
  std::size_t count() const {
    std::shared_lock lock(mutex_);
    return elements_.size();
  }
  std::optional<T> objectAtIndex(std::size_t index) const {
    std::shared_lock lock(mutex_);
    if (index >= elements_.size()) {
      lock.unlock();
      reportBadIndex("objectAtIndex", index);
      return std::nullopt;
    }
    return elements_[index];
  }
  std::optional<T> firstObject() const {
    std::shared_lock lock(mutex_);
    if (elements_.empty()) return std::nullopt;
    return elements_.front();
  }
  std::optional<T> lastObject() const {
    std::shared_lock lock(mutex_);
    if (elements_.empty()) return std::nullopt;
    return elements_.back();
  }
  bool containsObject(const T& object) const {
    std::shared_lock lock(mutex_);
    return std::any_of(elements_.begin(), elements_.end(), [&](const T& e) { return Equal{}(e, object); });
  }
  // The elements [location, location + length); nothing when the range does not fit.
  std::vector<T> subarrayWithRange(std::size_t location, std::size_t length) const {
    std::shared_lock lock(mutex_);
    if (!rangeFits(location, length)) {
      lock.unlock();
      reportBadRange("subarrayWithRange", location, length);
      return {};
    }
    const auto first = elements_.begin() + static_cast<std::ptrdiff_t>(location);
    return std::vector<T>(first, first + static_cast<std::ptrdiff_t>(length));
  }
  // A snapshot of every element, unaffected by later writes.
  std::vector<T> copy() const {
    std::shared_lock lock(mutex_);
    return elements_;
  }
  std::vector<T> mutableArray() const { return copy(); }

  // --- writes ---
  void addObject(T object) {
    std::unique_lock lock(mutex_);
    elements_.push_back(std::move(object));
  }
  void addObjectsFromArray(const std::vector<T>& objects) {
    std::unique_lock lock(mutex_);
    elements_.insert(elements_.end(), objects.begin(), objects.end());
  }
  // index may equal count (appends).
  void insertObject(T object, std::size_t index) {
    std::unique_lock lock(mutex_);
    if (index > elements_.size()) {
      lock.unlock();
      reportBadIndex("insertObject", index);
      return;
    }
    elements_.insert(elements_.begin() + static_cast<std::ptrdiff_t>(index), std::move(object));
  }
  void setMutableArray(std::vector<T> elements) {
    std::unique_lock lock(mutex_);
    std::swap(elements_, elements);
    lock.unlock();  // the old elements go after the lock
  }
  void removeAllObjects() { setMutableArray({}); }
  // Removes every element equal to object.
  void removeObject(const T& object) {
    std::vector<T> removed;
    std::unique_lock lock(mutex_);
    auto keep = std::stable_partition(elements_.begin(), elements_.end(),
                                      [&](const T& e) { return !Equal{}(e, object); });
    std::move(keep, elements_.end(), std::back_inserter(removed));
    elements_.erase(keep, elements_.end());
  }
  void removeLastObject() {
    std::optional<T> removed;
    std::unique_lock lock(mutex_);
    if (elements_.empty()) {
      lock.unlock();
      platform::reportProgrammingError("KSMutableArray removeLastObject: the array is empty, ignored");
      return;
    }
    removed = std::move(elements_.back());
    elements_.pop_back();
  }
  void removeObjectAtIndex(std::size_t index) { removeObjectsInRange(index, 1); }
  // Removes the elements at the given indexes; nothing at all when any index is out of range.
  void removeObjectsAtIndexes(const std::set<std::size_t>& indexes) {
    std::vector<T> removed;
    std::unique_lock lock(mutex_);
    if (!indexes.empty() && *indexes.rbegin() >= elements_.size()) {
      lock.unlock();
      reportBadIndex("removeObjectsAtIndexes", *indexes.rbegin());
      return;
    }
    std::vector<T> kept;
    kept.reserve(elements_.size() - indexes.size());
    for (std::size_t i = 0; i < elements_.size(); ++i) {
      (indexes.count(i) ? removed : kept).push_back(std::move(elements_[i]));
    }
    elements_ = std::move(kept);
  }
  void removeObjectsInRange(std::size_t location, std::size_t length) {
    std::vector<T> removed;
    std::unique_lock lock(mutex_);
    if (!rangeFits(location, length)) {
      lock.unlock();
      reportBadRange("removeObjectsInRange", location, length);
      return;
    }
    const auto first = elements_.begin() + static_cast<std::ptrdiff_t>(location);
    const auto last = first + static_cast<std::ptrdiff_t>(length);
    std::move(first, last, std::back_inserter(removed));
    elements_.erase(first, last);
  }

 private:
  bool rangeFits(std::size_t location, std::size_t length) const {
    return location <= elements_.size() && length <= elements_.size() - location;
  }
  static void reportBadIndex(std::string_view operation, std::size_t index) {
    platform::reportProgrammingError(
        fmt::format("KSMutableArray {}: index {} out of bounds, ignored", operation, index));
  }
  static void reportBadRange(std::string_view operation, std::size_t location, std::size_t length) {
    platform::reportProgrammingError(fmt::format(
        "KSMutableArray {}: range {{{}, {}}} out of bounds, ignored", operation, location, length));
  }

  mutable std::shared_mutex mutex_;
  std::vector<T> elements_;
};

}  // namespace velmora::kestrine
