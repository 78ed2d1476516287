#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform::net {

// One HTTP request as the URL session sends it. Headers go out in the order given; a header
// with an empty value is sent as an empty header.
struct URLRequest {
  std::string url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  double timeoutSeconds = 60;
};

}  // namespace platform::net
