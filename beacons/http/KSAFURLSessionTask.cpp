#include "beacons/http/KSAFURLSessionTask.h"

#include <utility>

#include "platform/net/URLSessionTaskCore.h"

namespace kestrine {

KSAFURLSessionTask::KSAFURLSessionTask(std::shared_ptr<platform::net::URLSessionDataTask> task,
                                       KSAFURLRequest originalRequest)
    : task_(std::move(task)), originalRequest_(std::move(originalRequest)) {}

KSAFURLSessionTaskState KSAFURLSessionTask::state() const {
  using State = platform::net::URLSessionDataTask::State;
  switch (task_->state()) {
    case State::Completed: return KSAFURLSessionTaskStateCompleted;
    case State::Running:
      return task_->core()->cancelRequested() ? KSAFURLSessionTaskStateCanceling : KSAFURLSessionTaskStateRunning;
    case State::Suspended:
      return task_->core()->cancelRequested() ? KSAFURLSessionTaskStateCanceling : KSAFURLSessionTaskStateSuspended;
  }
  return KSAFURLSessionTaskStateCompleted;
}

}  // namespace kestrine
