#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/net/BodyStream.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLRequest.h"

namespace velmora::platform::net {

class URLSessionEngine;
class URLSessionTaskCore;

// One request of a URL session. Made suspended; resume() sends it. Its completion runs
// exactly once, on the session's callback queue, always posted there (never inside resume()
// or cancel()): with the body (possibly empty) and the response when the server answered,
// or with an error alone. cancel() gives a cancellation error unless the task already
// completed. A task that is never resumed nor cancelled never completes.
//
// A task of a session with a delegate that was made without a completion reports to the
// delegate instead (see URLSessionDelegate), on the delegate queue.
//
// suspend() pauses a running transfer (no bytes move and its idle time-out stops counting)
// until resume(). Every member may be called from any thread.
class URLSessionDataTask : public std::enable_shared_from_this<URLSessionDataTask> {
 public:
  using Completion = std::function<void(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                        std::optional<Error> error)>;
  enum class State { Suspended, Running, Completed };
  enum class Kind { Data, Upload, Download };
  enum class StateChange { Resumed, Suspended };
  // Told of every real change between running and suspended of any task in the process, on
  // the thread that made it: resume() of a task that was not running, suspend() of one that
  // was not suspended. Replaces the observer set before; an empty function removes it.
  using StateChangeObserver = std::function<void(const std::shared_ptr<URLSessionDataTask>& task, StateChange change)>;
  static void setStateChangeObserver(StateChangeObserver observer);

  // Sends the request, or lets a suspended transfer go on; does nothing unless the task is
  // suspended.
  void resume();
  // Holds a running task; does nothing unless it is running.
  void suspend();
  // Stops the task: a suspended or running task completes with kURLErrorCancelled.
  void cancel();
  State state() const;
  const URLRequest& request() const { return request_; }
  Kind kind() const { return kind_; }

  // Unique within its session, counting from 1 in the order tasks were made.
  std::uint64_t taskIdentifier() const { return identifier_; }
  std::optional<std::string> taskDescription() const;
  void setTaskDescription(std::optional<std::string> description);

  // Once the task completed: the response (when the server answered) and the error.
  std::optional<HTTPURLResponse> response() const;
  std::optional<Error> error() const;

  // Transfer counts as they stand; an expected count is -1 while it is not known.
  std::int64_t countOfBytesSent() const;
  std::int64_t countOfBytesExpectedToSend() const;
  std::int64_t countOfBytesReceived() const;
  std::int64_t countOfBytesExpectedToReceive() const;

  std::shared_ptr<URLSessionTaskCore> core() const { return core_; }

 private:
  friend class URLSession;
  URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                     std::shared_ptr<URLSessionTaskCore> core, Kind kind = Kind::Data, std::uint64_t identifier = 0);

  std::weak_ptr<URLSessionEngine> engine_;
  const URLRequest request_;
  std::shared_ptr<URLSessionTaskCore> core_;
  const Kind kind_;
  const std::uint64_t identifier_;
  std::shared_ptr<UploadBody> body_;  // an upload's file or stream
};

}  // namespace velmora::platform::net
