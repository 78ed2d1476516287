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

// One request of a URL session. Made suspended; resume() sends it. Its completion runs
// exactly once, on the session's callback queue: with the body and the response when the
// server answered, or with an error (cancel() gives a cancellation error).
class URLSessionDataTask {
 public:
  using Completion = std::function<void(std::optional<std::string> data, std::optional<HTTPURLResponse> response,
                                        std::optional<Error> error)>;
  enum class State { Suspended, Running, Completed };

  void resume();
  void cancel();
  State state() const;
  const URLRequest& request() const { return request_; }

  URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request, Completion completion);

 private:
  friend class URLSessionEngine;
  friend class URLSession;
  struct Shared;
  std::weak_ptr<URLSessionEngine> engine_;
  URLRequest request_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace platform::net
