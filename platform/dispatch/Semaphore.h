#pragma once

#include <optional>

namespace velmora::platform::dispatch {

// A counting semaphore. Under the virtual scheduler a wait runs posted work while it waits.
class Semaphore {
 public:
  virtual ~Semaphore() = default;
  virtual void signal() = 0;
  // Returns true when a signal was taken, false when timeoutSeconds ran out first.
  virtual bool wait(std::optional<double> timeoutSeconds = std::nullopt) = 0;
};

}  // namespace velmora::platform::dispatch
