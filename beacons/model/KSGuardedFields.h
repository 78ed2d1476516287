#pragma once

#include <mutex>
#include <utility>

namespace velmora::kestrine {

// The fields of a record that several queues read and write, behind the record's own lock.
// Reads hand out copies; nothing runs under the lock but the copy or the assignment, so no
// port, block or stored row is ever called with it held.
template <class Fields>
class KSGuardedFields {
 public:
  template <class M>
  M get(M Fields::*member) const {
    std::lock_guard lock(mutex_);
    return fields_.*member;
  }
  template <class M, class V>
  void set(M Fields::*member, V&& value) {
    std::unique_lock lock(mutex_);
    M old = std::exchange(fields_.*member, std::forward<V>(value));
    lock.unlock();
    // `old` goes after the lock: releasing a record may release others.
    (void)old;
  }
  // Runs `change` on the fields under the lock, as one step. It must only read and assign;
  // values it replaces should leave through a swap with the caller's locals, so that they
  // are released after the lock.
  template <class F>
  void update(F&& change) {
    std::lock_guard lock(mutex_);
    change(fields_);
  }
  Fields snapshot() const {
    std::lock_guard lock(mutex_);
    return fields_;
  }

 private:
  mutable std::mutex mutex_;
  Fields fields_;
};

}  // namespace velmora::kestrine
