#pragma once

#include <concepts>
#include <memory>

namespace velmora::kestrine {

// How the thread-safe collections compare elements in containsObject and removeObject.
// A shared object whose class answers isEqual (the records of the model do) is compared by
// that answer; any other shared object by identity; a plain value by operator==.
template <class T>
struct KSElementEquality {
  bool operator()(const T& a, const T& b) const { return a == b; }
};

template <class U>
struct KSElementEquality<std::shared_ptr<U>> {
  bool operator()(const std::shared_ptr<U>& a, const std::shared_ptr<U>& b) const {
    if (a == b) return true;
    if (!a || !b) return false;
    if constexpr (requires(const U& x, const U& y) {
                    { x.isEqual(y) } -> std::convertible_to<bool>;
                  }) {
      return a->isEqual(*b);
    } else {
      return false;
    }
  }
};

}  // namespace velmora::kestrine
