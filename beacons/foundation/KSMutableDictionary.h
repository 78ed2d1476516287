#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <utility>
#include <vector>

namespace velmora::kestrine {

// A mutable dictionary that any number of threads may share without locking of their own.
// Reads may run side by side; a write runs alone and is applied before the call returns.
// allKeys() and allValues() are snapshots in key order; nothing hands out the inner map.
// Values replaced or removed by a write are released after the lock is let go.
template <class Key, class Value, class Compare = std::less<>>
class KSMutableDictionary {
 public:
  KSMutableDictionary() = default;
  KSMutableDictionary(const KSMutableDictionary&) = delete;
  KSMutableDictionary& operator=(const KSMutableDictionary&) = delete;

  std::size_t count() const {
    std::shared_lock lock(mutex_);
    return map_.size();
  }
  // nullopt when the key is absent.
  template <class K>
  std::optional<Value> objectForKey(const K& key) const {
    std::shared_lock lock(mutex_);
    auto it = map_.find(key);
    if (it == map_.end()) return std::nullopt;
    return it->second;
  }
  std::vector<Key> allKeys() const {
    std::shared_lock lock(mutex_);
    std::vector<Key> keys;
    keys.reserve(map_.size());
    for (const auto& [k, v] : map_) keys.push_back(k);
    return keys;
  }
  std::vector<Value> allValues() const {
    std::shared_lock lock(mutex_);
    std::vector<Value> values;
    values.reserve(map_.size());
    for (const auto& [k, v] : map_) values.push_back(v);
    return values;
  }

  // Adds the value, or replaces the one the key has.
  void setObject(Value value, Key key) {
    std::unique_lock lock(mutex_);
    auto [it, inserted] = map_.try_emplace(std::move(key), value);
    if (!inserted) std::swap(it->second, value);  // the old value goes after the lock
    lock.unlock();
  }
  template <class K>
  void removeObjectForKey(const K& key) {
    std::optional<Value> removed;
    std::unique_lock lock(mutex_);
    auto it = map_.find(key);
    if (it == map_.end()) return;
    removed = std::move(it->second);
    map_.erase(it);
  }
  void removeObjectsForKeys(const std::vector<Key>& keys) {
    std::vector<Value> removed;
    std::unique_lock lock(mutex_);
    for (const auto& key : keys) {
      auto it = map_.find(key);
      if (it == map_.end()) continue;
      removed.push_back(std::move(it->second));
      map_.erase(it);
    }
  }
  void removeAllObjects() {
    std::map<Key, Value, Compare> removed;
    std::unique_lock lock(mutex_);
    std::swap(map_, removed);
    lock.unlock();
  }

 private:
  mutable std::shared_mutex mutex_;
  std::map<Key, Value, Compare> map_;
};

}  // namespace velmora::kestrine
