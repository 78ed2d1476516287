#include "platform/net/URLSessionDataTask.h"

#include <utility>

#include "platform/net/URLError.h"
#include "platform/net/URLSessionEngine.h"
#include "platform/net/URLSessionTaskCore.h"

namespace velmora::platform::net {

namespace {

std::mutex& observerMutex() {
  static std::mutex mutex;
  return mutex;
}

URLSessionDataTask::StateChangeObserver& observerSlot() {
  static URLSessionDataTask::StateChangeObserver& observer = *new URLSessionDataTask::StateChangeObserver();
  return observer;
}

void announce(const std::shared_ptr<URLSessionDataTask>& task, URLSessionDataTask::StateChange change) {
  URLSessionDataTask::StateChangeObserver observer;
  {
    std::lock_guard lock(observerMutex());
    observer = observerSlot();
  }
  if (observer) observer(task, change);
}

}  // namespace

void URLSessionDataTask::setStateChangeObserver(StateChangeObserver observer) {
  std::lock_guard lock(observerMutex());
  observerSlot() = std::move(observer);
}

URLSessionDataTask::URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                                       std::shared_ptr<URLSessionTaskCore> core, Kind kind, std::uint64_t identifier)
    : engine_(std::move(engine)),
      request_(std::move(request)),
      core_(std::move(core)),
      kind_(kind),
      identifier_(identifier) {}

void URLSessionDataTask::resume() {
  if (core_->markUnsuspended()) {
    if (auto engine = engine_.lock()) engine->setPaused(core_, false);
    announce(shared_from_this(), StateChange::Resumed);
    return;
  }
  if (!core_->markRunning()) return;
  // Announced before the transfer starts, so an observer hears of the resume before any
  // event of the transfer.
  announce(shared_from_this(), StateChange::Resumed);
  if (auto engine = engine_.lock()) {
    engine->start(core_, request_, body_.get());
  } else {
    core_->finish(std::nullopt, std::nullopt,
                  makeURLError(kURLErrorCancelled, request_.url, "the session was invalidated"));
  }
}

void URLSessionDataTask::suspend() {
  if (!core_->markSuspended()) return;
  if (auto engine = engine_.lock()) engine->setPaused(core_, true);
  announce(shared_from_this(), StateChange::Suspended);
}

void URLSessionDataTask::cancel() {
  switch (core_->requestCancel()) {
    case State::Completed:
      return;
    case State::Suspended:
      if (!core_->started()) {
        // Never started: nothing is in flight, so it completes here. Should a resume() on
        // another thread win the race, the engine sees the cancel before adding the transfer.
        core_->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request_.url));
        return;
      }
      [[fallthrough]];  // a suspended transfer is still in flight
    case State::Running:
      if (auto engine = engine_.lock()) engine->cancel(core_);
      return;
  }
}

URLSessionDataTask::State URLSessionDataTask::state() const { return core_->state(); }

std::optional<std::string> URLSessionDataTask::taskDescription() const { return core_->description(); }
void URLSessionDataTask::setTaskDescription(std::optional<std::string> description) {
  core_->setDescription(std::move(description));
}
std::optional<HTTPURLResponse> URLSessionDataTask::response() const { return core_->response(); }
std::optional<Error> URLSessionDataTask::error() const { return core_->error(); }
std::int64_t URLSessionDataTask::countOfBytesSent() const { return core_->bytesSent.load(); }
std::int64_t URLSessionDataTask::countOfBytesExpectedToSend() const { return core_->bytesExpectedToSend.load(); }
std::int64_t URLSessionDataTask::countOfBytesReceived() const { return core_->bytesReceived.load(); }
std::int64_t URLSessionDataTask::countOfBytesExpectedToReceive() const { return core_->bytesExpectedToReceive.load(); }

}  // namespace velmora::platform::net
