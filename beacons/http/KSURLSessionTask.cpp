#include "beacons/http/KSURLSessionTask.h"

#include <utility>

#include "platform/net/URLSessionTaskCore.h"

namespace velmora::kestrine {

KSURLSessionTask::KSURLSessionTask(std::shared_ptr<platform::net::URLSessionDataTask> task,
                                       KSURLRequest originalRequest)
    : task_(std::move(task)), originalRequest_(std::move(originalRequest)) {}

KSURLSessionTaskState KSURLSessionTask::state() const {
  using State = platform::net::URLSessionDataTask::State;
  switch (task_->state()) {
    case State::Completed: return KSURLSessionTaskStateCompleted;
    case State::Running:
      return task_->core()->cancelRequested() ? KSURLSessionTaskStateCanceling : KSURLSessionTaskStateRunning;
    case State::Suspended:
      return task_->core()->cancelRequested() ? KSURLSessionTaskStateCanceling : KSURLSessionTaskStateSuspended;
  }
  return KSURLSessionTaskStateCompleted;
}

}  // namespace velmora::kestrine
