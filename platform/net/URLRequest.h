#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmora::platform::net {

// One HTTP request as the URL session sends it. Headers go out in the order given; a header
// with an empty value is sent as an empty header.
struct URLRequest {
  std::string url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // An idle time-out: the request fails with kURLErrorTimedOut once no bytes moved, either
  // way, for this long (connecting included). It does not cap the whole exchange: a long
  // reply that keeps arriving is received in full.
  double timeoutSeconds = 60;
};

}  // namespace velmora::platform::net
