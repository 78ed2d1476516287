#pragma once

#include <mutex>
#include <utility>

namespace velmora::detail {

// Reads and writes one field of a model object under the object's lock. Getters hand out
// copies, so a caller never holds a reference into a field that another thread may write.
template <class T>
T readLocked(std::mutex& m, const T& field) {
  std::lock_guard lock(m);
  return field;
}

template <class T>
void writeLocked(std::mutex& m, T& field, T value) {
  std::lock_guard lock(m);
  field = std::move(value);
}

}  // namespace velmora::detail
