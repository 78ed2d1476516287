#pragma once

#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/net/HTTPURLResponse.h"

namespace velmora::platform::net {

// How one exchange ended: the body (possibly empty) and the response when the server
// answered, or an error alone.
struct URLSessionReply {
  std::optional<std::string> data;
  std::optional<HTTPURLResponse> response;
  std::optional<Error> error;
};

}  // namespace velmora::platform::net
