#include "platform/net/URLSession.h"

#include <algorithm>
#include <utility>

#include "platform/dispatch/Scheduler.h"
#include "platform/net/URLSessionEngine.h"
#include "platform/net/URLSessionTaskCore.h"

namespace velmora::platform::net {

// What the session shares with its tasks: the delegate, its queue, the task list and the
// state of an invalidation that waits for the last task.
struct URLSession::Shared : std::enable_shared_from_this<URLSession::Shared> {
  std::weak_ptr<URLSessionDelegate> delegate;
  std::shared_ptr<dispatch::Queue> delegateQueue;
  bool hasDelegate = false;

  mutable std::mutex mutex;
  std::uint64_t nextIdentifier = 1;
  std::vector<std::weak_ptr<URLSessionDataTask>> tasks;
  bool invalidating = false;
  bool invalidated = false;

  std::vector<std::shared_ptr<URLSessionDataTask>> liveTasks() {
    std::vector<std::shared_ptr<URLSessionDataTask>> out;
    std::lock_guard lock(mutex);
    std::erase_if(tasks, [&](const std::weak_ptr<URLSessionDataTask>& weak) {
      auto task = weak.lock();
      // A delegate's task stays listed until its completion has reached the delegate, so a
      // snapshot taken in one of its callbacks still holds it.
      const auto core = task ? task->core() : nullptr;
      if (!task || (core->reportsToDelegate() ? core->delivered.load()
                                               : task->state() == URLSessionDataTask::State::Completed)) {
        return true;
      }
      out.push_back(std::move(task));
      return false;
    });
    return out;
  }

  // Once invalidation was asked for and no started task is left, the delegate hears of it,
  // once, on its queue (after every completion already posted there).
  void checkInvalidated() {
    {
      std::lock_guard lock(mutex);
      if (!invalidating || invalidated) return;
    }
    for (const auto& task : liveTasks()) {
      if (task->core()->started()) return;
    }
    {
      std::lock_guard lock(mutex);
      if (invalidated) return;
      invalidated = true;
    }
    if (!hasDelegate) return;
    delegateQueue->async([weak = delegate] {
      if (auto d = weak.lock()) d->didBecomeInvalidWithError(std::nullopt);
    });
  }
};

URLSession::URLSession(URLSessionConfiguration configuration)
    : configuration_(std::move(configuration)),
      engine_(std::make_shared<URLSessionEngine>(configuration_)),
      shared_(std::make_shared<Shared>()) {}

URLSession::~URLSession() { engine_->shutdown(); }

std::shared_ptr<URLSession> URLSession::shared() {
  // Never destroyed: requests may still complete while the process exits.
  static auto* session = new std::shared_ptr<URLSession>(create());
  return *session;
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration) {
  return std::shared_ptr<URLSession>(new URLSession(std::move(configuration)));
}

std::shared_ptr<URLSession> URLSession::create(URLSessionConfiguration configuration,
                                               std::weak_ptr<URLSessionDelegate> delegate,
                                               std::shared_ptr<dispatch::Queue> delegateQueue) {
  auto session = create(std::move(configuration));
  session->shared_->delegate = std::move(delegate);
  session->shared_->hasDelegate = true;
  session->shared_->delegateQueue =
      delegateQueue ? std::move(delegateQueue)
                    : dispatch::Scheduler::shared()->makeSerialQueue("platform.net.session.delegate");
  return session;
}

const std::shared_ptr<dispatch::Queue>& URLSession::delegateQueue() const { return shared_->delegateQueue; }

std::shared_ptr<URLSessionDataTask> URLSession::makeTask(URLRequest request, URLSessionDataTask::Completion completion,
                                                         URLSessionDataTask::Kind kind) {
  std::shared_ptr<URLSessionTaskCore> core;
  if (completion || !shared_->hasDelegate) {
    auto queue =
        configuration_.callbackQueue ? configuration_.callbackQueue : dispatch::Scheduler::shared()->globalQueue();
    core = std::make_shared<URLSessionTaskCore>(std::move(completion), std::move(queue));
  } else {
    std::weak_ptr<Shared> weakShared = shared_;
    core = std::make_shared<URLSessionTaskCore>(shared_->delegate, shared_->delegateQueue, [weakShared] {
      if (auto s = weakShared.lock()) s->checkInvalidated();
    });
  }
  std::uint64_t identifier = 0;
  {
    std::lock_guard lock(shared_->mutex);
    identifier = shared_->nextIdentifier++;
  }
  auto task = std::shared_ptr<URLSessionDataTask>(new URLSessionDataTask(engine_, std::move(request), core, kind, identifier));
  const bool sendsBody = task->request().method != "GET" && task->request().method != "HEAD";
  core->attach(task, kind, sendsBody && kind == URLSessionDataTask::Kind::Data
                               ? static_cast<std::int64_t>(task->request().body.size())
                               : (sendsBody ? -1 : 0));
  {
    std::lock_guard lock(shared_->mutex);
    shared_->tasks.push_back(task);
  }
  return task;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request, URLSessionDataTask::Completion completion) {
  return makeTask(std::move(request), std::move(completion), URLSessionDataTask::Kind::Data);
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request) {
  return makeTask(std::move(request), nullptr, URLSessionDataTask::Kind::Data);
}

std::shared_ptr<URLSessionDataTask> URLSession::uploadTask(URLRequest request, UploadBody body,
                                                           URLSessionDataTask::Completion completion) {
  // The body travels in the request for data; a file or stream is kept for the transfer.
  std::int64_t expected = -1;
  if (auto* data = std::get_if<std::string>(&body)) {
    request.body = std::move(*data);
    expected = static_cast<std::int64_t>(request.body.size());
    auto task = makeTask(std::move(request), std::move(completion), URLSessionDataTask::Kind::Upload);
    task->core()->bytesExpectedToSend = expected;
    return task;
  }
  request.body.clear();
  auto task = makeTask(std::move(request), std::move(completion), URLSessionDataTask::Kind::Upload);
  task->body_ = std::make_shared<UploadBody>(std::move(body));
  return task;
}

std::shared_ptr<URLSessionDataTask> URLSession::downloadTask(URLRequest request,
                                                             URLSessionDataTask::Completion completion) {
  return makeTask(std::move(request), std::move(completion), URLSessionDataTask::Kind::Download);
}

std::vector<std::shared_ptr<URLSessionDataTask>> URLSession::tasks() const { return shared_->liveTasks(); }

URLSessionReply URLSession::sendSynchronousRequest(const URLRequest& request) { return engine_->perform(request); }

void URLSession::invalidateAndCancel() {
  {
    std::lock_guard lock(shared_->mutex);
    shared_->invalidating = true;
  }
  engine_->shutdown();
  // Every task in flight has finished now; a delegate's tasks never started are cancelled
  // too, so each of them reports its end.
  if (shared_->hasDelegate) {
    for (const auto& task : shared_->liveTasks()) {
      if (!task->core()->started()) task->cancel();
    }
  }
  shared_->checkInvalidated();
}

void URLSession::finishTasksAndInvalidate() {
  engine_->refuseNewTasks();
  {
    std::lock_guard lock(shared_->mutex);
    shared_->invalidating = true;
  }
  shared_->checkInvalidated();
}

}  // namespace velmora::platform::net
