#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/URLRequest.h"

namespace velmora::platform::net {

class URLSessionDataTask;

// What to do with a task once its response head has arrived.
enum class URLSessionResponseDisposition : int { Cancel = 0, Allow = 1 };

// A reply that is about to go into the session's URL cache.
struct CachedURLResponse {
  HTTPURLResponse response;
  std::string data;
};

// The session-wide receiver of the task events of a session made with a delegate. Each call
// runs on the session's delegate queue, one at a time when that queue is serial, and the
// calls for one task come in the order the events happened: the response, its data in
// pieces, the body bytes sent as they go out, a download's file, then the completion,
// exactly once. Tasks made with a completion handler of their own do not report here.
// Every method has an empty default, so a delegate overrides only what it needs.
class URLSessionDelegate {
 public:
  virtual ~URLSessionDelegate() = default;

  // The head of the final reply (not of a redirect that is followed).
  virtual URLSessionResponseDisposition didReceiveResponse(URLSessionDataTask&,
                                                           const HTTPURLResponse&) {
    return URLSessionResponseDisposition::Allow;
  }
  // A piece of the body; not called for download tasks, whose body goes to a file.
  virtual void didReceiveData(URLSessionDataTask&, const std::string&) {}
  // Body bytes of the request handed to the connection: this step, the sum so far, and the
  // length to send (-1 when unknown).
  virtual void didSendBodyData(URLSessionDataTask&, std::int64_t, std::int64_t, std::int64_t) {}
  // Body bytes of a download written to its temporary file, as for didSendBodyData.
  virtual void didWriteData(URLSessionDataTask&, std::int64_t, std::int64_t, std::int64_t) {}
  // A download finished: the body is in the file at `location`, which is removed once this
  // call returns unless the delegate moved it away.
  virtual void didFinishDownloadingToURL(URLSessionDataTask&, const std::string&) {}
  // Asked when a reply is a redirect with a Location: the request to follow it with, or
  // nullopt to finish the task with the redirect reply itself. Redirects are followed only
  // when a delegate answers with a request, at most 10 in a row (the next one fails the task
  // with kURLErrorHTTPTooManyRedirects). The proposed request never leads from https to
  // http (such a redirect is not proposed: the task ends with its reply), carries no
  // Authorization, Proxy-Authorization or Cookie header once the host or port changes, and
  // keeps the body for a kept method (a streamed body from its stream's copy(); a stream
  // that cannot be copied is not proposed again).
  virtual std::optional<URLRequest> willPerformHTTPRedirection(URLSessionDataTask&,
                                                               const HTTPURLResponse&, URLRequest newRequest) {
    return newRequest;
  }
  // Whether willPerformHTTPRedirection is to be asked at all; without it, redirect replies
  // complete the task as they are.
  virtual bool handlesRedirection() const { return false; }
  // The reply the session's cache would keep: what to keep instead, or nullopt for nothing.
  virtual std::optional<CachedURLResponse> willCacheResponse(URLSessionDataTask&,
                                                             CachedURLResponse proposed) {
    return proposed;
  }
  virtual void didCompleteWithError(URLSessionDataTask&, const std::optional<Error>&) {}
  // The session was invalidated; no task of it reports after this.
  virtual void didBecomeInvalidWithError(const std::optional<Error>&) {}
};

}  // namespace velmora::platform::net
