#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "platform/net/BodyStream.h"
#include "platform/net/URLRequest.h"
#include "platform/net/URLSessionDelegate.h"
#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDataTask.h"
#include "platform/net/URLSessionReply.h"

namespace velmora::platform::net {

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
  // A session whose tasks made without a completion report to `delegate` on
  // `delegateQueue` (a new serial queue of the shared scheduler when null). The session
  // holds the delegate weakly, and strongly while one of those tasks is running.
  static std::shared_ptr<URLSession> create(URLSessionConfiguration configuration,
                                            std::weak_ptr<URLSessionDelegate> delegate,
                                            std::shared_ptr<dispatch::Queue> delegateQueue);
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, URLSessionDataTask::Completion completion);
  // A task that reports to the session's delegate.
  std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request);

  // Where an upload's body comes from: bytes in memory, a file read while it is sent, or a
  // stream. The request's own body is ignored. A file or stream body is sent with the
  // request's Content-Length when it has one (the file's size for a file), else chunked.
  using UploadBody = platform::net::UploadBody;
  std::shared_ptr<URLSessionDataTask> uploadTask(URLRequest request, UploadBody body,
                                                 URLSessionDataTask::Completion completion = nullptr);
  // A task whose reply body goes to a temporary file, handed to the delegate's
  // didFinishDownloadingToURL; without a delegate the completion gets the path as its data.
  std::shared_ptr<URLSessionDataTask> downloadTask(URLRequest request,
                                                   URLSessionDataTask::Completion completion = nullptr);

  // The tasks of this session that have not completed, in the order they were made: a
  // snapshot taken under the session's lock, so it may be asked from anywhere, a delegate
  // callback included.
  std::vector<std::shared_ptr<URLSessionDataTask>> tasks() const;

  const URLSessionConfiguration& configuration() const { return configuration_; }
  const std::shared_ptr<dispatch::Queue>& delegateQueue() const;
  // Sends the request and returns its reply, doing the whole exchange on the calling thread:
  // it needs neither the I/O thread nor any queue, so it returns however many threads are
  // blocked in calls like it, inside completions included. The same checks, time-out, size
  // cap and errors apply as for a data task. It ends with a cancellation when the session
  // is invalidated meanwhile or was before.
  URLSessionReply sendSynchronousRequest(const URLRequest& request);
  // Cancels every task in flight; tasks resumed afterwards complete with a cancellation.
  // A delegate is then told didBecomeInvalidWithError, after the completions.
  void invalidateAndCancel();
  // Lets the tasks in flight finish; tasks resumed afterwards complete with a cancellation.
  // A delegate is told didBecomeInvalidWithError after the last of them completed.
  void finishTasksAndInvalidate();

 private:
  struct Shared;
  explicit URLSession(URLSessionConfiguration configuration);
  std::shared_ptr<URLSessionDataTask> makeTask(URLRequest request, URLSessionDataTask::Completion completion,
                                               URLSessionDataTask::Kind kind);
  URLSessionConfiguration configuration_;
  std::shared_ptr<URLSessionEngine> engine_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace velmora::platform::net
