#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/URLRequest.h"

namespace platform::net {

class URLSessionEngine;
class URLSessionTaskCore;

// One request of a URL session. Made suspended; resume() sends it. Its completion runs
// exactly once, on the session's callback queue, always posted there (never inside resume()
// or cancel()): with the body (possibly empty) and the response when the server answered,
// or with an error alone. cancel() gives a cancellation error unless the task already
// completed. A task that is never resumed nor cancelled never completes.
// Every member may be called from any thread.
class URLSessionDataTask {
 public:
  using Completion = std::function<void(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                        std::optional<Error> error)>;
  enum class State { Suspended, Running, Completed };

  // Sends the request; does nothing unless the task is still suspended.
  void resume();
  // Stops the task: a suspended or running task completes with kURLErrorCancelled.
  void cancel();
  State state() const;
  const URLRequest& request() const { return request_; }

 private:
  friend class URLSession;
  URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                     std::shared_ptr<URLSessionTaskCore> core);

  std::weak_ptr<URLSessionEngine> engine_;
  const URLRequest request_;
  std::shared_ptr<URLSessionTaskCore> core_;
};

}  // namespace platform::net
