#pragma once

#include <memory>

#include "platform/net/BodyStream.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionReply.h"

namespace velmora::platform::net {

class URLSessionTaskCore;

// The transfer machinery behind one URL session.
//
// Tasks (start/cancel) run on a libcurl multi handle driven by one I/O thread of its own;
// other threads hand it work through a locked inbox and wake the thread. start() checks the
// request on the calling thread (scheme, URL syntax, header text) and finishes the task at
// once with an error when it is refused, so nothing is sent; otherwise the transfer joins
// the multi handle on the I/O thread. The I/O thread finishes every transfer it owns exactly
// once: with the reply, a transport error, a time-out or a cancellation.
//
// perform() runs one exchange on the calling thread, on a multi handle of its own taken from
// a small pool (so its kept-alive connections serve later synchronous calls). It needs no
// other thread at all: neither the I/O thread nor any queue of a scheduler.
//
// Both paths give up on a transfer once no bytes moved for its time-out (an idle time-out,
// not a cap on the whole exchange), and fail a reply whose body would pass the session's
// maximumResponseBytes as soon as it does.
//
// shutdown() cancels whatever is in flight or waiting, synchronous exchanges included, joins
// the I/O thread and refuses later work (each later start() finishes its task with a
// cancellation, each later perform() returns one); it is idempotent.
class URLSessionEngine : public std::enable_shared_from_this<URLSessionEngine> {
 public:
  explicit URLSessionEngine(URLSessionConfiguration configuration);
  ~URLSessionEngine();
  URLSessionEngine(const URLSessionEngine&) = delete;
  URLSessionEngine& operator=(const URLSessionEngine&) = delete;

  // `body`, when given, is sent in place of the request's body. A task of kind Download has
  // its reply body written to a temporary file.
  void start(const std::shared_ptr<URLSessionTaskCore>& task, const URLRequest& request,
             const UploadBody* body = nullptr);
  // Holds (true) or lets go on (false) a running task's transfer.
  void setPaused(const std::shared_ptr<URLSessionTaskCore>& task, bool paused);
  // Later start() calls finish their task with a cancellation; transfers under way go on.
  void refuseNewTasks();
  // Asks the I/O thread to stop a running task; its completion reports the cancellation.
  void cancel(const std::shared_ptr<URLSessionTaskCore>& task);
  URLSessionReply perform(const URLRequest& request);
  void shutdown();

 private:
  struct Loop;
  std::unique_ptr<Loop> loop_;
};

}  // namespace velmora::platform::net
