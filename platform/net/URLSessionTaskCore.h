#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionDataTask.h"
#include "platform/net/URLSessionDelegate.h"

namespace velmora::platform::net {

class URLCache;
class URLSessionEngine;

// The state a task shares with the session's I/O thread: where the task is in its life,
// whether a cancel was asked for, its transfer counts, and the completion, which it posts to
// the callback queue exactly once whoever finishes first.
//
// A task that reports to a delegate posts each event of its transfer (response head, body
// pieces, bytes sent or written) to the delegate queue as it happens, and its completion
// last. From its first resume to that completion it holds its task object and the delegate,
// so neither goes away while the transfer runs.
class URLSessionTaskCore : public std::enable_shared_from_this<URLSessionTaskCore> {
 public:
  using State = URLSessionDataTask::State;
  using Kind = URLSessionDataTask::Kind;

  URLSessionTaskCore(URLSessionDataTask::Completion completion, std::shared_ptr<dispatch::Queue> queue);
  // A task that reports to `delegate` on `queue`; `delivered` runs there after its completion.
  URLSessionTaskCore(std::weak_ptr<URLSessionDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                     std::function<void()> delivered);

  // The task object this core belongs to, given once it exists.
  void attach(const std::shared_ptr<URLSessionDataTask>& task, Kind kind, std::int64_t expectedToSend);

  // Suspended (never started) -> Running; false (and nothing changes) in any other state.
  // While running, the core holds a token of the shared scheduler's external work until its
  // completion has run, so that a virtual scheduler waits for the reply.
  bool markRunning();
  // Running -> Suspended after a start; true when it changed.
  bool markSuspended();
  // Suspended after a start -> Running; true when it changed.
  bool markUnsuspended();
  // Records that a cancel was asked for; returns the state at that moment.
  State requestCancel();
  bool cancelRequested() const;
  bool started() const;
  State state() const;
  bool reportsToDelegate() const { return reportsToDelegate_; }
  Kind kind() const;
  std::shared_ptr<URLSessionDelegate> delegate() const;

  // --- events from the I/O thread ---
  void responseHead(const HTTPURLResponse& response);
  void received(std::string data);
  void sent(std::int64_t bytes, std::int64_t total, std::int64_t expected);
  void written(std::int64_t bytes, std::int64_t total, std::int64_t expected);
  // A download's body was written to this file; the delegate hears of it before the
  // completion, and the file is removed after that unless it was moved.
  void setDownloadLocation(std::string path);
  // The reply may go to the cache: the delegate is asked before the completion.
  void offerToCache(std::shared_ptr<URLCache> cache, URLRequest request);
  // A redirect reply for the delegate to decide on: the new request goes to `restart`,
  // nullopt completes the task with the redirect reply.
  void redirect(HTTPURLResponse response, std::string body, URLRequest newRequest,
                std::function<void(URLRequest)> restart);

  // Posts the completion with this outcome unless the task already completed; returns
  // whether this call was the one that completed it.
  bool finish(std::optional<std::string> data, std::optional<HTTPURLResponse> response, std::optional<Error> error);

  std::optional<HTTPURLResponse> response() const;
  std::optional<Error> error() const;
  std::optional<std::string> description() const;
  void setDescription(std::optional<std::string> description);

  std::atomic<std::int64_t> bytesSent{0};
  std::atomic<std::int64_t> bytesExpectedToSend{-1};
  std::atomic<std::int64_t> bytesReceived{0};
  std::atomic<std::int64_t> bytesExpectedToReceive{-1};
  std::atomic<int> redirects{0};
  // Set once a delegate task's completion has been delivered: from then on it is no longer
  // one of the session's tasks.
  std::atomic<bool> delivered{false};

 private:
  // Runs work on the delegate queue with the delegate and the task, while both exist.
  void toDelegate(std::function<void(URLSessionDelegate&, URLSessionDataTask&)> work);

  mutable std::mutex mutex_;
  State state_ = State::Suspended;
  bool started_ = false;
  bool cancelRequested_ = false;
  URLSessionDataTask::Completion completion_;
  std::shared_ptr<dispatch::Queue> queue_;
  std::shared_ptr<void> externalWork_;
  std::optional<HTTPURLResponse> response_;
  std::optional<Error> error_;
  std::optional<std::string> description_;

  const bool reportsToDelegate_ = false;
  std::weak_ptr<URLSessionDelegate> weakDelegate_;
  std::weak_ptr<URLSessionDataTask> weakTask_;
  std::shared_ptr<URLSessionDelegate> heldDelegate_;
  std::shared_ptr<URLSessionDataTask> heldTask_;
  std::function<void()> delivered_;
  Kind kind_ = Kind::Data;
  // Delegate mode, set on the I/O thread before finish().
  bool responseAnnounced_ = false;
  std::optional<std::string> downloadLocation_;
  std::shared_ptr<URLCache> cache_;
  std::optional<URLRequest> cacheRequest_;
  // Delegate queue only: the delegate refused the response.
  bool responseRefused_ = false;
};

}  // namespace velmora::platform::net
