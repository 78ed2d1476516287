#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/core/Error.h"

namespace velmora::testing {

// Collects what the completions of asynchronous parking calls receive, from whatever thread
// they run on, and lets a test wait for them with a bound in real time.
template <class Result>
class CompletionRecorder {
 public:
  struct Report {
    std::optional<Result> result;
    std::optional<platform::Error> error;
    std::thread::id thread;
  };

  // A completion that records its report; valid while the recorder lives.
  std::function<void(std::optional<Result>, std::optional<platform::Error>)> completion() {
    return [this](std::optional<Result> result, std::optional<platform::Error> error) {
      std::lock_guard lock(mutex_);
      reports_.push_back(Report{std::move(result), std::move(error), std::this_thread::get_id()});
      changed_.notify_all();
    };
  }

  // True once at least n reports came; false when the bound passed first.
  bool waitFor(std::size_t n = 1, std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] { return reports_.size() >= n; });
  }

  std::vector<Report> reports() const {
    std::lock_guard lock(mutex_);
    return reports_;
  }

  // The first report; waits for it, and fails the test's expectation of one when none came.
  Report first(std::chrono::milliseconds bound = std::chrono::seconds(20)) {
    if (!waitFor(1, bound)) return Report{};
    std::lock_guard lock(mutex_);
    return reports_.front();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
};

}  // namespace velmora::testing
