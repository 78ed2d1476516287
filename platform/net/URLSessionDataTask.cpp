#include "platform/net/URLSessionDataTask.h"

#include <utility>

#include "platform/net/URLError.h"
#include "platform/net/URLSessionEngine.h"
#include "platform/net/URLSessionTaskCore.h"

namespace platform::net {

URLSessionDataTask::URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                                       std::shared_ptr<URLSessionTaskCore> core, Kind kind, std::uint64_t identifier)
    : engine_(std::move(engine)),
      request_(std::move(request)),
      core_(std::move(core)),
      kind_(kind),
      identifier_(identifier) {}

void URLSessionDataTask::resume() {
  if (!core_->markRunning()) return;
  if (auto engine = engine_.lock()) {
    engine->start(core_, request_);
  } else {
    core_->finish(std::nullopt, std::nullopt,
                  makeURLError(kURLErrorCancelled, request_.url, "the session was invalidated"));
  }
}

void URLSessionDataTask::cancel() {
  switch (core_->requestCancel()) {
    case State::Completed:
      return;
    case State::Suspended:
      // Never started: nothing is in flight, so it completes here. Should a resume() on
      // another thread win the race, the engine sees the cancel before adding the transfer.
      core_->finish(std::nullopt, std::nullopt, makeURLError(kURLErrorCancelled, request_.url));
      return;
    case State::Running:
      if (auto engine = engine_.lock()) engine->cancel(core_);
      return;
  }
}

URLSessionDataTask::State URLSessionDataTask::state() const { return core_->state(); }

}  // namespace platform::net
