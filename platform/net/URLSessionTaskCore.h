#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLSessionDataTask.h"

namespace platform::net {

// The state a data task shares with the session's I/O thread: where the task is in its life,
// whether a cancel was asked for, and the completion, which it posts to the callback queue
// exactly once whoever finishes first.
class URLSessionTaskCore {
 public:
  using State = URLSessionDataTask::State;

  URLSessionTaskCore(URLSessionDataTask::Completion completion, std::shared_ptr<dispatch::Queue> queue);

  // Suspended -> Running; false (and nothing changes) in any other state. While running, the
  // core holds a token of the shared scheduler's external work until it has posted its
  // completion, so that a virtual scheduler waits for the reply.
  bool markRunning();
  // Records that a cancel was asked for; returns the state at that moment.
  State requestCancel();
  bool cancelRequested() const;
  State state() const;

  // Posts the completion with this outcome unless the task already completed; returns
  // whether this call was the one that completed it.
  bool finish(std::optional<std::string> data, std::optional<HTTPURLResponse> response, std::optional<Error> error);

 private:
  mutable std::mutex mutex_;
  State state_ = State::Suspended;
  bool cancelRequested_ = false;
  URLSessionDataTask::Completion completion_;
  std::shared_ptr<dispatch::Queue> queue_;
  std::shared_ptr<void> externalWork_;
};

}  // namespace platform::net
