#pragma once

#include <memory>

#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDataTask.h"
#include "platform/net/URLSessionReply.h"

namespace platform::net {

class URLSessionEngine;

// An HTTP client session on libcurl: one I/O thread drives every data task of the session.
// Only http and https URLs are accepted, redirects are not followed (a 3xx reply is what the
// completion gets), server certificates and host names are verified, and a request whose
// method or headers cannot be written as given (a line break in a header) is refused before
// anything is sent. Every refusal and failure comes back through the task's completion.
// Destroying the session (or invalidateAndCancel) cancels the transfers still in flight and
// returns once the I/O thread is gone: each of their completions runs once, with a
// cancellation error. Tasks may be made and resumed from any thread.
class URLSession {
 public:
  // The process-wide session with the default configuration; made on first use and kept
  // for the rest of the process.
  static std::shared_ptr<URLSession> shared();
  static std::shared_ptr<URLSession> create(URLSessionConfiguration configuration = {});
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, URLSessionDataTask::Completion completion);
  // Sends the request and returns its reply, doing the whole exchange on the calling thread:
  // it needs neither the I/O thread nor any queue, so it returns however many threads are
  // blocked in calls like it, inside completions included. The same checks, time-out, size
  // cap and errors apply as for a data task. It ends with a cancellation when the session
  // is invalidated meanwhile or was before.
  URLSessionReply sendSynchronousRequest(const URLRequest& request);
  // Cancels every task in flight; tasks resumed afterwards complete with a cancellation.
  void invalidateAndCancel();

 private:
  explicit URLSession(URLSessionConfiguration configuration);
  URLSessionConfiguration configuration_;
  std::shared_ptr<URLSessionEngine> engine_;
};

}  // namespace platform::net
