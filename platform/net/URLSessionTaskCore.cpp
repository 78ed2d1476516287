#include "platform/net/URLSessionTaskCore.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLError.h"

namespace velmora::platform::net {

URLSessionTaskCore::URLSessionTaskCore(URLSessionDataTask::Completion completion,
                                       std::shared_ptr<dispatch::Queue> queue)
    : completion_(std::move(completion)), queue_(std::move(queue)) {}

URLSessionTaskCore::URLSessionTaskCore(std::weak_ptr<URLSessionDelegate> delegate, std::shared_ptr<dispatch::Queue> queue,
                                       std::function<void()> delivered)
    : queue_(std::move(queue)),
      reportsToDelegate_(true),
      weakDelegate_(std::move(delegate)),
      delivered_(std::move(delivered)) {}

void URLSessionTaskCore::attach(const std::shared_ptr<URLSessionDataTask>& task, Kind kind, std::int64_t expectedToSend) {
  std::lock_guard lock(mutex_);
  weakTask_ = task;
  kind_ = kind;
  bytesExpectedToSend = expectedToSend;
}

bool URLSessionTaskCore::markRunning() {
  // Taken outside the lock: the scheduler has locks of its own.
  auto token = dispatch::Scheduler::shared()->beginExternalWork();
  std::lock_guard lock(mutex_);
  if (state_ != State::Suspended || started_) return false;
  state_ = State::Running;
  started_ = true;
  externalWork_ = std::move(token);
  if (reportsToDelegate_) {
    heldTask_ = weakTask_.lock();
    heldDelegate_ = weakDelegate_.lock();
  }
  return true;
}

bool URLSessionTaskCore::markSuspended() {
  std::lock_guard lock(mutex_);
  if (state_ != State::Running || cancelRequested_) return false;
  state_ = State::Suspended;
  return true;
}

bool URLSessionTaskCore::markUnsuspended() {
  std::lock_guard lock(mutex_);
  if (state_ != State::Suspended || !started_) return false;
  state_ = State::Running;
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

bool URLSessionTaskCore::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

URLSessionTaskCore::State URLSessionTaskCore::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

URLSessionTaskCore::Kind URLSessionTaskCore::kind() const {
  std::lock_guard lock(mutex_);
  return kind_;
}

std::shared_ptr<URLSessionDelegate> URLSessionTaskCore::delegate() const {
  std::lock_guard lock(mutex_);
  return heldDelegate_ ? heldDelegate_ : weakDelegate_.lock();
}

std::optional<HTTPURLResponse> URLSessionTaskCore::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<Error> URLSessionTaskCore::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::optional<std::string> URLSessionTaskCore::description() const {
  std::lock_guard lock(mutex_);
  return description_;
}

void URLSessionTaskCore::setDescription(std::optional<std::string> description) {
  std::lock_guard lock(mutex_);
  description_ = std::move(description);
}

void URLSessionTaskCore::toDelegate(std::function<void(URLSessionDelegate&, URLSessionDataTask&)> work) {
  std::shared_ptr<dispatch::Queue> queue;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<URLSessionDataTask> task;
  {
    std::lock_guard lock(mutex_);
    queue = queue_;
    delegate = heldDelegate_;
    task = heldTask_;
  }
  if (!queue || !delegate || !task) return;
  // The event keeps both alive until it has run: the completion, posted after it, may have
  // let go of them by then.
  queue->async([self = shared_from_this(), delegate = std::move(delegate), task = std::move(task),
                work = std::move(work)] {
    {
      std::lock_guard lock(self->mutex_);
      if (self->responseRefused_) return;
    }
    work(*delegate, *task);
  });
}

void URLSessionTaskCore::responseHead(const HTTPURLResponse& response) {
  if (!reportsToDelegate_) return;
  {
    std::lock_guard lock(mutex_);
    responseAnnounced_ = true;
  }
  toDelegate([response, self = shared_from_this()](URLSessionDelegate& delegate, URLSessionDataTask& task) {
    if (delegate.didReceiveResponse(task, response) == URLSessionResponseDisposition::Cancel) {
      {
        std::lock_guard lock(self->mutex_);
        self->responseRefused_ = true;
      }
      task.cancel();
    }
  });
}

void URLSessionTaskCore::received(std::string data) {
  if (!reportsToDelegate_) return;
  toDelegate([data = std::move(data)](URLSessionDelegate& delegate, URLSessionDataTask& task) {
    delegate.didReceiveData(task, data);
  });
}

void URLSessionTaskCore::sent(std::int64_t bytes, std::int64_t total, std::int64_t expected) {
  if (!reportsToDelegate_) return;
  toDelegate([=](URLSessionDelegate& delegate, URLSessionDataTask& task) {
    delegate.didSendBodyData(task, bytes, total, expected);
  });
}

void URLSessionTaskCore::written(std::int64_t bytes, std::int64_t total, std::int64_t expected) {
  if (!reportsToDelegate_) return;
  toDelegate([=](URLSessionDelegate& delegate, URLSessionDataTask& task) {
    delegate.didWriteData(task, bytes, total, expected);
  });
}

void URLSessionTaskCore::setDownloadLocation(std::string path) {
  std::lock_guard lock(mutex_);
  downloadLocation_ = std::move(path);
}

void URLSessionTaskCore::offerToCache(std::shared_ptr<URLCache> cache, URLRequest request) {
  std::lock_guard lock(mutex_);
  cache_ = std::move(cache);
  cacheRequest_ = std::move(request);
}

void URLSessionTaskCore::redirect(HTTPURLResponse response, std::string body, URLRequest newRequest,
                                  std::function<void(URLRequest)> restart) {
  std::shared_ptr<dispatch::Queue> queue;
  {
    std::lock_guard lock(mutex_);
    queue = queue_;
  }
  if (!queue) return;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<URLSessionDataTask> task;
  {
    std::lock_guard lock(mutex_);
    delegate = heldDelegate_;
    task = heldTask_;
  }
  queue->async([self = shared_from_this(), delegate = std::move(delegate), task = std::move(task),
                response = std::move(response), body = std::move(body), newRequest = std::move(newRequest),
                restart = std::move(restart)]() mutable {
    // A cancel that came while the redirect waited for its answer ends the task here.
    if (self->cancelRequested()) {
      self->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, response.url));
      return;
    }
    std::optional<URLRequest> next;
    if (delegate && task) next = delegate->willPerformHTTPRedirection(*task, response, newRequest);
    if (next) {
      restart(std::move(*next));
    } else {
      self->finish(std::move(body), std::move(response), std::nullopt);
    }
  });
}

bool URLSessionTaskCore::finish(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                std::optional<Error> error) {
  URLSessionDataTask::Completion completion;
  std::shared_ptr<dispatch::Queue> queue;
  std::shared_ptr<void> token;
  std::shared_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<URLSessionDataTask> task;
  bool announced = false;
  std::optional<std::string> location;
  std::shared_ptr<URLCache> cache;
  std::optional<URLRequest> cacheRequest;
  {
    std::lock_guard lock(mutex_);
    if (state_ == State::Completed) return false;
    state_ = State::Completed;
    response_ = response;
    error_ = error;
    completion = std::move(completion_);
    queue = std::move(queue_);
    token = std::move(externalWork_);
    delegate = std::move(heldDelegate_);
    task = std::move(heldTask_);
    announced = responseAnnounced_;
    location = std::move(downloadLocation_);
    cache = std::move(cache_);
    cacheRequest = std::move(cacheRequest_);
  }
  // A task always has a queue; should it have lost it, the shared global queue stands in, so
  // the completion never runs inside the call that finished the task.
  if (!queue) queue = dispatch::Scheduler::shared()->globalQueue();

  // The token of external work goes with the completion and is released once that has run:
  // a virtual scheduler that sees no external work left then has the completion behind it,
  // never still on its way.
  if (!reportsToDelegate_) {
    queue->async([completion = std::move(completion), data = std::move(data), response = std::move(response),
                  error = std::move(error), token = std::move(token)]() mutable {
      if (completion) completion(std::move(data), std::move(response), std::move(error));
      token.reset();
    });
    return true;
  }

  // A task cancelled before it started has neither held the delegate nor the task.
  if (!delegate) delegate = weakDelegate_.lock();
  if (!task) task = weakTask_.lock();
  queue->async([self = shared_from_this(), token = std::move(token), delegate = std::move(delegate), task = std::move(task), announced,
                location = std::move(location), cache = std::move(cache), cacheRequest = std::move(cacheRequest),
                data = std::move(data), response = std::move(response), error = std::move(error)]() mutable {
    bool refused = false;
    {
      std::lock_guard lock(self->mutex_);
      refused = self->responseRefused_;
    }
    if (delegate && task) {
      // A reply that was never announced on the way (a cached one, a redirect not
      // followed) is announced now, whole.
      if (!announced && response && !refused) {
        if (delegate->didReceiveResponse(*task, *response) == URLSessionResponseDisposition::Cancel) refused = true;
        if (!refused && data && !data->empty() && task->kind() != Kind::Download) delegate->didReceiveData(*task, *data);
      }
      if (refused && !error) error = makeURLError(kURLErrorCancelled, response ? response->url : std::string());
      if (location && !error) delegate->didFinishDownloadingToURL(*task, *location);
      if (cache && cacheRequest && response && !error) {
        if (auto kept = delegate->willCacheResponse(*task, CachedURLResponse{*response, data.value_or(std::string())})) {
          cache->storeReply(*cacheRequest, kept->response, kept->data);
        }
      }
      delegate->didCompleteWithError(*task, error);
    }
    self->delivered = true;
    if (location) {
      std::error_code ec;
      std::filesystem::remove(*location, ec);
    }
    if (self->delivered_) self->delivered_();
    token.reset();
  });
  return true;
}

}  // namespace velmora::platform::net
