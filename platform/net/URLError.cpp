#include "platform/net/URLError.h"

#include <utility>

namespace velmora::platform::net {

namespace {

std::string_view descriptionFor(URLErrorCode code) {
  switch (code) {
    case kURLErrorCancelled: return "cancelled";
    // Text that is no absolute URL reads the same as a URL of a scheme we do not speak:
    // callers show this text to people, and for them the two cases are one.
    case kURLErrorBadURL: return "unsupported URL";
    case kURLErrorTimedOut: return "The request timed out.";
    case kURLErrorUnsupportedURL: return "unsupported URL";
    case kURLErrorCannotFindHost: return "A server with the specified hostname could not be found.";
    case kURLErrorCannotConnectToHost: return "Could not connect to the server.";
    case kURLErrorNetworkConnectionLost: return "The network connection was lost.";
    case kURLErrorNotConnectedToInternet: return "The Internet connection appears to be offline.";
    case kURLErrorBadServerResponse: return "The server returned a bad response.";
    case kURLErrorHTTPTooManyRedirects: return "too many HTTP redirects";
    case kURLErrorRequestBodyStreamExhausted: return "The request body could not be read.";
    case kURLErrorDataLengthExceedsMaximum: return "The resource exceeds the maximum size.";
    case kURLErrorSecureConnectionFailed:
      return "An SSL error has occurred and a secure connection to the server cannot be made.";
    case kURLErrorServerCertificateUntrusted:
      return "The certificate for this server is invalid. You might be connecting to a server that is pretending "
             "to be the one you want, which could put your confidential information at risk.";
    case kURLErrorUnknown: break;
  }
  return "An unknown error occurred.";
}

}  // namespace

Error makeURLError(URLErrorCode code, std::string_view failingURL, std::string_view detail) {
  Dict info;
  info.emplace(std::string(kFailingURLKey), Value(failingURL));
  if (!detail.empty()) info.emplace(std::string(kDebugDescriptionKey), Value(detail));
  return Error(std::string(kURLErrorDomain), code, std::string(descriptionFor(code)), std::move(info));
}

}  // namespace velmora::platform::net
