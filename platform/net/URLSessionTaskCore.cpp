#include "platform/net/URLSessionTaskCore.h"

#include <utility>

#include "platform/dispatch/Scheduler.h"

namespace platform::net {

URLSessionTaskCore::URLSessionTaskCore(URLSessionDataTask::Completion completion,
                                       std::shared_ptr<dispatch::Queue> queue)
    : completion_(std::move(completion)), queue_(std::move(queue)) {}

bool URLSessionTaskCore::markRunning() {
  // Taken outside the lock: the scheduler has locks of its own.
  auto token = dispatch::Scheduler::shared()->beginExternalWork();
  std::lock_guard lock(mutex_);
  if (state_ != State::Suspended) return false;
  state_ = State::Running;
  externalWork_ = std::move(token);
  return true;
}

URLSessionTaskCore::State URLSessionTaskCore::requestCancel() {
  std::lock_guard lock(mutex_);
  if (state_ != State::Completed) cancelRequested_ = true;
  return state_;
}

bool URLSessionTaskCore::cancelRequested() const {
  std::lock_guard lock(mutex_);
  return cancelRequested_;
}

URLSessionTaskCore::State URLSessionTaskCore::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

bool URLSessionTaskCore::finish(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                std::optional<Error> error) {
  URLSessionDataTask::Completion completion;
  std::shared_ptr<dispatch::Queue> queue;
  std::shared_ptr<void> token;
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::Completed) return false;
    state_ = State::Completed;
    completion = std::move(completion_);
    queue = std::move(queue_);
    token = std::move(externalWork_);
  }
  auto deliver = [completion = std::move(completion), data = std::move(data), response = std::move(response),
                  error = std::move(error)]() mutable {
    if (completion) completion(std::move(data), std::move(response), std::move(error));
  };
  // A task always has a queue; should it have lost it, the shared global queue stands in, so
  // the completion never runs inside the call that finished the task.
  if (!queue) queue = dispatch::Scheduler::shared()->globalQueue();
  queue->async(std::move(deliver));
  // The token is released here, after the post.
  return true;
}

}  // namespace platform::net
