#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/Queue.h"

namespace platform::net {

struct URLSessionConfiguration {
  // Where completions run. When null, each task takes the shared scheduler's global queue
  // when it is created: a concurrent queue, so a completion may itself make a blocking call.
  std::shared_ptr<dispatch::Queue> callbackQueue;
  // A bundle of trusted certificate authorities to use instead of the system's. Server
  // certificates are always verified; there is no way to turn that off.
  std::string caFile;
};

}  // namespace platform::net
