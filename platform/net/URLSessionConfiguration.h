#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/net/ServerTrust.h"

namespace velmora::platform::net {

class URLCache;

struct URLSessionConfiguration {
  // Where completions run. When null, each task takes the shared scheduler's global queue
  // when it is created: a concurrent queue, so a completion may itself make a blocking call.
  std::shared_ptr<dispatch::Queue> callbackQueue;
  // The idle time-out of a request whose own timeoutSeconds is not a positive number.
  double defaultTimeoutSeconds = 60;
  // The largest reply body accepted. A reply that declares a longer body, or sends more
  // bytes than this, fails with kURLErrorDataLengthExceedsMaximum as soon as that is known;
  // no more of it is read or kept.
  std::size_t maximumResponseBytes = 8 * 1024 * 1024;
  // A bundle file, or a directory of hashed certificates, of trusted certificate authorities
  // to use instead of the system's. Server certificates and host names are always verified;
  // there is no way to turn that off.
  std::string caFile;
  std::string caPath;
  // When set, judges every server certificate chain in place of the built-in check: it gets
  // the chain as the server sent it, the request's host, and the roots above (caFile or the
  // system's), and answers whether to go on. It runs on the session's I/O thread during the
  // handshake, so it must not block. A refusal fails the task with
  // kURLErrorServerCertificateUntrusted before any request byte is sent.
  std::function<bool(const ServerTrust& trust, const std::string& host)> serverTrustEvaluator;
  // When set, GET replies the server marks fresh are kept there and later GETs of the same
  // URL with the same headers are answered from it while fresh, without a request.
  std::shared_ptr<URLCache> urlCache;
  // Headers sent with every request that does not carry a header of the same name itself.
  std::vector<std::pair<std::string, std::string>> HTTPAdditionalHeaders;
};

}  // namespace velmora::platform::net
