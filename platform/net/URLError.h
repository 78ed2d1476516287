#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/Error.h"

namespace velmora::platform::net {

// Errors of the URL session: domain kURLErrorDomain with one of these codes.
inline constexpr std::string_view kURLErrorDomain = "platform.url";

enum URLErrorCode : std::int64_t {
  kURLErrorUnknown = -1,
  kURLErrorCancelled = -999,
  kURLErrorBadURL = -1000,
  kURLErrorTimedOut = -1001,
  kURLErrorUnsupportedURL = -1002,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorNotConnectedToInternet = -1009,
  kURLErrorBadServerResponse = -1011,
  kURLErrorHTTPTooManyRedirects = -1007,
  kURLErrorRequestBodyStreamExhausted = -1021,
  kURLErrorDataLengthExceedsMaximum = -1103,
  kURLErrorSecureConnectionFailed = -1200,
  kURLErrorServerCertificateUntrusted = -1202,
};

// An error of that code with its standard description; the failing URL and any detail go
// into userInfo.
Error makeURLError(URLErrorCode code, std::string_view failingURL, std::string_view detail = {});

}  // namespace velmora::platform::net
