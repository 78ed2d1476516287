#pragma once

#include <memory>

#include "platform/net/URLSessionConfiguration.h"
#include "platform/net/URLSessionDataTask.h"

namespace platform::net {

class URLSessionEngine;

// An HTTP client session on libcurl: one I/O thread drives every transfer of the session.
// Only http and https URLs are accepted, redirects are not followed, server certificates are
// verified, and a header name or value holding CR or LF is refused before anything is sent.
// Destroying the session (or invalidateAndCancel) cancels the transfers still in flight:
// each of their completions runs once, with a cancellation error.
class URLSession {
 public:
  static std::shared_ptr<URLSession> shared();
  static std::shared_ptr<URLSession> create(URLSessionConfiguration configuration = {});
  ~URLSession();

  std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, URLSessionDataTask::Completion completion);
  void invalidateAndCancel();

 private:
  explicit URLSession(URLSessionConfiguration configuration);
  URLSessionConfiguration configuration_;
  std::shared_ptr<URLSessionEngine> engine_;
};

}  // namespace platform::net
