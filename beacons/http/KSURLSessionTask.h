#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "beacons/http/KSNetworkTask.h"
#include "beacons/http/KSURLRequest.h"
#include "platform/net/URLSessionDataTask.h"

namespace velmora::kestrine {

// Task states with the platform's numbers.
enum KSURLSessionTaskState : int {
  KSURLSessionTaskStateRunning = 0,
  KSURLSessionTaskStateSuspended = 1,
  KSURLSessionTaskStateCanceling = 2,
  KSURLSessionTaskStateCompleted = 3,
};

// A task of a session manager: the URL session's task with the request as the HTTP layer
// built it. It is the object of the layer's task notifications. Thread-safe.
class KSURLSessionTask final : public KSNetworkTask {
 public:
  using Kind = platform::net::URLSessionDataTask::Kind;

  KSURLSessionTask(std::shared_ptr<platform::net::URLSessionDataTask> task, KSURLRequest originalRequest);

  void resume() { task_->resume(); }
  void suspend() { task_->suspend(); }
  void cancel() { task_->cancel(); }
  KSURLSessionTaskState state() const;
  Kind kind() const { return task_->kind(); }
  std::uint64_t taskIdentifier() const { return task_->taskIdentifier(); }
  std::optional<std::string> taskDescription() const { return task_->taskDescription(); }
  void setTaskDescription(std::optional<std::string> description) { task_->setTaskDescription(std::move(description)); }

  std::optional<KSURLRequest> originalRequest() const override { return originalRequest_; }
  std::optional<platform::net::HTTPURLResponse> response() const override { return task_->response(); }
  std::optional<platform::Error> error() const override { return task_->error(); }

  std::int64_t countOfBytesSent() const { return task_->countOfBytesSent(); }
  std::int64_t countOfBytesExpectedToSend() const { return task_->countOfBytesExpectedToSend(); }
  std::int64_t countOfBytesReceived() const { return task_->countOfBytesReceived(); }
  std::int64_t countOfBytesExpectedToReceive() const { return task_->countOfBytesExpectedToReceive(); }

  const std::shared_ptr<platform::net::URLSessionDataTask>& sessionTask() const { return task_; }

 private:
  const std::shared_ptr<platform::net::URLSessionDataTask> task_;
  const KSURLRequest originalRequest_;
};

}  // namespace velmora::kestrine
