#pragma once

#include <memory>

#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionConfiguration.h"

namespace platform::net {

class URLSessionTaskCore;

// The transfer machinery behind one URL session: a libcurl multi handle driven by one I/O
// thread of its own. Other threads hand it work through a locked inbox and wake the thread.
//
// start() checks the request on the calling thread (scheme, URL syntax, header text) and
// finishes the task at once with an error when it is refused, so nothing is sent; otherwise
// the transfer joins the multi handle on the I/O thread. The I/O thread finishes every
// transfer it owns exactly once: with the reply, a transport error, or a cancellation.
// shutdown() cancels whatever is in flight or waiting, joins the thread and refuses later
// work (each later start() finishes its task with a cancellation); it is idempotent.
class URLSessionEngine {
 public:
  explicit URLSessionEngine(URLSessionConfiguration configuration);
  ~URLSessionEngine();
  URLSessionEngine(const URLSessionEngine&) = delete;
  URLSessionEngine& operator=(const URLSessionEngine&) = delete;

  void start(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request);
  // Asks the I/O thread to stop a running task; its completion reports the cancellation.
  void cancel(const std::shared_ptr<URLSessionTaskCore>& task);
  void shutdown();

 private:
  struct Loop;
  std::unique_ptr<Loop> loop_;
};

}  // namespace platform::net
